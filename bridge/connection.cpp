#include "bridge/connection.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bridge/refusals.h"
#include "bridge/spin.h"

namespace bridge {

std::atomic<KalSynthCallback> HostCallback{nullptr};
std::atomic<bool> UnloadingUnderLoaderLock{false};
std::atomic<int64_t> DeliveringEventPostedAt{0};

namespace {
KalSynthEvent eventRecord;  // rewritten by every event, as the driver does in-process

HANDLE H(void* handle) { return static_cast<HANDLE>(handle); }
uint32_t Value(void* handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

HANDLE InheritableEvent(bool manualReset) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateEventW(&inherit, manualReset, FALSE, nullptr);
}

void CloseIf(void*& handle) {
    if (handle) CloseHandle(H(handle));
    handle = nullptr;
}
}  // namespace

std::shared_ptr<Connection> Connection::Start(const std::string& folder, std::string& error) {
    std::shared_ptr<Connection> c(new Connection());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // Unnamed and reachable only through inherited handles: no other process can open it.
    c->section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, sizeof(Channel), nullptr);
    if (c->section_) c->channel_ = static_cast<Channel*>(MapViewOfFile(H(c->section_), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!c->channel_) {
        error = "cannot create the shared section (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
    c->bridgeProcess_ = self;
    c->ready_ = InheritableEvent(false);
    c->eventsPosted_ = InheritableEvent(false);
    c->ringSpace_ = InheritableEvent(false);
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        c->request_[i] = InheritableEvent(false);
        c->response_[i] = InheritableEvent(false);
    }
    c->stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    c->parked_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    c->slotFreed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    Channel& ch = *c->channel_;
    ch.magic = kChannelMagic;
    ch.version = kChannelVersion;
    ch.size = sizeof(Channel);
    ch.handles.bridgeProcess = Value(c->bridgeProcess_);
    ch.handles.ready = Value(c->ready_);
    ch.handles.eventsPosted = Value(c->eventsPosted_);
    ch.handles.ringSpace = Value(c->ringSpace_);
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        ch.handles.request[i] = Value(c->request_[i]);
        ch.handles.response[i] = Value(c->response_[i]);
    }
    std::vector<HANDLE> inherited = {H(c->section_), H(c->bridgeProcess_), H(c->ready_), H(c->eventsPosted_),
                                     H(c->ringSpace_)};
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        inherited.push_back(H(c->request_[i]));
        inherited.push_back(H(c->response_[i]));
    }
    for (HANDLE h : inherited)
        if (!h) {
            error = "cannot create the channel's events";
            return nullptr;
        }

    // The helper dies with the host: the job kills it when the host's handle closes.
    c->job_ = CreateJobObjectW(nullptr, nullptr);
    if (c->job_) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(H(c->job_), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    std::string program = folder + "kal_host32.exe";
    std::string commandLine = "\"" + program + "\" " + std::to_string(Value(c->section_));
    // Only the channel's handles go to the helper, not whatever else the host made inheritable.
    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<uint8_t> attributeStorage(attributeSize);
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
    if (InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
        startup.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION started{};
    // The host's current folder, as the driver sees it in-process.
    BOOL created = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &startup.StartupInfo, &started);
    const DWORD createError = GetLastError();
    if (startup.lpAttributeList) DeleteProcThreadAttributeList(attributes);
    // Nobody else the host starts may inherit the channel.
    for (HANDLE h : inherited) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    if (!created) {
        error = "cannot start " + program + " (error " + std::to_string(createError) + ")";
        return nullptr;
    }
    c->process_ = started.hProcess;
    if (c->job_) AssignProcessToJobObject(H(c->job_), started.hProcess);  // fails inside some jobs: the helper also watches us
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);

    HANDLE waits[2] = {H(c->ready_), H(c->process_)};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kHelperStartMs);
    if (woke != WAIT_OBJECT_0 || ch.helperState.load() != kHelperReady) {
        error = woke == WAIT_TIMEOUT ? "the helper did not start in time"
                : ch.helperState.load() == kHelperNoDriver ? "the helper cannot load kal_drv.dll"
                                                            : "the helper ended at start";
        TerminateProcess(H(c->process_), 1);
        c->dead_.store(true);
        return nullptr;
    }
    DWORD threadId;
    c->thread_ = CreateThread(nullptr, 0, [](LPVOID self) -> DWORD {
        static_cast<Connection*>(self)->DeliverEvents();
        return 0;
    }, c.get(), 0, &threadId);
    if (!c->thread_) {
        error = "cannot start the event thread";
        TerminateProcess(H(c->process_), 1);
        c->dead_.store(true);
        return nullptr;
    }
    return c;
}

Connection::~Connection() {
    if (process_ && !dead_.load()) TerminateProcess(H(process_), 1);
    if (thread_) {
        stopping_.store(true);
        SetEvent(H(stop_));
        WaitForSingleObject(H(parked_), kThreadStopMs);
        // Under the loader lock the thread cannot end by itself (ending takes that
        // lock): it has finished its work, so it is ended where it stands.
        if (UnloadingUnderLoaderLock.load() || WaitForSingleObject(H(thread_), kThreadStopMs) != WAIT_OBJECT_0)
            TerminateThread(H(thread_), 0);
        WaitForSingleObject(H(thread_), kThreadStopMs);
    }
    if (channel_) UnmapViewOfFile(channel_);
    for (void** h : {&section_, &process_, &job_, &thread_, &bridgeProcess_, &ready_, &eventsPosted_, &ringSpace_,
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

// A free slot for the calling thread, or kSlotCount when the helper has died.
uint32_t Connection::ClaimSlot() {
    for (;;) {
        if (dead_.load()) return kSlotCount;
        for (uint32_t i = 0; i < kSlotCount; ++i) {
            bool held = false;
            if (slotHeld_[i].compare_exchange_strong(held, true)) {
                channel_->slots[i].state.store(kSlotClaimed);
                return i;
            }
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
    const uint32_t index = ClaimSlot();
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
    const uint32_t index = ClaimSlot();
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
    while (read != written) {
        const EventEntry entry = channel_->ring[read % kEventRingSize];
        channel_->eventsRead.store(++read);
        if (channel_->writerWaiting.load()) SetEvent(H(ringSpace_));
        if (entry.message != KAL_MSG_BEGIN && entry.message != KAL_MSG_END) {
            NoteRefusal("bridge", "event", "unknown message");
        } else if (KalSynthCallback callback = HostCallback.load()) {
            eventRecord = KalSynthEvent{entry.message, entry.mark, entry.reserved1, entry.reserved2};
            DeliveringEventPostedAt.store(entry.postedAt);
            callback(&eventRecord);
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
    {
        std::lock_guard<std::mutex> guard(deliveryLock_);
        deliveryEnded_ = true;
    }
    delivered_.notify_all();
    SetEvent(H(parked_));
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

void Connection::Quit() {
    if (dead_.load()) return;
    Request request;
    request.op = Op::Quit;
    Call(request, [](const Response&) {});
    if (WaitForSingleObject(H(process_), kHelperQuitMs) != WAIT_OBJECT_0) TerminateProcess(H(process_), 1);
    MarkDead();
}

}  // namespace bridge
