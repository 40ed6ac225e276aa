// One helper process and the channel to it, as the bridge sees them: started
// by Start, used by any number of host threads through Call, told to unload
// the driver and end by Quit. The last reference ends a helper that still runs
// and stops the event thread; no thread is ever terminated: when a host
// callback outlasts the bounded wait, the event thread finishes it, disposes of
// the connection itself, and the module stays in memory (pinned) for it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/channel.h"
#include "bridge/link.h"
#include "bridge/message.h"
#include "config/limits.h"
#include "kal_drv.h"

namespace bridge {

// The bridge's waits are bounded by config/limits.h; every other wait also
// waits on the helper's process. A caller waits at most kSlotClaimMs for a slot
// of its lane, then answers as with no engine: every call the driver serves is
// bounded (kal_Terminate, the longest, see its bound in include/kal_drv.h), so
// only a wedged helper makes a lane wait this long. A call other than
// kal_Synchronize (which waits for speech of any length) is answered within
// kAnswerMs, above the driver's longest call plus kHostCallWaitMs at the gate;
// a helper that has not answered by then is ended and replaced.
// kal_Synchronize, kal_Terminate and kal_Initialize from inside the host's
// callback: the header forbids them there, and they return this at once.
constexpr int32_t kForbiddenInCallback = -1;

// The host's synth callback and the one record every event is passed in.
extern std::atomic<KalSynthCallback> HostCallback;
// The helper's performance counter when the driver sent the event the host's
// callback is being given (system-wide counter), for the bench's latency figure.
extern std::atomic<int64_t> DeliveringEventPostedAt;
// True once the module has pinned itself for an event thread still in a host callback.
bool BridgePinned();
// Calls the host's synth callback with one event (the event thread only).
void DeliverToHost(int32_t message, int32_t mark, int32_t reserved1 = 0, int32_t reserved2 = 0);
// True on the bridge's event thread while it runs the host's callback.
bool InsideHostCallback();
// The lane a call travels in (see bridge/channel.h).
Lane LaneOf(Op op);

class Connection;
// What the owner of a connection hears from its event thread.
struct ConnectionHooks {
    // Each event, before the host's callback gets it.
    void (*delivering)(const EventEntry& event) = nullptr;
    // The helper has ended unasked (not by Quit or the last reference), after
    // every event it sent was delivered; the connection stays valid meanwhile.
    void (*died)(Connection& connection) = nullptr;
};

class Connection {
public:
    // Starts the helper (kal_host32.exe; natively kal_helper) from `folder` and waits until it has loaded the
    // driver (or failed to). Null on failure, with `error` saying why.
    // `folder` ends with a separator.
    // `generation` counts the helpers the owner started; `hooks` may be empty.
    static std::shared_ptr<Connection> Start(const PathText& folder, uint32_t generation,
                                             const ConnectionHooks& hooks, std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends one request, waits for the answer and passes it to `use` (while the
    // slot is still held, so the answer stays put); false when the helper has
    // died or the answer was refused, and `use` is not called (the caller then
    // answers as with no engine). `sent`, when given, says whether the request
    // reached the helper (it may have died while serving it).
    bool Call(const Request& request, const std::function<void(const Response&)>& use, bool* sent = nullptr);
    // Waits until the host's callback has returned for `count` events, or the
    // helper has gone and its events are delivered, or a callback stalls.
    void WaitForDelivery(uint32_t count);
    // kal_Synchronize: the host threads that wait share one request in the
    // Synchronize lane; each returns after a request that began after it
    // arrived has been answered, and the host's callback has heard its events.
    int32_t Synchronize();
    // The driver's identification text, asked for once at the start.
    const char* info() const { return info_; }
    bool alive() const { return !dead_.load(); }
    uint32_t generation() const { return generation_; }
    // When the helper was ready (steady clock, ms).
    uint64_t readyAt() const { return readyAt_; }
    // The ended helper's exit code; 0 while it runs.
    uint32_t exitCode() const { return link_->HelperExitCode(); }
    // Ends the helper as if it had died (the owner's recovery follows).
    void Kill();
    // Tells the helper to unload the driver and waits for it to end (bounded).
    void Quit();
    // The helper's process handle, for tests that end it.
    void* process() const { return link_->process(); }
    // For the tests that act as a hostile bridge: sends the bytes as they are
    // (at most the slot's capacity) and copies the answer out; false when the
    // helper has died.
    bool SendRaw(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);

private:
    Connection() = default;
    // The steps of Start.
    bool CreateChannel(std::string& error);
    bool WaitUntilReady(std::string& error);
    bool StartEventThread(std::string& error);
    void AskInfo();
    void Abandon();
    // The last reference: stops the event thread and deletes the connection,
    // or leaves that to the event thread when a host callback outlasts the wait.
    static void Dispose(Connection* connection);
    bool StopEventThread();
    static bool EventThread(void* self);
    void DeliverEvents();
    bool DeliverPending();
    void MarkDead();
    bool WaitSlot(uint32_t index);
    uint32_t ClaimSlot(Lane lane);
    void ReleaseSlot(uint32_t index);

    // Constant after Start.
    std::unique_ptr<ClientLink> link_;
    Channel* channel_ = nullptr;
    bool helperStarted_ = false;
    uint32_t generation_ = 0;
    uint64_t readyAt_ = 0;
    ConnectionHooks hooks_;
    bool eventThreadStarted_ = false;
    std::atomic<uint64_t> threadId_{0};  // the thread that runs the event thread
    // Private copies of the answers, one per slot, used by the slot's holder only.
    struct Answer {
        uint8_t message[kMessageCapacity];
        Response response;
    };
    std::unique_ptr<Answer[]> answers_{new Answer[kSlotCount]};

    // Which slots this process's callers hold: kept here, not only in the
    // section, so that a peer writing the slots' states cannot hand one slot
    // to two callers.
    std::atomic<bool> slotHeld_[kSlotCount] = {};
    char info_[kInfoTextLimit + 1] = {};
    // Who is left with the connection when the event thread's stop outlasts its
    // wait: the first of the two to arrive leaves the deleting to the other.
    enum Handoff : uint32_t { kBothHere = 0, kThreadDone, kOwnerGone };
    std::atomic<uint32_t> handoff_{kBothHere};
    uint32_t eventsRead_ = 0;  // the event thread's own count; the section's copy is for the helper
    std::atomic<bool> dead_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> quitting_{false};  // Quit asked the helper to end: not a death
    std::atomic<uint32_t> slotWaiters_{0};
    // Synchronize's shared requests.
    std::mutex synchronizeLock_;
    std::condition_variable synchronized_;
    uint64_t roundsStarted_ = 0;    // guarded by synchronizeLock_
    uint64_t roundsAnswered_ = 0;   // guarded by synchronizeLock_
    bool roundRunning_ = false;     // guarded by synchronizeLock_
    bool roundAnswered_ = false;    // the last round's request was answered; guarded
    int32_t roundResult_ = 0;       // guarded by synchronizeLock_
    uint32_t roundEventsWritten_ = 0;  // guarded by synchronizeLock_
    // Written by the event thread; Synchronize waits on it.
    std::mutex deliveryLock_;
    std::condition_variable delivered_;
    uint32_t deliveredCount_ = 0;     // guarded by deliveryLock_
    bool deliveryEnded_ = false;      // guarded by deliveryLock_
};

}  // namespace bridge
