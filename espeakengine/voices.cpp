// SPDX-License-Identifier: GPL-3.0-or-later
#include "espeakengine/voices.h"

#include <strings.h>

namespace {
// German and two Englishes; each with the same variants of eSpeak NG's data.
const EngineLanguage kLanguages[] = {
    {"Deutsch", "de"},
    {"English", "en-gb"},
    {"English US", "en-us"},
};

const EngineVoice kVoices[kVoicesPerLanguage] = {
    {"Standard", ""}, {"m1", "+m1"}, {"m2", "+m2"}, {"m3", "+m3"},
    {"f1", "+f1"},    {"f2", "+f2"}, {"f3", "+f3"}, {"klatt", "+klatt"},
};

constexpr int kRateLeast = 80;     // eSpeak's espeakRATE_MINIMUM
constexpr int kRateNormal = 175;   // espeakRATE_NORMAL
constexpr int kRateMost = 450;     // espeakRATE_MAXIMUM

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }
}  // namespace

int LanguageCount() { return static_cast<int>(sizeof kLanguages / sizeof kLanguages[0]); }
const EngineLanguage& LanguageAt(int index) { return kLanguages[index]; }
const EngineVoice& VoiceAt(int index) { return kVoices[index]; }

int FindLanguage(const char* text) {
    for (int i = 0; text && i < LanguageCount(); ++i)
        if (strcasecmp(text, kLanguages[i].text) == 0) return i;
    return -1;
}

int FindVoice(const char* text) {
    for (int i = 0; text && i < kVoicesPerLanguage; ++i)
        if (strcasecmp(text, kVoices[i].text) == 0) return i;
    return -1;
}

std::string EspeakVoiceName(int language, int voice) {
    return std::string(kLanguages[language].espeak) + kVoices[voice].variant;
}

int EspeakRate(int rate) {
    rate = Clamp(rate, 0, 100);
    if (rate <= 50) return kRateLeast + (kRateNormal - kRateLeast) * rate / 50;
    return kRateNormal + (kRateMost - kRateNormal) * (rate - 50) / 50;
}

int EspeakVolume(int volume) { return Clamp(volume, 0, 100); }
int EspeakPitch(int pitch) { return Clamp(pitch, 0, 100); }
