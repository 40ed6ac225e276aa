// The gate that serialises the host calls which change the engine session or
// read what a start-up rewrites (see driver.h).
#include "driver/driver.h"
#include "platform/platform.h"
#include "speech/speech.h"

namespace {
// guarded by gateLock: the thread inside the gate (0: none) and how often it entered.
PlatformLock gateLock;
PlatformCondition gateFree;
uint32_t gateOwner;
int32_t gateDepth;
}  // namespace

HostCallGate::HostCallGate() {
    const uint32_t self = PlatformCurrentThreadId();
    PlatformLockGuard guard(gateLock);
    if (gateOwner == self) {
        ++gateDepth;
        entered_ = true;
        return;
    }
    // On the engine's notification thread (the host's callback calling back in) the
    // gate's holder may be waiting for this very notification: never wait there.
    const uint32_t limit = NotificationRunningHere() ? 0 : kHostCallWaitMs;
    const uint32_t started = PlatformTickCount();
    while (gateOwner != 0) {
        const uint32_t waited = PlatformTickCount() - started;
        if (waited >= limit) return;  // go on unserialised rather than hold the host
        PlatformConditionWait(&gateFree, &gateLock, limit - waited);
    }
    gateOwner = self;
    gateDepth = 1;
    entered_ = true;
}

HostCallGate::~HostCallGate() {
    if (!entered_) return;
    PlatformLockGuard guard(gateLock);
    if (--gateDepth == 0) {
        gateOwner = 0;
        PlatformConditionWakeAll(&gateFree);
    }
}
