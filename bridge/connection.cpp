#include "bridge/connection.h"

#include <chrono>
#include <cstdio>
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
std::atomic<uint64_t> hostCallbackThread{0};

std::atomic<bool> pinned{false};

uint64_t MsSince(std::chrono::steady_clock::time_point started) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
}
}  // namespace

bool BridgePinned() { return pinned.load(); }

void DeliverToHost(int32_t message, int32_t mark, int32_t reserved1, int32_t reserved2) {
    KalSynthCallback callback = HostCallback.load();
    if (!callback) return;
    // A record of its own for each call, valid until it returns, as the header says.
    KalSynthEvent eventRecord{message, mark, reserved1, reserved2};
    // The host's exception ends at this boundary, as in the driver.
    hostCallbackThread.store(CurrentThreadId());
    try {
        callback(&eventRecord);
    } catch (...) {
        NoteRefusal("bridge", "event", "the host's callback threw");
    }
    hostCallbackThread.store(0);
}

bool InsideHostCallback() { return hostCallbackThread.load() == CurrentThreadId(); }

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

uint64_t SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

std::shared_ptr<Connection> Connection::Start(const PathText& folder, uint32_t generation,
                                              const ConnectionHooks& hooks, std::string& error) {
    std::shared_ptr<Connection> c(new Connection(), &Connection::Dispose);
    c->generation_ = generation;
    c->hooks_ = hooks;
    if (!c->CreateChannel(error)) return nullptr;
    c->channel_->generation = generation;
    if (!c->link_->StartHelper(folder, error)) {
        c->Abandon();
        return nullptr;
    }
    c->helperStarted_ = true;
    if (!c->WaitUntilReady(error)) return nullptr;
    c->readyAt_ = SteadyMs();
    if (!c->StartEventThread(error)) return nullptr;
    c->AskInfo();
    return c;
}

bool Connection::CreateChannel(std::string& error) {
    link_ = ClientLink::Create(error);
    if (!link_) return false;
    channel_ = link_->channel();
    Channel& ch = *channel_;
    ch.magic = kChannelMagic;
    ch.version = kChannelVersion;
    ch.size = sizeof(Channel);
    return true;
}

bool Connection::WaitUntilReady(std::string& error) {
    const Woke woke = link_->Wait(kWakeReady, kHelperStartMs);
    const uint32_t state = channel_->helperState.load();
    if (woke == Woke::Signalled && state == kHelperReady) return true;
    error = woke == Woke::Timeout ? "the helper did not start in time"
            : state == kHelperNoDriver ? "the helper cannot load the driver beside it"
                                       : "the helper ended at start";
    Abandon();
    if (woke != Woke::Timeout && state != kHelperNoDriver) {
        link_->WaitHelperEnd(kHelperQuitMs);
        char code[32];
        snprintf(code, sizeof code, " (code %X)", static_cast<unsigned>(link_->HelperExitCode()));
        error += code;
    }
    return false;
}

bool Connection::StartEventThread(std::string& error) {
    if (link_->StartEventThread(&Connection::EventThread, this)) {
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

void Connection::Kill() { link_->KillHelper(); }

void Connection::Abandon() {
    link_->KillHelper();
    dead_.store(true);
}

bool Connection::EventThread(void* self) {
    Connection* c = static_cast<Connection*>(self);
    c->threadId_.store(CurrentThreadId());
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
        return false;
    }
    return true;
}

void Connection::Dispose(Connection* c) {
    if (c->StopEventThread()) delete c;
}

// True when the event thread has ended its work (or never ran); false when it
// still runs a host callback and will delete the connection itself.
bool Connection::StopEventThread() {
    stopping_.store(true);  // first: the helper's end below is no death to recover from
    if (link_ && !dead_.load()) link_->KillHelper();
    if (!eventThreadStarted_) return true;
    link_->Signal(kWakeEventsPosted);  // the reader looks at `stopping_` when woken
    if (threadId_.load() == CurrentThreadId()) {
        // The last reference was dropped inside the host's callback (FreeLibrary
        // there, most likely): the thread deletes the connection when the
        // callback has returned, and returns through this module's code.
        handoff_.store(kOwnerGone);
        pinned.store(true);
        PinThisModule();
        return false;
    }
    if (!link_->WaitParked(kThreadStopMs)) {
        if (handoff_.exchange(kOwnerGone) == kBothHere) {
            // A host callback still runs: never kill it, never unmap its code.
            pinned.store(true);
            PinThisModule();
            return false;
        }
        link_->WaitParked(kThreadStopMs);  // it has just finished
    }
    return true;
}

Connection::~Connection() = default;

void Connection::MarkDead() {
    dead_.store(true);
    link_->Signal(kWakeSlotFreed);
}

bool Connection::WaitSlot(uint32_t index) {
    ChannelSlot& slot = channel_->slots[index];
    auto answered = [&] { return slot.state.load() == kSlotResponse; };
    if (SpinFor(answered)) return true;
    slot.clientSleeping.store(1);
    // kal_Synchronize waits as long as speech lasts; the helper's watchdog
    // bounds what it waits for there.
    const bool bounded = index < kLaneFirst[kLaneSynchronize] || index >= kLaneFirst[kLaneSynchronize + 1];
    const auto started = std::chrono::steady_clock::now();
    while (!answered()) {
        const uint64_t waited = MsSince(started);
        const uint32_t left = !bounded ? kUntilPeerGone : waited >= kAnswerMs ? 0 : static_cast<uint32_t>(kAnswerMs - waited);
        const Woke woke = left == 0 ? Woke::Timeout : link_->Wait(kWakeResponse + index, left);
        if (woke == Woke::Timeout && !answered()) {
            NoteProtocol("Sprachausgabe-Prozess antwortet nicht: wird beendet");
            link_->KillHelper();
            link_->WaitHelperEnd(kHelperQuitMs);
            MarkDead();
            return false;
        }
        if (woke == Woke::PeerGone && !answered()) {
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
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (dead_.load()) return kSlotCount;
        for (uint32_t i = kLaneFirst[lane]; i < kLaneFirst[lane + 1]; ++i) {
            bool held = false;
            if (slotHeld_[i].compare_exchange_strong(held, true)) {
                channel_->slots[i].state.store(kSlotClaimed);
                return i;
            }
        }
        if (MsSince(started) >= kSlotClaimMs) {
            NoteRefusal("bridge", "call", "no slot came free in time");
            return kSlotCount;
        }
        ++slotWaiters_;
        if (link_->Wait(kWakeSlotFreed, kSlotWaitMs) == Woke::PeerGone) MarkDead();
        --slotWaiters_;
    }
}

void Connection::ReleaseSlot(uint32_t index) {
    channel_->slots[index].state.store(kSlotFree);
    slotHeld_[index].store(false);
    if (slotWaiters_.load()) link_->Signal(kWakeSlotFreed);
}

bool Connection::SendRaw(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
    const uint32_t index = ClaimSlot(kLaneGeneral);
    if (index == kSlotCount) return false;
    ChannelSlot& slot = channel_->slots[index];
    memcpy(slot.message, message.data(), message.size() < kMessageCapacity ? message.size() : kMessageCapacity);
    slot.clientSleeping.store(0);
    slot.state.store(kSlotRequest);
    if (slot.serverSleeping.load()) link_->Signal(kWakeRequest + index);
    if (!WaitSlot(index)) return false;
    const uint32_t size = ClaimedSize(slot.message, kMessageCapacity);
    answer.assign(slot.message, slot.message + size);
    ReleaseSlot(index);
    return true;
}

bool Connection::Call(const Request& request, const std::function<void(const Response&)>& use, bool* sent) {
    if (sent) *sent = false;
    const uint32_t index = ClaimSlot(LaneOf(request.op));
    if (index == kSlotCount) return false;
    ChannelSlot& slot = channel_->slots[index];
    if (EncodeRequest(request, slot.message, kMessageCapacity) == 0) {  // the exports keep every request within the capacity
        ReleaseSlot(index);
        return false;
    }
    slot.clientSleeping.store(0);
    slot.state.store(kSlotRequest);
    if (sent) *sent = true;
    if (slot.serverSleeping.load()) link_->Signal(kWakeRequest + index);
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
        if (channel_->writerWaiting.load()) link_->Signal(kWakeRingSpace);
        if (entry.message != KAL_MSG_BEGIN && entry.message != KAL_MSG_END) {
            NoteRefusal("bridge", "event", "unknown message");
        } else {
            if (hooks_.delivering) hooks_.delivering(entry);
            DeliveringEventPostedAt.store(entry.postedAt);
            DeliverToHost(entry.message, entry.mark, entry.reserved1, entry.reserved2);
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
    auto posted = [&] { return channel_->eventsWritten.load() != eventsRead_ || stopping_.load(); };
    for (;;) {
        if (!DeliverPending()) {
            link_->KillHelper();
            link_->WaitHelperEnd(kHelperQuitMs);
            MarkDead();
            break;
        }
        if (stopping_.load() || dead_.load()) break;
        if (SpinFor(posted)) continue;
        channel_->readerSleeping.store(1);
        Woke woke = Woke::Signalled;
        if (!posted()) woke = link_->Wait(kWakeEventsPosted, kUntilPeerGone);
        channel_->readerSleeping.store(0);
        if (woke == Woke::PeerGone) {  // the helper has ended: what it sent is still delivered
            MarkDead();
            DeliverPending();
            break;
        }
    }
    // Ended unasked: the owner recovers on this thread, which has nothing else to do.
    if (hooks_.died && !stopping_.load() && !quitting_.load()) hooks_.died(*this);
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
    quitting_.store(true);
    if (dead_.load()) return;
    Request request;
    request.op = Op::Quit;
    Call(request, [](const Response&) {});
    if (!link_->WaitHelperEnd(kHelperQuitMs)) link_->KillHelper();
    MarkDead();
}

}  // namespace bridge
