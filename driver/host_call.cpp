// The gate that serialises the host calls which change the engine session or
// read what a start-up rewrites (see driver.h). Uncontended it costs two atomic
// operations and a load; a thread that finds it taken joins the waiters' line
// and is handed the gate when its turn comes, so no later caller passes first.
#include <atomic>

#include "config/config.h"
#include "driver/driver.h"
#include "driver/driver_testing.h"
#include "platform/platform.h"
#include "speech/speech.h"

namespace {
// A caller waiting for the gate; lives on its own stack while it waits.
struct GateWaiter {
    uint32_t thread;
    bool stop;
    bool granted;  // the gate was handed to it: gateOwner is its thread
    GateWaiter* next;
};

// The thread inside the gate (0: none) and how often it entered; only the owner
// changes the depth.
std::atomic<uint32_t> gateOwner{0};
int32_t gateDepth;
// guarded by gateLock: the line of waiters, stops first, each group in arrival
// order. gateWaiters counts them (changed under gateLock, read without it), so a
// release that sees none needs no lock and a newcomer that sees some joins the line.
PlatformLock gateLock;
PlatformCondition gateFree;
GateWaiter* firstWaiter;
std::atomic<int32_t> gateWaiters{0};
// kHostCallWaitMs; only HostCallTestingSetWaitMs (driver_testing.h) changes it.
uint32_t hostCallWaitMs = kHostCallWaitMs;

bool TryTake(uint32_t self) {
    uint32_t none = 0;
    return gateOwner.compare_exchange_strong(none, self);
}

void JoinLine(GateWaiter* waiter) {
    GateWaiter** at = &firstWaiter;
    if (waiter->stop) {
        while (*at && (*at)->stop) at = &(*at)->next;
    } else {
        while (*at) at = &(*at)->next;
    }
    waiter->next = *at;
    *at = waiter;
    ++gateWaiters;
}

void LeaveLine(GateWaiter* waiter) {
    for (GateWaiter** at = &firstWaiter; *at; at = &(*at)->next) {
        if (*at == waiter) {
            *at = waiter->next;
            --gateWaiters;
            return;
        }
    }
}

// gateLock held: a free gate goes to the first waiter.
void HandToFirstWaiter() {
    GateWaiter* first = firstWaiter;
    if (!first || !TryTake(first->thread)) return;
    first->granted = true;
    LeaveLine(first);
    PlatformConditionWakeAll(&gateFree);
}

// gateLock held: a holder whose thread has ended will never leave; the gate is
// taken from it. True when that happened.
bool FreeFromVanishedOwner() {
    uint32_t owner = gateOwner.load();
    if (owner == 0 || PlatformThreadExists(owner)) return false;
    if (!gateOwner.compare_exchange_strong(owner, 0)) return false;
    HandToFirstWaiter();
    return true;
}
}  // namespace

void HostCallTestingSetWaitMs(uint32_t limitMs) { hostCallWaitMs = limitMs; }
uint32_t HostCallTestingWaitMs() { return hostCallWaitMs; }

HostCallGate::HostCallGate(GateCall call) {
    const uint32_t self = PlatformCurrentThreadId();
    if (gateOwner.load() == self || (gateWaiters.load() == 0 && TryTake(self))) {
        ++gateDepth;
        entered_ = true;
        passed_ = true;
        return;
    }
    // On the engine's notification thread (the host's callback calling back in) the
    // gate's holder may be waiting for this very notification: never wait there.
    if (NotificationRunningHere()) {
        if (call != GateCall::Serialised) {
            passed_ = true;
            return;
        }
        LogWrite(LOG_ERR, "Aufruf im Callback abgewiesen: ein anderer Aufruf des Hosts laeuft");
        return;
    }
    bool vanished = false;
    {
        PlatformLockGuard guard(gateLock);
        GateWaiter waiter{self, call == GateCall::Stop, false, nullptr};
        JoinLine(&waiter);
        HandToFirstWaiter();  // the holder may have left before this thread joined the line
        const uint32_t started = PlatformTickCount();
        for (;;) {
            if (waiter.granted) {
                gateDepth = 1;
                entered_ = true;
                passed_ = true;
                break;
            }
            const uint32_t waited = PlatformTickCount() - started;
            // Never on unserialised: a start-up overlapping a shut-down calls the engine
            // through entry points that are being unbound. The call fails instead.
            if (waited >= hostCallWaitMs) {
                LeaveLine(&waiter);
                break;
            }
            const uint32_t left = hostCallWaitMs - waited;
            PlatformConditionWait(&gateFree, &gateLock, left < kGateOwnerCheckMs ? left : kGateOwnerCheckMs);
            if (!waiter.granted && FreeFromVanishedOwner()) vanished = true;
        }
    }
    // gateLock is a leaf: the lines are written after it.
    if (vanished) LogWrite(LOG_ERR, "Aufruf des Hosts beendet, ohne den Treiber freizugeben: Sperre aufgehoben");
    if (!passed_) LogWrite(LOG_ERR, "Aufruf abgewiesen: ein anderer Aufruf des Hosts haelt den Treiber zu lange");
}

HostCallGate::~HostCallGate() {
    if (!entered_ || --gateDepth != 0) return;
    gateOwner = 0;
    if (gateWaiters.load() == 0) return;
    PlatformLockGuard guard(gateLock);
    HandToFirstWaiter();
}
