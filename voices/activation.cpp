#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "voices/voices.h"

char DictionaryPath[256];

namespace {
// Texts go into paramValue with their NUL, cut to 127 characters.
int32_t SendText(uint32_t id, const char* text) {
    Engine.param.paramId = id;
    snprintf(reinterpret_cast<char*>(Engine.param.paramValue), sizeof Engine.param.paramValue, "%s", text);
    return Engine.api.setParamList(Engine.instanceHandle.first, Engine.instanceHandle.second, &Engine.param, 1);
}

void LogSelectFailure(const char* line, const char* format) {
    if (!LogEnabled(LOG_ENGINE)) return;
    char detail[128];
    snprintf(detail, sizeof detail, format, static_cast<int>(Engine.lastResult),
             static_cast<unsigned>(Engine.lastResult), static_cast<unsigned>(Engine.status));
    LogWrite(LOG_ENGINE, line, detail);
}
}  // namespace

// Numbers go into the first two bytes of paramValue; the other bytes stay.
int32_t SendNumber(uint32_t id, int32_t value) {
    Engine.param.paramId = id;
    const uint16_t low = static_cast<uint16_t>(value);
    memcpy(Engine.param.paramValue, &low, sizeof low);
    return Engine.api.setParamList(Engine.instanceHandle.first, Engine.instanceHandle.second, &Engine.param, 1);
}

int32_t SetVoice(int32_t voiceId) {
    CurrentVoiceId = voiceId;
    if (LogEnabled(LOG_ENGINE)) {
        char idText[16];
        snprintf(idText, sizeof idText, "%d", static_cast<int>(voiceId));
        LogWrite(LOG_ENGINE, "SetVoice", idText);
    }
    ProfileGetInt("Volume", &Engine.volume, 100, "Default");
    ProfileGetInt("Rate", &Engine.rate, 50, "Default");
    ProfileGetInt("Freq", &Engine.frequencyCode, 11, "Default");
    if (!Engine.initialised) return -1;

    const int32_t language = voiceId / 10, voice = voiceId % 10;
    // A VoiceId beyond the engine's language list (an 11th voice of the last
    // language) names no entry the engine gave: nothing is read past the list.
    if (language < 0 || language >= Engine.languageCount || voice < 0) return -1;

    StopEngine();
    int32_t count = kVoiceListCapacity;
    Engine.api.getVoiceList(Engine.classHandle.first, Engine.classHandle.second, &Engine.engines[0],
                            &Engine.languages[language], Engine.voiceInfo, &count);
    VoiceNames names;
    ReadVoiceNames(language, voice, names);
    const char* languageText = names.language;
    const char* voiceText = names.voice;
    const char* section = names.section;
    int32_t dictionaryNumber = 0;
    ProfileGetInt("Lang", &dictionaryNumber, 0, section);

    if (voiceId != Engine.languageVoiceId) {
        // Set before the engine answers: a rejected language is not tried again for this voice.
        Engine.languageVoiceId = voiceId;
        Engine.lastResult = SendText(kParamLanguage, languageText);
        LogWrite(LOG_ENGINE, "Select Language", languageText);
        if (Engine.lastResult != 0)
            LogSelectFailure("Select Language", "TtsSelectLanguage Fehlercode: %d %X %X");
    }
    Engine.api.getInstStatus(Engine.instanceHandle.first, Engine.instanceHandle.second, &Engine.status);
    Engine.lastResult = SendText(kParamVoice, voiceText);
    LogWrite(LOG_ENGINE, "Select Voice", voiceText);
    if (Engine.lastResult != 0) LogSelectFailure("Select Voice", " Fehlercode: %d %X %X");

    SendNumber(kParamVolume, Engine.volume);
    SendNumber(kParamRate, Engine.rate);
    LogWriteFormat(LOG_ENGINE, "v:%d r:%d", static_cast<int>(Engine.volume), static_cast<int>(Engine.rate));
    SendNumber(kParamFrequency, Engine.frequencyCode);
    SendNumber(kParamUnknown512, 10491);
    SendNumber(kParamUnknown2048, 15);
    LoadVoiceDictionary(section, dictionaryNumber);
    return 0;
}

void LoadVoiceDictionary(const char* section, int32_t dictionaryNumber) {
    const int written = snprintf(DictionaryPath, sizeof DictionaryPath, "%sSpeech\\Nalvo%02d.bdc",
                                 ModuleFolder, static_cast<int>(dictionaryNumber));
    int32_t enabled = 1;
    ProfileGetInt("DCBon", &enabled, 1, section);
    if (enabled == 0) return;
    // A path cut to the buffer would name another file: it is not opened.
    const bool pathFits = written > 0 && written < static_cast<int>(sizeof DictionaryPath);
    Engine.dictionaryFile = pathFits ? PlatformFileOpenRead(DictionaryPath) : nullptr;
    if (!Engine.dictionaryFile) {
        LogWrite(LOG_ENGINE, "Fehler beim oeffnen des DCB-Files", DictionaryPath);
        return;
    }
    Engine.dictionarySize = PlatformFileSize(Engine.dictionaryFile);
    // One byte at least, so an empty file still gets a buffer and reaches the engine.
    Engine.dictionaryData = malloc(Engine.dictionarySize ? Engine.dictionarySize : 1);
    if (!Engine.dictionaryData) {
        LogWrite(LOG_ENGINE, "Fehler bei malloc");
        PlatformFileClose(Engine.dictionaryFile);
        Engine.dictionaryFile = nullptr;
        return;
    }
    Engine.dictionaryReadOk = PlatformFileRead(Engine.dictionaryFile, Engine.dictionaryData,
                                               Engine.dictionarySize, &Engine.dictionaryBytesRead);
    PlatformFileClose(Engine.dictionaryFile);
    Engine.dictionaryFile = nullptr;
    if (Engine.dictionaryReadOk && Engine.dictionaryBytesRead == Engine.dictionarySize) {
        Engine.lastResult = Engine.api.loadDictionary(Engine.instanceHandle.first, Engine.instanceHandle.second, 1,
                                                      Engine.dictionaryData, Engine.dictionarySize,
                                                      &Engine.dictionaryHandle);
        Engine.dictionaryLoaded = 1;
        free(Engine.dictionaryData);
        Engine.dictionaryData = nullptr;
        LogWrite(LOG_ENGINE, "Dictionary erfolgreich gelesen", DictionaryPath);
    } else {
        LogWrite(LOG_ENGINE, "Fehler bei Lesen", DictionaryPath);
        free(Engine.dictionaryData);
        Engine.dictionaryData = nullptr;
    }
}
