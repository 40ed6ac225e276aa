// speech/'s state that several of its files share. Only speech/ and its tests
// (through speech_testing.h) include this header; other folders reach the state
// through the operations of speech.h.
#pragma once
#include <atomic>
#include <cstdint>

#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"

// Idle, Speaking or Paused. Written by SpeakText, CbOutNotify (engine thread)
// and StopEngine; polled by the waits of the host's calls. Atomic so every poll
// sees the latest value.
extern std::atomic<int32_t> PlaybackState;
// Set by StopEngine, cleared when the next text claims the engine. A begin or
// pause notification arriving meanwhile was on its way before the stop: it
// belongs to the stopped text and may not turn the driver Speaking or Paused,
// or a text queued next would wait for an end that never comes.
extern std::atomic<bool> StoppedTextInFlight;
// Where the text handed over last stands: claimed, begun (its begin came), or
// none (ended, stopped, or never started). An end that comes before its text's
// begin belongs to the text before (an engine that sends one end too many, a
// stopped text's late end): it leaves the driver as it is. Written by the claim
// (SpeakTextWithoutWait), CbOutNotify and StopEngine.
enum : int32_t { kNoText = 0, kTextClaimed = 1, kTextBegun = 2 };
extern std::atomic<int32_t> TextInFlight;
// Set by a kal_Pause that asked the engine to pause, until the engine's pause
// notice turns the driver Paused or the text is over: a second kal_Pause made
// before that notice resumes instead of pausing again (the toggle of a key).
extern std::atomic<bool> PauseRequested;

// guarded by QueueLock: the ring (Queue), speakingMark, the hand-over state
// (queue.cpp) and the latest event record (notify.cpp). Taken on the host's
// threads and on the engine's notification thread; never held while the engine
// or the host is called.
extern PlatformLock QueueLock;
extern int32_t speakingMark;

// Written under QueueLock by queue.cpp, read without it by the busy test: slots
// that are Pending or Taken, and whether a hand-over is in progress.
extern std::atomic<int32_t> SlotsInUse;
extern std::atomic<bool> HandingOver;
// Lock-free view for the busy test: true when a slot is Pending or Taken, or a
// text is being handed over (all would need QueueCountPendingAndFreeTaken to settle).
inline bool QueueMayBeBusy() { return HandingOver.load() || SlotsInUse.load() != 0; }
inline bool QueueHandingOver() { return HandingOver.load(); }

// The waits speech/ spends on its own: after a start, before each of a stop's
// status polls, before a shut-down's polls, and between kal_Synchronize's passes.
struct SpeechTimings {
    uint32_t speakStartWaitMs;
    uint32_t stopPollWaitMs;
    uint32_t shutdownSettleMs;
    uint32_t synchronizePollMs;
};
// The shipped values; only SpeechTestingSetTimings (speech_testing.h) changes them.
constexpr SpeechTimings kShippedSpeechTimings{kSpeakStartWaitMs, kStopPollMs, kShutdownSettleMs,
                                                kSynchronizePassMs};
const SpeechTimings& SpeechTimingsInUse();
