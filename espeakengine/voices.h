// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's languages and voices, and how the driver's settings map onto
// eSpeak NG's ranges. Pure tables and arithmetic: no eSpeak call here.
#pragma once
#include <cstdint>
#include <string>

// One language of the contract's list and the eSpeak NG voice that speaks it.
struct EngineLanguage {
    const char* text;    // the language entry the driver sees, e.g. "Deutsch"
    const char* espeak;  // eSpeak NG's voice name, e.g. "de"
};

// One voice of a language: its text in the voice list and eSpeak's variant
// appended to the language's voice ("" for the language's own voice).
struct EngineVoice {
    const char* text;
    const char* variant;
};

// A voice identifier is language index * 10 + voice index: ten voices a language at most.
constexpr int kVoicesPerLanguage = 8;
static_assert(kVoicesPerLanguage <= 10, "a language has at most ten voices");

int LanguageCount();
const EngineLanguage& LanguageAt(int index);
const EngineVoice& VoiceAt(int index);
// Index of the language or voice with that text, or -1.
int FindLanguage(const char* text);
int FindVoice(const char* text);
// eSpeak NG's name for a voice of a language, e.g. "de+m3".
std::string EspeakVoiceName(int language, int voice);

// The driver's settings are 0..100 (values outside are clamped).
// Rate: 0 -> 80 words a minute (eSpeak's least), 50 -> 175 (its normal),
// 100 -> 450 (its most); two straight lines, so it rises with every step.
int EspeakRate(int rate);
// Volume: eSpeak's 0..200 scale, where 100 is its normal loudness; 0 is silence.
int EspeakVolume(int volume);
// Pitch (from the engine's configuration): eSpeak's own 0..100.
int EspeakPitch(int pitch);
