// Speech output: the queue of texts, handing one text to the engine, the
// engine's notifications and the host's synth callback, playback control and
// text intake.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "config/limits.h"
#include "config/outcome.h"
#include "engine/contract.h"
#include "kal_drv.h"
#include "platform/platform.h"

// --- Playback state ---------------------------------------------------------------
enum PlaybackStates : int32_t { Idle = 0, Speaking = 1, Paused = 2 };
// PlaybackState (speech_internal.h) holds one of these.

// --- Queue ----------------------------------------------------------------------------
enum SlotState : int32_t { Free = 0, Pending = 1, Taken = 2 };
constexpr int kQueueSlots = 16;
constexpr int kTextSize = 4096;

struct QueueSlot {
    int32_t mark;
    char text[kTextSize];
    int32_t state;
};

struct SpeechQueue {
    QueueSlot slots[kQueueSlots];
    int32_t writeIndex;
    int32_t readIndex;     // 0..16; 16 after a search that found nothing
    int32_t pendingCount;  // can run above the true count after an overwrite
};

// The queue itself, its lock and the speaking mark are speech/'s own (speech_internal.h).

void QueueClear();
void QueueAdd(const char* text, int32_t mark);
// Counts the Pending slots and frees the Taken ones.
int32_t QueueCountPendingAndFreeTaken();
// Who asks for the next text: a host call (which hands over at most one text of
// its own) or the engine's notification (which goes on from text to text).
enum class HandOverBy { Host, Engine };
// Hands the next pending text to the engine when the engine is free; see queue.cpp.
void QueueNext(HandOverBy by);
// The busy test's lock-free view (QueueMayBeBusy, QueueHandingOver) is inline in
// speech_internal.h: kal_IsPlaying, the call hosts poll most, makes no inner call.

// Shut-down: no new hand-over starts and the one in progress (on another thread)
// is waited for, at most kHandOverWaitMs. QueueResumeHandOvers undoes it. They
// nest: hand-overs start again once every suspension is undone.
void QueueSuspendHandOvers();
void QueueResumeHandOvers();

// For its scope no text is handed to the engine (a stop or a voice change is
// under way); at its end the texts queued meanwhile are handed over, at once if
// the engine is idle: a stopped engine may never send the end notification
// they were waiting for.
class HandOversHeld {
public:
    HandOversHeld() { QueueSuspendHandOvers(); }
    ~HandOversHeld() {
        QueueResumeHandOvers();
        if (handOver_) QueueNext(HandOverBy::Host);
    }
    void LeaveQueuedTextsWaiting() { handOver_ = false; }
    HandOversHeld(const HandOversHeld&) = delete;
    HandOversHeld& operator=(const HandOversHeld&) = delete;

private:
    bool handOver_ = true;
};

// A thread waits at most kHandOverWaitMs for another thread's hand-over to
// finish. A hand-over is a few engine calls; this bound only matters for an
// engine that hangs in one of them.

// Hands one text to the engine: Ok when started; NotInitialised; EngineClaimed
// (not idle); EngineBusy (QueueNext gives the text back to its slot);
// StatusPollFailed; SetTextFailed; SpeakFailed.
// The text must stay unchanged until the engine is done with it. Nothing an
// engine call throws leaves it. SpeakText waits kSpeakStartWaitMs after a start;
// SpeakTextWithoutWait leaves that wait to its caller (QueueNext waits once the
// hand-over is over, so other threads need not wait for the sleep).
Outcome SpeakText(const char* text);
Outcome SpeakTextWithoutWait(const char* text);

// --- Notifications --------------------------------------------------------------------
// The host's callback; null until registered. Set by kal_SetSynthCallback on any
// host thread, read by each notification on the engine's thread.
void NotificationsSetHostCallback(KalSynthCallback callback);

int32_t ENGINE_CALL CbOutNotify(uint32_t first, uint32_t second, FILE* stream,
                                const EngineMessage* message);
// Waits, at most limitMs, until no notification is being handled on another
// thread. True when none is.
bool WaitForOtherNotifications(uint32_t limitMs);
// While closed, notifications still keep the state but never call the host.
// Opened by a successful start-up, closed by the shut-down.
void NotificationsOpenToHost(bool open);
// True on a thread that is inside CbOutNotify (the host's callback included).
bool NotificationRunningHere();

// --- Playback control ------------------------------------------------------------------
// Busy: initialised and Speaking, a hand-over in progress, or else texts pending
// (frees Taken slots as it counts).
bool DriverIsBusy();
void PauseOrResume();
// Stops speech and waits (bounded) for the engine to report idle; PlaybackState
// is Idle afterwards. Ok when the engine reported idle, StillBusyAfterStop when
// it was still busy after every poll, NotInitialised.
Outcome StopEngine();
// Stop, wait for idle (bounded), let running notifications finish (bounded),
// then unload the dictionary, close, uninitialise. Afterwards the host's callback
// is not called again until the next start-up.
void ShutdownEngine();
int32_t PlaybackStop();
int32_t PlaybackPause(int32_t value);
int32_t PlaybackIsPlaying();
int32_t PlaybackSynchronize();
// kal_Synchronize lets a running notification finish, at most kLastEventWaitMs,
// so the host has heard the last end before it returns (bounded: the host's
// callback may itself wait for this thread).

// --- Text intake --------------------------------------------------------------------------
// The code page texts are converted to: the current voice's (0, the system's,
// until a voice is selected). Set by voice selection, read by every text intake
// on any host thread.
void IntakeSetCodePage(int32_t codePage);
// Each intake call converts or copies into a buffer of its own on its stack
// (kTextSize bytes), so calls from several host threads never mix their texts.
// UTF-16 into that code page; returns the bytes written with the terminator, 0 on failure.
int32_t ConvertToCodePage(const kal_char16* text, char* out, int32_t size);
int32_t IntakeSynth(const kal_char16* text, int32_t mark);
int32_t IntakeSynthMark(const char* text, const char* marker, int32_t mark);
int32_t IntakeKey(const char* text);
int32_t IntakeChar(int32_t code);
