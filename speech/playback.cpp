#include <cstdio>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"
#include "speech/speech_testing.h"

// ShutdownEngine polls for idle for at most kShutdownIdleLimitMs: it may run in
// process detach, and an engine that never reports idle must not hang the host.
namespace {
SpeechTimings timings = kShippedSpeechTimings;
}  // namespace

const SpeechTimings& SpeechTimingsInUse() { return timings; }
void SpeechTestingSetTimings(const SpeechTimings& changed) { timings = changed; }

bool DriverIsBusy() {
    // Read in this order: a hand-over sets handingOver before its slot stops
    // counting as pending, and PlaybackState to Speaking before handingOver ends.
    if (QueueHandingOver()) return true;
    if (Engine.initialised && PlaybackState.load() == Speaking) return true;
    // Nothing Pending or Taken: counting would find nothing and free nothing.
    if (!QueueMayBeBusy()) return false;
    return QueueCountPendingAndFreeTaken() != 0 || QueueHandingOver();
}

void PauseOrResume() {
    if (!Engine.initialised) return;
    // The state itself follows the engine's pause and resume notifications; a
    // pause asked for and not yet noticed counts as a pause.
    const int32_t state = PlaybackState.load();
    if (state == Paused || (state == Speaking && PauseRequested.load())) {
        PauseRequested = false;
        EngineResume();
    } else if (state == Speaking) {
        PauseRequested = true;
        EnginePause();
    }
}

Outcome StopEngine() {
    if (!Engine.initialised) return Outcome::NotInitialised;
    int32_t state = PlaybackState.load();
    if (state == Paused) {
        EngineResume();
        // The resume notification may already have set Speaking.
        state = PlaybackState.load();
    }
    // The engine's answer is not needed: the polls below see whether it stopped.
    if (state == Speaking) EngineRequestStop();
    int32_t status = 0;
    for (uint32_t poll = 0; poll < kStopPolls; ++poll) {
        PlatformSleep(timings.stopPollWaitMs);
        status = EngineInstanceStatus();
        if (status == 0) break;
        LogWriteDetail(LOG_ERR, "Status nach Stop:", "%d", static_cast<int>(status));
        EngineRequestStop();
    }
    StoppedTextInFlight = true;
    PauseRequested = false;
    TextInFlight = kNoText;
    PlaybackState = Idle;
    return status == 0 ? Outcome::Ok : Outcome::StillBusyAfterStop;
}

void ShutdownEngine() {
    if (!Engine.initialised || !Engine.engineLibrary) return;
    // No text may start while the engine is being closed; one being handed over
    // on another thread is waited for.
    QueueSuspendHandOvers();
    // Its result is not needed: the idle polls below wait for the engine either way.
    (void)StopEngine();
    PlatformSleep(timings.shutdownSettleMs);
    const uint32_t started = PlatformTickCount();
    int32_t status;
    do {
        status = EngineInstanceStatus();
        PlatformSleep(kShutdownPollMs);
    } while ((PlaybackState.load() != Idle || status != 0) &&
             PlatformTickCount() - started < kShutdownIdleLimitMs);
    // From here the host hears nothing more, and no notification may still be
    // running in the driver when the engine is closed (and later freed).
    NotificationsOpenToHost(false);
    WaitForOtherNotifications(kNotificationDrainMs);
    EndEngineSession();
    QueueResumeHandOvers();
    // A text added meanwhile is taken now, as any text without a session is.
    QueueNext(HandOverBy::Host);
}

int32_t PlaybackStop() {
    LogWrite(LOG_HOST, "Cancel");
    // A text queued before the stop is dropped; one queued while it runs is
    // started when it is over (HandOversHeld), whatever notification the engine
    // sends or leaves out.
    HandOversHeld held;
    // Cleared first, so the end notification the stop brings finds nothing to start.
    QueueClear();
    // An engine still busy after every poll would drop a text handed to it: what
    // was queued meanwhile waits for the host's next call, as before.
    if (StopEngine() == Outcome::StillBusyAfterStop) held.LeaveQueuedTextsWaiting();
    if (DriverIsBusy()) LogWrite(LOG_HOST, "Hier stimmt etwas nicht!");
    return 0;
}

int32_t PlaybackPause(int32_t value) {
    LogWriteDetail(LOG_HOST, "Pause()", "%d", static_cast<int>(value));
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
            // hear the last end before this returns. A text may have started
            // meanwhile, so the busy test is made again after the wait.
            WaitForOtherNotifications(kLastEventWaitMs);
            if (!DriverIsBusy()) return 0;
            continue;
        }
        if (!(Engine.initialised && PlaybackState.load() == Speaking)) {
            QueueNext(HandOverBy::Host);  // each pass may hand over one text
        }
        PlatformSleep(timings.synchronizePollMs);
    }
}
