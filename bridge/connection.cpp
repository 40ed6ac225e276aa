#include "bridge/connection.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bridge/refusals.h"
#include "bridge/spin.h"

namespace bridge {

std::atomic<KalSynthCallback> HostCallback{nullptr};
std::atomic<int64_t> DeliveringEventPostedAt{0};

namespace {
// The thread running the host's callback, 0 when none does. Not a
// thread_local: that would give each pool thread the threads library's record
// of it (handles that outlive an unload).
std::atomic<DWORD> hostCallbackThread{0};

HANDLE H(void* handle) { return static_cast<HANDLE>(handle); }
uint32_t Value(void* handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

void CloseIf(void*& handle) {
    if (handle) CloseHandle(H(handle));
    handle = nullptr;
}

std::atomic<bool> pinned{false};

// The module holding this code stays in memory until the process ends: a
// thread of ours still runs in it.
void PinThisModule() {
    pinned.store(true);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisModule), &self);
}

// The same handle in the helper's process (0 on failure).
uint32_t DuplicateInto(HANDLE process, HANDLE handle, DWORD access, DWORD options) {
    HANDLE remote = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, process, &remote, access, FALSE, options)) return 0;
    return Value(remote);
}
}  // namespace

bool BridgePinned() { return pinned.load(); }

bool InsideHostCallback() { return hostCallbackThread.load() == GetCurrentThreadId(); }

Lane LaneOf(Op op) {
    switch (op) {
    case Op::Synchronize: return kLaneSynchronize;
    case Op::Pause:
    case Op::Stop: return kLaneControl;
    case Op::IsPlaying:
    case Op::GetParameter:
    case Op::SetSynthCallback:
    case Op::SetUriCallback:
    case Op::Info: return kLaneQuick;
    default: return kLaneGeneral;
    }
}

std::shared_ptr<Connection> Connection::Start(const std::wstring& folder, std::string& error) {
    std::shared_ptr<Connection> c(new Connection(), &Connection::Dispose);
    if (!c->CreateChannel(error) || !c->StartHelper(folder, error) || !c->HandChannelToHelper(error) ||
        !c->WaitUntilReady(error) || !c->StartEventThread(error))
        return nullptr;
    c->AskInfo();
    return c;
}

// The section and its events, none of them inheritable: a process the host
// starts meanwhile, with inheritance on, gets none of them.
bool Connection::CreateChannel(std::string& error) {
    // Unnamed and handed to the helper alone: no other process can open it.
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Channel), nullptr);
    if (section_) channel_ = static_cast<Channel*>(MapViewOfFile(H(section_), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!channel_) {
        error = "cannot create the shared section (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    eventsPosted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ringSpace_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool created = ready_ && eventsPosted_ && ringSpace_;
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        request_[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        response_[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        created = created && request_[i] && response_[i];
    }
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    parked_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    slotFreed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!created || !stop_ || !parked_ || !slotFreed_) {
        error = "cannot create the channel's events";
        return false;
    }
    Channel& ch = *channel_;
    ch.magic = kChannelMagic;
    ch.version = kChannelVersion;
    ch.size = sizeof(Channel);
    return true;
}

// Starts kal_host32.exe suspended, inheriting nothing, in the bridge's folder
// (the host's current folder may be longer than a process can start in); the
// host's folder follows on the command line, which takes any length.
bool Connection::StartHelper(const std::wstring& folder, std::string& error) {
    // The helper dies with the host: the job kills it when the host's handle closes.
    job_ = CreateJobObjectW(nullptr, nullptr);
    if (job_) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(H(job_), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    std::wstring hostFolder(GetCurrentDirectoryW(0, nullptr), L'\0');
    hostFolder.resize(GetCurrentDirectoryW(static_cast<DWORD>(hostFolder.size()), &hostFolder[0]));
    const std::wstring program = folder + L"kal_host32.exe";
    // The helper takes the section from this process by its id and the
    // section's handle value here, then drops its access to this process.
    std::wstring commandLine = L"\"" + program + L"\" " + std::to_wstring(GetCurrentProcessId()) + L" " +
                               std::to_wstring(Value(section_)) + L" " + hostFolder;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, folder.c_str(), &startup, &started)) {
        error = "cannot start kal_host32.exe (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    process_ = started.hProcess;
    helperThread_ = started.hThread;
    if (job_) AssignProcessToJobObject(H(job_), started.hProcess);  // fails inside some jobs: the helper also watches us
    return true;
}

// The channel's events go into the suspended helper, their values into the section.
bool Connection::HandChannelToHelper(std::string& error) {
    const HANDLE helper = H(process_);
    ChannelHandles& handles = channel_->handles;
    handles.bridgeProcess = DuplicateInto(helper, GetCurrentProcess(), SYNCHRONIZE, 0);
    handles.ready = DuplicateInto(helper, H(ready_), 0, DUPLICATE_SAME_ACCESS);
    handles.eventsPosted = DuplicateInto(helper, H(eventsPosted_), 0, DUPLICATE_SAME_ACCESS);
    handles.ringSpace = DuplicateInto(helper, H(ringSpace_), 0, DUPLICATE_SAME_ACCESS);
    bool handed = handles.bridgeProcess && handles.ready && handles.eventsPosted && handles.ringSpace;
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        handles.request[i] = DuplicateInto(helper, H(request_[i]), 0, DUPLICATE_SAME_ACCESS);
        handles.response[i] = DuplicateInto(helper, H(response_[i]), 0, DUPLICATE_SAME_ACCESS);
        handed = handed && handles.request[i] && handles.response[i];
    }
    if (!handed) {
        error = "cannot hand the channel to the helper (error " + std::to_string(GetLastError()) + ")";
        Abandon();
        return false;
    }
    ResumeThread(H(helperThread_));
    CloseIf(helperThread_);
    return true;
}

bool Connection::WaitUntilReady(std::string& error) {
    HANDLE waits[2] = {H(ready_), H(process_)};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kHelperStartMs);
    const uint32_t state = channel_->helperState.load();
    if (woke == WAIT_OBJECT_0 && state == kHelperReady) return true;
    error = woke == WAIT_TIMEOUT ? "the helper did not start in time"
            : state == kHelperNoDriver ? "the helper cannot load kal_drv.dll"
                                       : "the helper ended at start";
    Abandon();
    return false;
}

// The event thread is a long callback of the process's thread pool: the pool
// sets `parked_` after the callback has returned, so once it is set no code of
// this module runs on that thread any more, and the module may be unmapped
// without the thread having to end (which needs the loader lock).
bool Connection::StartEventThread(std::string& error) {
    if (TrySubmitThreadpoolCallback(&Connection::EventThread, this, nullptr)) {
        eventThreadStarted_ = true;
        return true;
    }
    error = "cannot start the event thread";
    Abandon();
    return false;
}

// kal_Info is static in the driver: asked once, answered here from then on.
void Connection::AskInfo() {
    Request request;
    request.op = Op::Info;
    Call(request, [&](const Response& response) {
        if (!response.text.present) return;
        memcpy(info_, response.text.data, response.text.size);
        info_[response.text.size] = '\0';
    });
}

void Connection::Abandon() {
    if (process_) TerminateProcess(H(process_), 1);
    dead_.store(true);
}

void __stdcall Connection::EventThread(PTP_CALLBACK_INSTANCE instance, void* self) {
    Connection* c = static_cast<Connection*>(self);
    c->threadId_.store(GetCurrentThreadId());
    CallbackMayRunLong(instance);
    try {
        c->DeliverEvents();
    } catch (...) {
        c->MarkDead();  // cannot happen: the host's callback is guarded
    }
    {
        std::lock_guard<std::mutex> guard(c->deliveryLock_);
        c->deliveryEnded_ = true;
    }
    c->delivered_.notify_all();
    // The owner gave up waiting (a host callback outlasted it): the connection
    // is ours to delete, and the module is pinned.
    if (c->handoff_.exchange(kThreadDone) == kOwnerGone) {
        delete c;
        return;
    }
    SetEventWhenCallbackReturns(instance, H(c->parked_));
}

void Connection::Dispose(Connection* c) {
    if (c->StopEventThread()) delete c;
}

// True when the event thread has ended its work (or never ran); false when it
// still runs a host callback and will delete the connection itself.
bool Connection::StopEventThread() {
    if (process_ && !dead_.load()) TerminateProcess(H(process_), 1);
    if (!eventThreadStarted_) return true;
    stopping_.store(true);
    SetEvent(H(stop_));
    if (threadId_.load() == GetCurrentThreadId()) {
        // The last reference was dropped inside the host's callback: the thread
        // deletes the connection when the callback has returned.
        handoff_.store(kOwnerGone);
        return false;
    }
    if (WaitForSingleObject(H(parked_), kThreadStopMs) != WAIT_OBJECT_0) {
        if (handoff_.exchange(kOwnerGone) == kBothHere) {
            // A host callback still runs: never kill it, never unmap its code.
            PinThisModule();
            return false;
        }
        WaitForSingleObject(H(parked_), kThreadStopMs);  // it has just finished
    }
    return true;
}

Connection::~Connection() {
    if (channel_) UnmapViewOfFile(channel_);
    // When the event thread deletes the connection, the pool sets nothing: `parked_` goes too.
    for (void** h : {&section_, &process_, &helperThread_, &job_, &ready_, &eventsPosted_, &ringSpace_,
                     &stop_, &parked_, &slotFreed_})
        CloseIf(*h);
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        CloseIf(request_[i]);
        CloseIf(response_[i]);
    }
}

void Connection::MarkDead() {
    dead_.store(true);
    SetEvent(H(slotFreed_));
}

bool Connection::WaitSlot(uint32_t index) {
    ChannelSlot& slot = channel_->slots[index];
    auto answered = [&] { return slot.state.load() == kSlotResponse; };
    if (SpinFor(answered)) return true;
    slot.clientSleeping.store(1);
    HANDLE waits[2] = {H(response_[index]), H(process_)};
    while (!answered()) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 && !answered()) {
            MarkDead();
            return false;
        }
    }
    slot.clientSleeping.store(0);
    return true;
}

// A free slot of the lane for the calling thread, or kSlotCount when the
// helper has died or none came free within kSlotClaimMs.
uint32_t Connection::ClaimSlot(Lane lane) {
    const DWORD started = GetTickCount();
    for (;;) {
        if (dead_.load()) return kSlotCount;
        for (uint32_t i = kLaneFirst[lane]; i < kLaneFirst[lane + 1]; ++i) {
            bool held = false;
            if (slotHeld_[i].compare_exchange_strong(held, true)) {
                channel_->slots[i].state.store(kSlotClaimed);
                return i;
            }
        }
        if (GetTickCount() - started >= kSlotClaimMs) {
            NoteRefusal("bridge", "call", "no slot came free in time");
            return kSlotCount;
        }
        ++slotWaiters_;
        HANDLE waits[2] = {H(slotFreed_), H(process_)};
        if (WaitForMultipleObjects(2, waits, FALSE, kSlotWaitMs) == WAIT_OBJECT_0 + 1) MarkDead();
        --slotWaiters_;
    }
}

void Connection::ReleaseSlot(uint32_t index) {
    channel_->slots[index].state.store(kSlotFree);
    slotHeld_[index].store(false);
    if (slotWaiters_.load()) SetEvent(H(slotFreed_));
}

bool Connection::SendRaw(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    const uint32_t index = ClaimSlot(kLaneGeneral);
    if (index == kSlotCount) return false;
    ChannelSlot& slot = channel_->slots[index];
    memcpy(slot.message, message.data(), message.size() < kMessageCapacity ? message.size() : kMessageCapacity);
    slot.clientSleeping.store(0);
    slot.state.store(kSlotRequest);
    if (slot.serverSleeping.load()) SetEvent(H(request_[index]));
    if (!WaitSlot(index)) return false;
    const uint32_t size = ClaimedSize(slot.message, kMessageCapacity);
    answer.assign(slot.message, slot.message + size);
    ReleaseSlot(index);
    return true;
}

bool Connection::Call(const Request& request, const std::function<void(const Response&)>& use) {
    const uint32_t index = ClaimSlot(LaneOf(request.op));
    if (index == kSlotCount) return false;
    ChannelSlot& slot = channel_->slots[index];
    if (EncodeRequest(request, slot.message, kMessageCapacity) == 0) {  // the exports keep every request within the capacity
        ReleaseSlot(index);
        return false;
    }
    slot.clientSleeping.store(0);
    slot.state.store(kSlotRequest);
    if (slot.serverSleeping.load()) SetEvent(H(request_[index]));
    if (!WaitSlot(index)) return false;
    Answer& answer = answers_[index];
    const uint32_t size = ClaimedSize(slot.message, kMessageCapacity);
    memcpy(answer.message, slot.message, size);
    const char* why = nullptr;
    const bool decoded = DecodeResponse(answer.message, size, request.op, answer.response, &why);
    if (!decoded) NoteRefusal("bridge", "answer", why);
    const bool answered = decoded && answer.response.status == kAnswered;
    if (answered) use(answer.response);
    ReleaseSlot(index);
    return answered;
}

// Delivers what the ring holds; false when the ring's counts make no sense
// (the helper is broken or hostile: it is ended).
bool Connection::DeliverPending() {
    const uint32_t written = channel_->eventsWritten.load();
    uint32_t& read = eventsRead_;
    if (written - read > kEventRingSize) {
        NoteRefusal("bridge", "events", "write count beyond the ring");
        return false;
    }
    while (read != written && !stopping_.load()) {
        const EventEntry entry = channel_->ring[read % kEventRingSize];
        channel_->eventsRead.store(++read);
        if (channel_->writerWaiting.load()) SetEvent(H(ringSpace_));
        if (entry.message != KAL_MSG_BEGIN && entry.message != KAL_MSG_END) {
            NoteRefusal("bridge", "event", "unknown message");
        } else if (KalSynthCallback callback = HostCallback.load()) {
            // A record of its own for each call, valid until it returns, as the header says.
            KalSynthEvent eventRecord{entry.message, entry.mark, entry.reserved1, entry.reserved2};
            DeliveringEventPostedAt.store(entry.postedAt);
            // The host's exception ends at this boundary, as in the driver.
            hostCallbackThread.store(GetCurrentThreadId());
            try {
                callback(&eventRecord);
            } catch (...) {
                NoteRefusal("bridge", "event", "the host's callback threw");
            }
            hostCallbackThread.store(0);
        }
        {
            std::lock_guard<std::mutex> guard(deliveryLock_);
            deliveredCount_ = read;
        }
        delivered_.notify_all();
    }
    return true;
}

void Connection::DeliverEvents() {
    HANDLE waits[3] = {H(eventsPosted_), H(stop_), H(process_)};
    auto posted = [&] { return channel_->eventsWritten.load() != eventsRead_ || stopping_.load(); };
    for (;;) {
        if (!DeliverPending()) {
            TerminateProcess(H(process_), 1);
            MarkDead();
            break;
        }
        if (stopping_.load() || dead_.load()) break;
        if (SpinFor(posted)) continue;
        channel_->readerSleeping.store(1);
        DWORD woke = WAIT_OBJECT_0;
        if (!posted()) woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        channel_->readerSleeping.store(0);
        if (woke == WAIT_OBJECT_0 + 2) {  // the helper has ended: what it sent is still delivered
            MarkDead();
            DeliverPending();
            break;
        }
    }
}

void Connection::WaitForDelivery(uint32_t count) {
    std::unique_lock<std::mutex> guard(deliveryLock_);
    for (;;) {
        if (deliveryEnded_ || static_cast<int32_t>(deliveredCount_ - count) >= 0) return;
        const uint32_t before = deliveredCount_;
        if (!delivered_.wait_for(guard, std::chrono::milliseconds(kDeliveryStallMs),
                                 [&] { return deliveryEnded_ || deliveredCount_ != before; }))
            return;  // no progress: a host callback that does not return
    }
}

int32_t Connection::Synchronize() {
    std::unique_lock<std::mutex> guard(synchronizeLock_);
    // A request already under way may have found the driver idle before this
    // caller queued its last text: only one that begins later answers for it.
    const uint64_t needed = roundsStarted_ + 1;
    while (roundsAnswered_ < needed) {
        if (roundRunning_) {
            synchronized_.wait(guard);
            continue;
        }
        roundRunning_ = true;
        const uint64_t round = ++roundsStarted_;
        guard.unlock();
        Request request;
        request.op = Op::Synchronize;
        int32_t result = 0;
        uint32_t written = 0;
        bool answered = false;
        try {
            answered = Call(request, [&](const Response& response) {
                result = response.result;
                written = response.eventsWritten;
            });
        } catch (...) {
        }
        guard.lock();
        roundRunning_ = false;
        roundsAnswered_ = round;
        roundAnswered_ = answered;
        roundResult_ = result;
        roundEventsWritten_ = written;
        synchronized_.notify_all();
    }
    const bool answered = roundAnswered_;
    const int32_t result = answered ? roundResult_ : 0;
    const uint32_t written = roundEventsWritten_;
    guard.unlock();
    // The driver has returned after its callback took the last end; the host
    // hears it on the bridge's thread.
    if (answered) WaitForDelivery(written);
    return result;
}

void Connection::Quit() {
    if (dead_.load()) return;
    Request request;
    request.op = Op::Quit;
    Call(request, [](const Response&) {});
    if (WaitForSingleObject(H(process_), kHelperQuitMs) != WAIT_OBJECT_0) TerminateProcess(H(process_), 1);
    MarkDead();
}

}  // namespace bridge
