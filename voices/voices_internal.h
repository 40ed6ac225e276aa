// voices/'s state that several of its files share. Only voices/ and its tests
// (through voices_testing.h) include this header.
#pragma once
#include <cstdint>

#include "voices/voices.h"

// The voice SetVoice activated last (activation.cpp); read by VoicesGetCurrent.
// Host calls behind the HostCallGate.
extern int32_t CurrentVoiceId;

// Rate and volume are 0..100: the profile's values are clamped to it, a host's
// value above it is ignored and one below it taken as 0 (parameters.cpp).
constexpr int32_t kSmallestSetting = 0;
constexpr int32_t kLargestSetting = 100;
inline int32_t ClampSetting(int32_t value) {
    return value < kSmallestSetting ? kSmallestSetting : value > kLargestSetting ? kLargestSetting : value;
}

// The texts that name one voice of the engine, and its profile section
// "Nalvo <language> <voice>", cut to 255 characters (catalogue.cpp).
struct VoiceNames {
    char language[256];
    char voice[256];
    char section[256];
};
// From the engine's languages[language] and voiceInfo[voice] as they stand.
void ReadVoiceNames(int32_t language, int32_t voice, VoiceNames& out);
