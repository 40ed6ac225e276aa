// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's worker: one thread that owns every eSpeak NG call (the library
// is one global state and not thread-safe), and the state the entry points
// share with it. Entry points only record and queue; the worker synthesises,
// delivers the samples and sends the notifications.
#pragma once
#include <cstdint>
#include <string>

#include "engine/contract.h"
#include "espeakengine/config.h"

enum EngineError : int32_t {
    kEngineOk = 0,
    kErrNotStarted = 1,
    kErrNoData = 2,
    kErrEspeakInit = 3,
    kErrOutput = 4,
    kErrBusy = 5,
    kErrUnknownLanguage = 6,
    kErrUnknownVoice = 7,
    kErrDictionary = 8,
    kErrConfig = 9,
    kErrWorker = 10,
    kErrArgument = 11,
    kErrInUse = 12,
};
const char* EngineErrorText(uint32_t code);

// Starts the worker, which initialises eSpeak NG on the configured data and
// opens the output. On failure nothing runs and detail says why.
int32_t SpeakerStart(const EngineConfig& config, std::string& detail);
// Cuts what is spoken and ends the worker; eSpeak NG itself stays started for
// the next start (its terminate can hang: see speaker.cpp).
void SpeakerEnd();
void SpeakerSetNotify(EngineNotifyFn notify);

// The next text, UTF-8 (set text), and its start (speak): only queued.
void SpeakerSetText(std::string text);
int32_t SpeakerSpeak();
// Stop, pause, resume: each sends its notification when it changed something.
void SpeakerStop();
void SpeakerPause();
void SpeakerResume();
bool SpeakerBusy();

// Settings the worker applies before the next text (never during one).
void SpeakerSetLanguage(int language);
int SpeakerLanguage();
void SpeakerSetVoice(int voice);
void SpeakerSetRate(int rate);
void SpeakerSetVolume(int volume);

// Test and benchmark hooks (exported by the library): called on the worker with
// every block of samples delivered to the output, and with each text given.
typedef void (*SpeakerSampleProbe)(const int16_t* samples, int count);
typedef void (*SpeakerTextProbe)(const char* text);
void SpeakerSetProbes(SpeakerSampleProbe samples, SpeakerTextProbe texts);
