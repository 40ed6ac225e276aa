// speech/'s state that several of its files share. Only speech/ and its tests
// (through speech_testing.h) include this header; other folders reach the state
// through the operations of speech.h.
#pragma once
#include <atomic>
#include <cstdint>

#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"

// kIdle, kSpeaking or kPaused. Written by SpeakText, CbOutNotify (engine thread)
// and StopEngine; polled by the waits of the host's calls. Atomic so every poll
// sees the latest value.
extern std::atomic<int32_t> PlaybackState;
// Set by StopEngine, cleared when the next text claims the engine. A begin or
// pause notification arriving meanwhile was on its way before the stop: it
// belongs to the stopped text and may not turn the driver Speaking or Paused,
// or a text queued next would wait for an end that never comes.
extern std::atomic<bool> StoppedTextInFlight;

// guarded by QueueLock: the ring (Queue), speakingMark, the hand-over state
// (queue.cpp) and the latest event record (notify.cpp). Taken on the host's
// threads and on the engine's notification thread; never held while the engine
// or the host is called.
extern PlatformLock QueueLock;
extern int32_t speakingMark;

// The waits speech/ spends on its own: after a start, before each of a stop's
// status polls, before a shut-down's polls, and between kal_Synchronize's passes.
struct SpeechTimings {
    uint32_t speakStartWaitMs;
    uint32_t stopPollWaitMs;
    uint32_t shutdownSettleMs;
    uint32_t synchronizePollMs;
};
// The shipped values; only SpeechTestingSetTimings (speech_testing.h) changes them.
constexpr SpeechTimings kShippedSpeechTimings{kSpeakStartWaitMs, 50, 100, kSynchronizePassMs};
const SpeechTimings& SpeechTimingsInUse();
