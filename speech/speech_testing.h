// speech/'s internals, for tests only: shipped code outside speech/ never
// includes this header.
#pragma once
#include "speech/speech_internal.h"

// The one way to change speech/'s waits; kShippedSpeechTimings puts them back.
// Only while no notification or host call is running.
void SpeechTestingSetTimings(const SpeechTimings& timings);
