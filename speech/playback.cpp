#include <cstdio>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"

uint32_t SynchronizePollMs = 100;

bool DriverIsBusy() {
    if (Engine.initialised && PlaybackState.load() == kSpeaking) return true;
    return QueueCountPending() != 0;
}

void PauseOrResume() {
    if (!Engine.initialised) return;
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    // The state itself follows the engine's pause and resume notifications.
    const int32_t state = PlaybackState.load();
    if (state == kSpeaking)
        Engine.api.pause(i0, i1);
    else if (state == kPaused)
        Engine.api.resume(i0, i1);
}

int32_t PlaybackStop() {
    LogWrite(LOG_HOST, "Cancel");
    // Cleared first, so the end notification the stop brings finds nothing to start.
    QueueClear();
    StopEngine();
    if (DriverIsBusy()) LogWrite(LOG_HOST, "Hier stimmt etwas nicht!");
    return 0;
}

int32_t PlaybackPause(int32_t value) {
    char detail[256];
    snprintf(detail, sizeof detail, "%d", static_cast<int>(value));
    LogWrite(LOG_HOST, "Pause()", detail);
    PauseOrResume();
    return 0;
}

int32_t PlaybackIsPlaying() {
    LogWrite(LOG_HOST, "IsPlaying");
    return DriverIsBusy() ? 1 : 0;
}

int32_t PlaybackSynchronize() {
    LogWrite(LOG_HOST, "Synchronize");
    for (;;) {
        if (!DriverIsBusy()) {
            // The end notification turns Idle before it calls the host: let the host
            // hear the last end before this returns (bounded, in case the host's
            // callback itself waits for this thread).
            WaitForOtherNotifications(1000);
            return 0;
        }
        if (!(Engine.initialised && PlaybackState.load() == kSpeaking)) QueueNext();
        PlatformSleep(SynchronizePollMs);
    }
}
