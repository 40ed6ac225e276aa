#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "engine/guard.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "voices/voices.h"

char DictionaryPath[256];

namespace {
// guarded by paramLock: Engine.param, the record the parameters are built in. A
// number changes only its first two bytes, as the engine has always received
// them; each call then sends a copy of its own, so calls from two threads never
// mix their values and the lock is not held while the engine is called.
PlatformLock paramLock;

template <typename Fill>
int32_t SendParam(uint32_t id, Fill fill) {
    ParamRecord param;
    {
        PlatformLockGuard guard(paramLock);
        Engine.param.paramId = id;
        fill(Engine.param);
        param = Engine.param;
    }
    int32_t result = -1;  // a call that throws counts as failed
    GuardedEngineCall("ft_ttsSetParamList failed EX:", [&] {
        result = Engine.api.setParamList(Engine.instanceHandle.first, Engine.instanceHandle.second, &param, 1);
    });
    return result;
}

// Texts go into paramValue with their NUL, cut to 127 characters.
int32_t SendText(uint32_t id, const char* text) {
    return SendParam(id, [text](ParamRecord& param) {
        snprintf(reinterpret_cast<char*>(param.paramValue), sizeof param.paramValue, "%s", text);
    });
}

void LogSelectFailure(const char* line, const char* format, int32_t result, int32_t status) {
    if (!LogEnabled(LOG_ENGINE)) return;
    char detail[128];
    snprintf(detail, sizeof detail, format, static_cast<int>(result), static_cast<unsigned>(result),
             static_cast<unsigned>(status));
    LogWrite(LOG_ENGINE, line, detail);
}
}  // namespace

// Numbers go into the first two bytes of paramValue; the other bytes stay.
int32_t SendNumber(uint32_t id, int32_t value) {
    return SendParam(id, [value](ParamRecord& param) {
        const uint16_t low = static_cast<uint16_t>(value);
        memcpy(param.paramValue, &low, sizeof low);
    });
}

int32_t SetVoice(int32_t voiceId) {
    CurrentVoiceId = voiceId;
    char idText[16];
    snprintf(idText, sizeof idText, "%d", static_cast<int>(voiceId));
    LogWrite(LOG_ENGINE, "SetVoice", idText);
    int32_t volume = 100, rate = 50, frequencyCode = 11;
    ProfileGetInt("Volume", &volume, 100, "Default");
    ProfileGetInt("Rate", &rate, 50, "Default");
    ProfileGetInt("Freq", &frequencyCode, 11, "Default");
    Engine.volume = volume;
    Engine.rate = rate;
    Engine.frequencyCode = frequencyCode;
    if (!Engine.initialised) return -1;

    const int32_t language = voiceId / 10, voice = voiceId % 10;
    // A VoiceId beyond the engine's language list (an 11th voice of the last
    // language) names no entry the engine gave: nothing is read past the list.
    if (language < 0 || language >= Engine.languageCount || voice < 0) return -1;

    StopEngine();
    RequestVoiceList(language);
    VoiceNames names;
    ReadVoiceNames(language, voice, names);
    const char* languageText = names.language;
    const char* voiceText = names.voice;
    const char* section = names.section;
    int32_t dictionaryNumber = 0;
    ProfileGetInt("Lang", &dictionaryNumber, 0, section);

    int32_t result;
    if (voiceId != Engine.languageVoiceId) {
        // Set before the engine answers: a rejected language is not tried again for this voice.
        Engine.languageVoiceId = voiceId;
        result = SendText(kParamLanguage, languageText);
        Engine.lastResult = result;
        LogWrite(LOG_ENGINE, "Select Language", languageText);
        if (result != 0)
            LogSelectFailure("Select Language", "TtsSelectLanguage Fehlercode: %d %X %X", result, Engine.status);
    }
    const int32_t status = EngineInstanceStatus();
    Engine.status = status;
    result = SendText(kParamVoice, voiceText);
    Engine.lastResult = result;
    LogWrite(LOG_ENGINE, "Select Voice", voiceText);
    if (result != 0) LogSelectFailure("Select Voice", " Fehlercode: %d %X %X", result, status);

    SendNumber(kParamVolume, volume);
    SendNumber(kParamRate, rate);
    LogWriteFormat(LOG_ENGINE, "v:%d r:%d", static_cast<int>(volume), static_cast<int>(rate));
    SendNumber(kParamFrequency, frequencyCode);
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
        const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
        // One dictionary at a time: a host that switches voice per utterance must not
        // fill the engine with every dictionary it ever loaded.
        if (Engine.dictionaryLoaded) {
            GuardedEngineCall("ft_ttsUnloadDictionary failed EX:", [&] {
                Engine.api.unloadDictionary(i0, i1, Engine.dictionaryHandle.first, Engine.dictionaryHandle.second);
            });
            Engine.dictionaryLoaded = 0;
        }
        int32_t result = 0;
        GuardedEngineCall("ft_ttsLoadDictionary failed EX:", [&] {
            result = Engine.api.loadDictionary(i0, i1, 1, Engine.dictionaryData, Engine.dictionarySize,
                                               &Engine.dictionaryHandle);
        });
        Engine.lastResult = result;
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
