// One helper process and the channel to it, as the bridge sees them: started
// by Start, used by any number of host threads through Call, told to unload
// the driver and end by Quit. The last reference stops the event thread and
// ends a helper that still runs.
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
#include "bridge/message.h"
#include "kal_drv.h"

namespace bridge {

// Bounds of the bridge's waits; every other wait also waits on the helper's process.
constexpr uint32_t kHelperStartMs = 30000;   // a cold Wine start of a 32-bit process is slow
constexpr uint32_t kHelperQuitMs = 5000;     // the driver's unload ends its engine first
constexpr uint32_t kThreadStopMs = 2000;     // the event thread, busy in a host callback at worst
constexpr uint32_t kSlotWaitMs = 100;        // a caller waiting for a free slot looks again this often
constexpr uint32_t kDeliveryStallMs = 1000;  // Synchronize: a host callback that does not return

// The host's synth callback and the one record every event is passed in.
extern std::atomic<KalSynthCallback> HostCallback;
// The helper's performance counter when the driver sent the event the host's
// callback is being given (system-wide counter), for the bench's latency figure.
extern std::atomic<int64_t> DeliveringEventPostedAt;
// Set while the DLL is being unloaded under the loader lock (no thread can end normally).
extern std::atomic<bool> UnloadingUnderLoaderLock;

class Connection {
public:
    // Starts kal_host32.exe from `folder` and waits until it has loaded the
    // driver (or failed to). Null on failure, with `error` saying why.
    static std::shared_ptr<Connection> Start(const std::string& folder, std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends one request, waits for the answer and passes it to `use` (while the
    // slot is still held, so the answer stays put); false when the helper has
    // died or the answer was refused, and `use` is not called (the caller then
    // answers as with no engine).
    bool Call(const Request& request, const std::function<void(const Response&)>& use);
    // Waits until the host's callback has returned for `count` events, or the
    // helper has gone and its events are delivered, or a callback stalls.
    void WaitForDelivery(uint32_t count);
    bool alive() const { return !dead_.load(); }
    // Tells the helper to unload the driver and waits for it to end (bounded).
    void Quit();
    // The helper's process handle, for tests that end it.
    void* process() const { return process_; }
    // For the tests that act as a hostile bridge: sends the bytes as they are
    // (at most the slot's capacity) and copies the answer out; false when the
    // helper has died.
    bool SendRaw(const std::vector<uint8_t>& message, std::vector<uint8_t>& answer);

private:
    Connection() = default;
    void DeliverEvents();
    bool DeliverPending();
    void MarkDead();
    bool WaitSlot(uint32_t index);
    uint32_t ClaimSlot();
    void ReleaseSlot(uint32_t index);

    // Constant after Start.
    Channel* channel_ = nullptr;
    void* section_ = nullptr;
    void* process_ = nullptr;
    void* job_ = nullptr;
    void* thread_ = nullptr;
    void* bridgeProcess_ = nullptr;
    void* ready_ = nullptr;
    void* eventsPosted_ = nullptr;
    void* ringSpace_ = nullptr;
    void* request_[kSlotCount] = {};
    void* response_[kSlotCount] = {};
    void* stop_ = nullptr;      // the event thread ends
    void* parked_ = nullptr;    // the event thread has ended its work
    void* slotFreed_ = nullptr;
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
    uint32_t eventsRead_ = 0;  // the event thread's own count; the section's copy is for the helper
    std::atomic<bool> dead_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<uint32_t> slotWaiters_{0};
    // Written by the event thread; Synchronize waits on it.
    std::mutex deliveryLock_;
    std::condition_variable delivered_;
    uint32_t deliveredCount_ = 0;     // guarded by deliveryLock_
    bool deliveryEnded_ = false;      // guarded by deliveryLock_
};

}  // namespace bridge
