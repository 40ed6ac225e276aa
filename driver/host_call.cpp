// The gate that serialises the host calls which change the engine session or
// read what a start-up rewrites (see driver.h). Uncontended it costs two atomic
// operations; a thread that finds it taken waits on a condition.
#include <atomic>

#include "config/config.h"
#include "driver/driver.h"
#include "driver/driver_testing.h"
#include "platform/platform.h"
#include "speech/speech.h"

namespace {
// The thread inside the gate (0: none) and how often it entered; only the owner
// changes the depth.
std::atomic<uint32_t> gateOwner{0};
int32_t gateDepth;
// Threads waiting for the gate sleep on gateFree under gateLock; they count
// themselves in gateWaiters (changed under gateLock) before they try the gate, so
// a release that sees no waiter needs no lock.
PlatformLock gateLock;
PlatformCondition gateFree;
std::atomic<int32_t> gateWaiters{0};
// kHostCallWaitMs; only HostCallTestingSetWaitMs (driver_testing.h) changes it.
uint32_t hostCallWaitMs = kHostCallWaitMs;

bool TryTake(uint32_t self) {
    uint32_t none = 0;
    return gateOwner.compare_exchange_strong(none, self);
}
}  // namespace

void HostCallTestingSetWaitMs(uint32_t limitMs) { hostCallWaitMs = limitMs; }
uint32_t HostCallTestingWaitMs() { return hostCallWaitMs; }

HostCallGate::HostCallGate() {
    const uint32_t self = PlatformCurrentThreadId();
    if (gateOwner.load() == self || TryTake(self)) {
        ++gateDepth;
        entered_ = true;
        passed_ = true;
        return;
    }
    // On the engine's notification thread (the host's callback calling back in) the
    // gate's holder may be waiting for this very notification: never wait there.
    // The calls the callback may make pass; those it must not make are refused
    // before they come here.
    if (NotificationRunningHere()) {
        passed_ = true;
        return;
    }
    {
        PlatformLockGuard guard(gateLock);
        ++gateWaiters;
        const uint32_t started = PlatformTickCount();
        for (;;) {
            if (TryTake(self)) {
                gateDepth = 1;
                entered_ = true;
                passed_ = true;
                break;
            }
            const uint32_t waited = PlatformTickCount() - started;
            // Never on unserialised: a start-up overlapping a shut-down calls the engine
            // through entry points that are being unbound. The call fails instead.
            if (waited >= hostCallWaitMs) break;
            PlatformConditionWait(&gateFree, &gateLock, hostCallWaitMs - waited);
        }
        --gateWaiters;
    }
    // gateLock is a leaf: the refusal's line is written after it.
    if (!passed_) LogWrite(LOG_ERR, "Aufruf abgewiesen: ein anderer Aufruf des Hosts haelt den Treiber zu lange");
}

HostCallGate::~HostCallGate() {
    if (!entered_ || --gateDepth != 0) return;
    gateOwner = 0;
    if (gateWaiters.load() == 0) return;
    PlatformLockGuard guard(gateLock);
    PlatformConditionWakeAll(&gateFree);
}
