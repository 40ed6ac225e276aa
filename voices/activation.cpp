#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "voices/voices.h"
#include "voices/voices_internal.h"

namespace {
// The latest dictionary file tried, for its protocol lines.
char DictionaryPath[256];
}  // namespace

namespace {
// The values the engine is always sent with its parameters 512 and 2048.
constexpr int32_t kParam512Value = 10491;
constexpr int32_t kParam2048Value = 15;
// The largest dictionary the engine's load call can be given.
constexpr uint64_t kLargestDictionary = UINT32_MAX;

// The two select failures differ only in their text and the detail's lead.
void LogSelectFailure(const char* line, const char* lead, int32_t result, int32_t status) {
    LogWriteDetail(LOG_ENGINE, line, "%sFehlercode: %d %X %X", lead, static_cast<int>(result),
                   static_cast<unsigned>(result), static_cast<unsigned>(status));
}
}  // namespace

namespace {
struct SpeechSettings {
    int32_t volume, rate, frequencyCode;
};

// The profile's settings replace, at every activation, whatever the host set
// with kal_SetParameter; missing keys are written with their defaults.
SpeechSettings ReadSpeechSettings() {
    SpeechSettings settings{kDefaultVolume, kDefaultRate, kDefaultFrequencyCode};
    ProfileGetInt("Volume", &settings.volume, kDefaultVolume, "Default");
    ProfileGetInt("Rate", &settings.rate, kDefaultRate, "Default");
    ProfileGetInt("Freq", &settings.frequencyCode, kDefaultFrequencyCode, "Default");
    // The engine gets 16 bits: Volume=65536 would reach it as 0.
    settings.volume = ClampSetting(settings.volume);
    settings.rate = ClampSetting(settings.rate);
    EngineSetSpeechSettings(settings.volume, settings.rate, settings.frequencyCode);
    return settings;
}

// The language (unless this voice selected it last) and then the voice. A
// rejection is only logged: the activation goes on with the next step.
void SelectEngineVoice(int32_t voiceId, const VoiceNames& names) {
    int32_t result;
    if (EngineChooseLanguageFor(voiceId)) {
        result = EngineSendText(kParamLanguage, names.language);
        EngineNoteResult(result);
        LogWrite(LOG_ENGINE, "Select Language", names.language);
        if (result != 0)
            LogSelectFailure("Select Language", "TtsSelectLanguage ", result, Engine.status);
    }
    const int32_t status = EnginePollStatusForActivation();
    result = EngineSendText(kParamVoice, names.voice);
    EngineNoteResult(result);
    LogWrite(LOG_ENGINE, "Select Voice", names.voice);
    if (result != 0) LogSelectFailure("Select Voice", " ", result, status);
}

// Each in a call of its own; their results are not kept.
void SendSpeechParameters(const SpeechSettings& settings) {
    EngineSendNumber(kParamVolume, settings.volume);
    EngineSendNumber(kParamRate, settings.rate);
    LogWriteFormat(LOG_ENGINE, "v:%d r:%d", static_cast<int>(settings.volume), static_cast<int>(settings.rate));
    EngineSendNumber(kParamFrequency, settings.frequencyCode);
    EngineSendNumber(kParamUnknown512, kParam512Value);
    EngineSendNumber(kParamUnknown2048, kParam2048Value);
}
}  // namespace

Outcome SetVoice(int32_t voiceId) {
    // Recorded before anything can fail: the current voice is the one the host
    // asked for last, whether or not the engine could take it.
    CurrentVoiceId = voiceId;
    LogWriteDetail(LOG_ENGINE, "SetVoice", "%d", static_cast<int>(voiceId));
    const SpeechSettings settings = ReadSpeechSettings();
    if (!Engine.initialised) return Outcome::NotInitialised;

    const int32_t language = voiceId / 10, voice = voiceId % 10;
    // A VoiceId beyond the engine's language list (an 11th voice of the last
    // language) names no entry the engine gave: nothing is read past the list.
    if (language < 0 || language >= Engine.languageCount || voice < 0) return Outcome::VoiceUnknown;

    // An engine still busy after the stop polls gets the new voice all the same:
    // the host asked for it, and the stop has already logged the engine's status.
    (void)StopEngine();
    // The count is not needed: voice is below the list's capacity, and a voice
    // beyond the engine's count is asked for by what that entry holds.
    RequestVoiceList(language);
    VoiceNames names;
    ReadVoiceNames(language, voice, names);
    int32_t dictionaryNumber = 0;
    ProfileGetInt("Lang", &dictionaryNumber, 0, names.section);
    SelectEngineVoice(voiceId, names);
    SendSpeechParameters(settings);
    // A voice without its dictionary still speaks: the failure is in the protocol,
    // and the host's call succeeded.
    (void)LoadVoiceDictionary(names.section, dictionaryNumber);
    return Outcome::Ok;
}

namespace {
Outcome DictionaryFailure(Outcome outcome) {
    LogWrite(LOG_ENGINE, OutcomeText(outcome), DictionaryPath);
    return outcome;
}
}  // namespace

Outcome LoadVoiceDictionary(const char* section, int32_t dictionaryNumber) {
    const int written = snprintf(DictionaryPath, sizeof DictionaryPath, "%sSpeech\\Nalvo%02d.bdc",
                                 ModuleFolder, static_cast<int>(dictionaryNumber));
    // The last voice's dictionary goes with it, whether or not this voice has one.
    EngineUnloadDictionary();
    int32_t enabled = 1;
    ProfileGetInt("DCBon", &enabled, 1, section);
    if (enabled == 0) return Outcome::DictionaryOff;
    // A path cut to the buffer would name another file: it is not opened.
    const bool pathFits = written > 0 && written < static_cast<int>(sizeof DictionaryPath);
    PlatformFile file = pathFits ? PlatformFileOpenRead(DictionaryPath) : nullptr;
    if (!file) return DictionaryFailure(Outcome::DictionaryNotOpened);
    const uint64_t wholeSize = PlatformFileSize(file);
    // The engine takes a 32-bit size: a larger file would reach it cut.
    if (wholeSize > kLargestDictionary) {
        PlatformFileClose(file);
        return DictionaryFailure(Outcome::DictionaryTooLarge);
    }
    const uint32_t size = static_cast<uint32_t>(wholeSize);
    // One byte at least, so an empty file still gets a buffer and reaches the engine.
    void* data = malloc(size ? size : 1);
    if (!data) {
        LogWrite(LOG_ENGINE, OutcomeText(Outcome::NoMemory));
        PlatformFileClose(file);
        return Outcome::NoMemory;
    }
    uint32_t bytesRead = 0;
    const int32_t readOk = PlatformFileRead(file, data, size, &bytesRead);
    PlatformFileClose(file);
    Outcome outcome = Outcome::DictionaryNotRead;
    if (readOk && bytesRead == size) {
        // The line says the file was read; the engine's answer is in lastResult.
        outcome = EngineLoadDictionary(data, size);
        LogWrite(LOG_ENGINE, "Dictionary erfolgreich gelesen", DictionaryPath);
    } else {
        (void)DictionaryFailure(outcome);  // outcome is already this failure
    }
    free(data);
    return outcome;
}
