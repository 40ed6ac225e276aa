// voices/'s state that several of its files share. Only voices/ and its tests
// (through voices_testing.h) include this header.
#pragma once
#include <cstdint>

#include "voices/voices.h"

// The voice SetVoice activated last (activation.cpp); read by VoicesGetCurrent.
// Host calls behind the HostCallGate.
extern int32_t CurrentVoiceId;
