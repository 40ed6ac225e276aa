// SPDX-License-Identifier: GPL-3.0-or-later
// The thirty entry points of the engine contract over eSpeak NG. Each checks
// its arguments and hands the work to the speaker (speaker.cpp); none waits
// for speech.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "engine/contract.h"
#include "espeakengine/config.h"
#include "espeakengine/report.h"
#include "espeakengine/speaker.h"
#include "espeakengine/text.h"
#include "espeakengine/voices.h"

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// The handles the engine gives out: any words will do, they are checked.
constexpr EngineClassHandle kClass{0x6553, 0x1};
constexpr EngineInstanceHandle kInstance{0x6553, 0x2};
constexpr char kEngineName[] = "eSpeak NG";

// A driver holds the engine from its initialize to its uninitialize; a second
// driver in the process (another copy, loading this same file) is refused
// rather than sharing the one worker, its notifications and its settings.
std::atomic<bool> classHeld{false};

// guarded by dictionaryLock: the dictionaries and the next handle.
std::mutex dictionaryLock;
std::map<uint32_t, WordReplacements> dictionaries;
uint32_t nextDictionary = 1;

bool IsClass(uint32_t c0, uint32_t c1) { return c0 == kClass.first && c1 == kClass.second; }
bool IsInstance(uint32_t i0, uint32_t i1) { return i0 == kInstance.first && i1 == kInstance.second; }

template <size_t N>
void Copy(char (&out)[N], const char* text) {
    snprintf(out, N, "%s", text);
}

// The text as the speaker gets it: UTF-8, with every dictionary's words
// replaced, and nothing eSpeak NG would read as a command or abort on.
std::string Prepare(const char* bytes, uint32_t length) {
    std::string text(bytes, length);
    {
        std::lock_guard<std::mutex> guard(dictionaryLock);
        for (const auto& entry : dictionaries) text = entry.second.Apply(text);
    }
    return SpeakableText(Utf8FromWindows1252(text.data(), text.size()));
}

// A parameter's 16-bit number, as the driver writes it.
int Number(const ParamRecord& param) {
    int16_t value;
    memcpy(&value, param.paramValue, sizeof value);
    return value;
}

// A parameter's text, terminated within the record whatever it holds.
std::string Text(const ParamRecord& param) {
    const char* text = reinterpret_cast<const char*>(param.paramValue);
    return std::string(text, strnlen(text, sizeof param.paramValue));
}

int32_t SetOne(const ParamRecord& param) {
    switch (param.paramId) {
    case kParamLanguage: {
        const int language = FindLanguage(Text(param).c_str());
        if (language < 0) return kErrUnknownLanguage;
        SpeakerSetLanguage(language);
        return kEngineOk;
    }
    case kParamVoice: {
        const int voice = FindVoice(Text(param).c_str());
        if (voice < 0) return kErrUnknownVoice;
        SpeakerSetVoice(voice);
        return kEngineOk;
    }
    case kParamRate: SpeakerSetRate(Number(param)); return kEngineOk;
    case kParamVolume: SpeakerSetVolume(Number(param)); return kEngineOk;
    // The sample-rate code: eSpeak NG speaks at 22050 Hz whatever is asked.
    case kParamFrequency: return kEngineOk;
    default: return kEngineOk;  // 512 and 2048 mean nothing to this engine
    }
}
}  // namespace

ENGINE_EXPORT int32_t ssft_ttsInitialize(const char* folder, EngineClassHandle* outClass) {
    if (!outClass) return kErrArgument;
    if (classHeld.exchange(true)) {
        // The copy that holds the engine set the destination: it reports there.
        Report(std::string(EngineErrorText(kErrInUse)) + ": the engine is started already");
        return kErrInUse;
    }
    EngineConfig config;
    std::string detail;
    const bool configured = ReadEngineConfig(folder, config, detail);
    ReportTo(config.report);
    if (!configured) {
        Report(detail);
        classHeld = false;
        return kErrConfig;
    }
    const int32_t result = SpeakerStart(config, detail);
    if (result != kEngineOk) {
        // The driver logs only that the start failed: the reason goes to the report.
        Report(std::string(EngineErrorText(result)) + ": " + detail);
        classHeld = false;
        return result;
    }
    *outClass = kClass;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsGetEngineList(uint32_t c0, uint32_t c1, int32_t, EngineEntry* list, int32_t* count) {
    if (!IsClass(c0, c1)) return kErrNotStarted;
    if (!list || !count) return kErrArgument;
    if (*count < 1) {
        *count = 1;
        return kEngineOk;
    }
    Copy(list[0].text, kEngineName);
    *count = 1;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsGetLanguageList(uint32_t c0, uint32_t c1, const EngineEntry*, LanguageEntry* list,
                                              int32_t* count) {
    if (!IsClass(c0, c1)) return kErrNotStarted;
    if (!list || !count) return kErrArgument;
    const int32_t n = *count < LanguageCount() ? (*count < 0 ? 0 : *count) : LanguageCount();
    for (int32_t i = 0; i < n; ++i) Copy(list[i].text, LanguageAt(i).text);
    *count = n;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsUnInitialize(uint32_t c0, uint32_t c1) {
    if (!IsClass(c0, c1)) return kErrNotStarted;
    SpeakerEnd();
    classHeld = false;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsOpen(uint32_t c0, uint32_t c1, const EngineEntry*, EngineInstanceHandle* outInstance,
                                   int32_t) {
    if (!IsClass(c0, c1)) return kErrNotStarted;
    if (!outInstance) return kErrArgument;
    *outInstance = kInstance;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsClose(uint32_t i0, uint32_t i1) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    SpeakerSetNotify(nullptr);
    SpeakerStop();
    std::lock_guard<std::mutex> guard(dictionaryLock);
    dictionaries.clear();
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsSetOutDevice(uint32_t i0, uint32_t i1, const OutDeviceRecord* device) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    SpeakerSetNotify(device ? device->notify : nullptr);
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsStop(uint32_t i0, uint32_t i1) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    SpeakerStop();
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsPause(uint32_t i0, uint32_t i1) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    SpeakerPause();
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsResume(uint32_t i0, uint32_t i1) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    SpeakerResume();
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsGetInstStatus(uint32_t i0, uint32_t i1, int32_t* status) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    if (!status) return kErrArgument;
    *status = SpeakerBusy() ? 1 : 0;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsSetParamList(uint32_t i0, uint32_t i1, const ParamRecord* params, int32_t count) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    if (!params && count > 0) return kErrArgument;
    int32_t result = kEngineOk;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t one = SetOne(params[i]);
        if (one != kEngineOk) result = one;
    }
    return result;
}

ENGINE_EXPORT int32_t ssft_ttsGetVoiceList(uint32_t c0, uint32_t c1, const EngineEntry*, const LanguageEntry* language,
                                           VoiceEntry* list, int32_t* count) {
    if (!IsClass(c0, c1)) return kErrNotStarted;
    if (!list || !count) return kErrArgument;
    if (!language || FindLanguage(std::string(language->text, strnlen(language->text, sizeof language->text)).c_str()) < 0) {
        *count = 0;
        return kErrUnknownLanguage;
    }
    const int32_t n = *count < kVoicesPerLanguage ? (*count < 0 ? 0 : *count) : kVoicesPerLanguage;
    for (int32_t i = 0; i < n; ++i) Copy(list[i].text, VoiceAt(i).text);
    *count = n;
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsLoadDictionary(uint32_t i0, uint32_t i1, int32_t, const void* bytes, uint32_t size,
                                             EngineDictionaryHandle* outDictionary) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    if (!outDictionary || (!bytes && size > 0)) return kErrArgument;
    WordReplacements replacements;
    if (!replacements.Load(static_cast<const char*>(bytes), size)) return kErrDictionary;
    std::lock_guard<std::mutex> guard(dictionaryLock);
    const uint32_t handle = nextDictionary++;
    dictionaries[handle] = std::move(replacements);
    *outDictionary = EngineDictionaryHandle{handle, kInstance.first};
    return kEngineOk;
}

ENGINE_EXPORT int32_t ssft_ttsUnloadDictionary(uint32_t i0, uint32_t i1, uint32_t d0, uint32_t) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    std::lock_guard<std::mutex> guard(dictionaryLock);
    return dictionaries.erase(d0) ? kEngineOk : kErrArgument;
}

ENGINE_EXPORT int32_t ssft_ttsSetText(uint32_t i0, uint32_t i1, const TextRecord* text) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    if (!text || (!text->text && text->length > 0)) return kErrArgument;
    // Copied now: the driver's buffer is only lent for the call.
    SpeakerSetText(Prepare(text->text ? text->text : "", text->length));
    return kEngineOk;
}

ENGINE_EXPORT const char* ssft_ttsErrorGetString(uint32_t code) { return EngineErrorText(code); }

ENGINE_EXPORT int32_t ssft_ttsSpeak(uint32_t i0, uint32_t i1, int32_t) {
    if (!IsInstance(i0, i1)) return kErrNotStarted;
    return SpeakerSpeak();
}

// Present, as the contract asks, and never called by the driver.
#define UNUSED_ENTRY(name) \
    ENGINE_EXPORT int32_t name() { return 0; }
UNUSED_ENTRY(ssft_ttsSetInDevice)
UNUSED_ENTRY(ssft_ttsProcess)
UNUSED_ENTRY(ssft_ttsGetParamList)
UNUSED_ENTRY(ssft_ttsGetLipSyncInfo)
UNUSED_ENTRY(ssft_ttsGetPPList)
UNUSED_ENTRY(ssft_ttsBackward)
UNUSED_ENTRY(ssft_ttsForward)
UNUSED_ENTRY(ssft_ttsGetSpeechDBList)
UNUSED_ENTRY(ssft_ttsActivateDictionary)
UNUSED_ENTRY(ssft_ttsDeactivateDictionary)
UNUSED_ENTRY(ssft_ttsGetWordTranscriptions)
UNUSED_ENTRY(ssft_ttsFreeTranscriptions)

// Test and benchmark hooks, beside the contract's entry points.
ENGINE_EXPORT void espeakengine_set_probes(SpeakerSampleProbe samples, SpeakerTextProbe texts) {
    SpeakerSetProbes(samples, texts);
}

// Each of the thirty has the shape the driver binds it with.
ENGINE_CHECK_ENTRY_POINTS()
