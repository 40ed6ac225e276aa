// Speech output: the queue of texts, handing one text to the engine, the
// engine's notifications and the host's synth callback, playback control and
// text intake.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "engine/contract.h"
#include "kal_drv.h"
#include "platform/platform.h"

// --- Playback state ---------------------------------------------------------------
enum : int32_t { kIdle = 0, kSpeaking = 1, kPaused = 2 };
// Written by SpeakText, CbOutNotify (engine thread) and StopEngine; polled by the
// waits of the host's calls. Atomic so every poll sees the latest value.
extern std::atomic<int32_t> PlaybackState;

// --- Queue ----------------------------------------------------------------------------
enum SlotState : int32_t { Free = 0, Pending = 1, Taken = 2 };
constexpr int kQueueSlots = 16;
constexpr int kTextSize = 4096;

struct QueueSlot {
    int32_t mark;
    char text[kTextSize];  // the engine reads a Taken slot's text while it speaks
    int32_t state;
};

struct SpeechQueue {
    QueueSlot slots[kQueueSlots];
    int32_t writeIndex;
    int32_t readIndex;     // 0..16; 16 after a search that found nothing
    int32_t pendingCount;  // can run above the true count after an overwrite
};

// guarded by QueueLock: Queue, speakingMark, and the hand-over state. Taken on
// the host's threads and on the engine's notification thread; never held while
// the engine or the host is called.
extern PlatformLock QueueLock;
extern SpeechQueue Queue;
extern int32_t speakingMark;

void QueueClear();
void QueueAdd(const char* text, int32_t mark);
int32_t QueueCountPending();
void QueueNext();

// Hands one text to the engine: 0 started; -10 not initialised; -2 engine
// claimed already; -1 engine busy; -3 set text failed; -4 speak failed.
int32_t SpeakText(const char* text);
// How long SpeakText waits after a successful start (50 ms); the stress tests shorten it.
extern uint32_t SpeakStartWaitMs;

// --- Notifications --------------------------------------------------------------------
// The one event record handed to the host; rewritten by every notification.
extern KalSynthEvent SynthEventRecord;
// The host's callback; null until registered. Written by the host, read on the engine thread.
extern std::atomic<KalSynthCallback> SynthCallback;
// The driver's output-buffer pointer: null from load on; nothing changes it.
extern void* OutputBuffer;

int32_t ENGINE_CALL CbOutNotify(uint32_t first, uint32_t second, FILE* stream,
                                const EngineMessage* message);
// Waits, at most limitMs, until no notification is being handled on another thread.
void WaitForOtherNotifications(uint32_t limitMs);

// --- Playback control ------------------------------------------------------------------
// Busy: initialised and Speaking, or else texts pending (frees Taken slots as it counts).
bool DriverIsBusy();
void PauseOrResume();
int32_t PlaybackStop();
int32_t PlaybackPause(int32_t value);
int32_t PlaybackIsPlaying();
int32_t PlaybackSynchronize();
// How long kal_Synchronize sleeps between its checks (100 ms); the stress tests shorten it.
extern uint32_t SynchronizePollMs;

// --- Text intake --------------------------------------------------------------------------
// Every intake call fills it before queueing. Host calls must not overlap.
extern char TextBuffer[kTextSize];
// UTF-16 into CurrentCodePage; returns the bytes written with the terminator, 0 on failure.
int32_t ConvertToCodePage(const kal_char16* text, char* out, int32_t size);
int32_t IntakeSynth(const kal_char16* text, int32_t mark);
int32_t IntakeSynthMark(const char* text, const char* marker, int32_t mark);
int32_t IntakeKey(const char* text);
int32_t IntakeChar(int32_t code);
