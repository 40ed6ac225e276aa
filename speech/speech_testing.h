// speech/'s internals, for tests only: shipped code outside speech/ never
// includes this header.
#pragma once
#include "speech/speech_internal.h"

// The one way to change speech/'s waits; kShippedSpeechTimings puts them back.
// Only while no notification or host call is running.
void SpeechTestingSetTimings(const SpeechTimings& timings);

// Defined with external linkage for the tests only; shipped code reads them in
// their own file. guarded by QueueLock.
extern SpeechQueue Queue;               // the ring (queue.cpp)
extern KalSynthEvent SynthEventRecord;  // the latest notification's record (notify.cpp)
