#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "voices/voices.h"

namespace {
// A start-up that fails after the engine was initialised (or opened) gives
// those back, so no engine class or instance is left behind.
int32_t FailStartup(const char* line, bool opened, bool initialisedClass) {
    LogWrite(LOG_ENGINE, line);
    if (opened) Engine.api.close(Engine.instanceHandle.first, Engine.instanceHandle.second);
    if (initialisedClass) Engine.api.unInitialize(Engine.classHandle.first, Engine.classHandle.second);
    return -1;
}

int32_t ClampCount(int32_t count, int32_t capacity) {
    if (count < 0) return 0;
    return count > capacity ? capacity : count;
}

void RegisterLanguageVoices(int32_t language) {
    const EngineEntry* engine = &Engine.engines[0];
    int32_t voiceCount = kVoiceListCapacity;
    Engine.api.getVoiceList(Engine.classHandle.first, Engine.classHandle.second, engine,
                            &Engine.languages[language], Engine.voiceInfo, &voiceCount);
    // Only the low 16 bits count; never more than the list holds.
    int32_t count = ClampCount(static_cast<uint16_t>(voiceCount), kVoiceListCapacity);
    for (int32_t voice = 0; voice < count; ++voice) {
        VoiceNames names;
        ReadVoiceNames(language, voice, names);
        const char* section = names.section;
        char name[80];
        ProfileGetString("Name", name, sizeof name, section, section);
        int32_t languageNumber = 0;
        ProfileGetInt("Lang", &languageNumber, 0, section);
        int32_t codePage = 0;
        ProfileGetInt("CodePage", &codePage, 0, section);
        RegisterVoice(name, languageNumber, language * 10 + voice, codePage);
        LogWrite(LOG_ENGINE, "GoInit", section);
    }
}
}  // namespace

int32_t GoInitSpeech() {
    if (Engine.initialised) return 0;
    char api[256];
    ProfileGetString("Api", api, sizeof api, "nalvoapi.dll", "Default");
    char path[256];
    snprintf(path, sizeof path, "%s%s", ModuleFolder, api);
    Engine.lastResult = LoadSpeech(path);
    if (Engine.lastResult != 0) {
        LogWrite(LOG_ENGINE, "LoadSpeech fehlgeschlagen");
        return -1;
    }

    snprintf(Engine.engineFolder, sizeof Engine.engineFolder, "%s", ModuleFolder);
    LogWrite(LOG_ENGINE, "init NALVO.", Engine.engineFolder);
    const EngineApi& e = Engine.api;
    Engine.lastResult = e.initialize(Engine.engineFolder, &Engine.classHandle);
    if (Engine.lastResult != 0) return FailStartup("init NALVO failed.", false, false);
    const uint32_t c0 = Engine.classHandle.first, c1 = Engine.classHandle.second;

    // The capacity passed is what the previous start-up found (20 the first time).
    // After an empty list that would be 0 for ever, and no start-up could succeed
    // again: then the full capacity is passed.
    int32_t capacity = ClampCount(Engine.engineCount, kEngineListCapacity);
    if (capacity == 0) capacity = kEngineListCapacity;
    Engine.engineCount = capacity;
    Engine.lastResult = e.getEngineList(c0, c1, 1, Engine.engines, &Engine.engineCount);
    Engine.engineCount = ClampCount(Engine.engineCount, capacity);
    if (Engine.lastResult != 0 || Engine.engineCount == 0)
        return FailStartup("GetEngineList failed.", false, true);
    for (int32_t i = 0; i < Engine.engineCount; ++i) {
        char text[sizeof(EngineEntry)];
        EngineEntryText(Engine.engines[i], text);
        LogWrite(LOG_ENGINE, "Engine", text);
    }

    Engine.lastResult = e.open(c0, c1, &Engine.engines[0], &Engine.instanceHandle, 0);
    if (Engine.lastResult != 0) return FailStartup("ttsOpen failed.", false, true);

    Engine.outDevice = OutDeviceRecord{0, CbOutNotify};
    Engine.lastResult = e.setOutDevice(Engine.instanceHandle.first, Engine.instanceHandle.second,
                                       &Engine.outDevice);
    if (Engine.lastResult != 0) return FailStartup("ttsSetOutDevice failed.", true, true);

    Engine.languageCount = kLanguageListCapacity;
    Engine.lastResult = e.getLanguageList(c0, c1, &Engine.engines[0], Engine.languages, &Engine.languageCount);
    Engine.languageCount = ClampCount(Engine.languageCount, kLanguageListCapacity);
    if (Engine.lastResult != 0 || Engine.languageCount == 0)
        return FailStartup("ttsGetLanguageList failed.", true, true);

    // Each start-up registers every voice anew: start from an empty catalogue.
    VoiceCatalogueClear();
    for (int32_t language = 0; language < Engine.languageCount; ++language) RegisterLanguageVoices(language);

    LogWrite(LOG_ENGINE, "GoInitSpeech()");
    Engine.initialised = 1;
    return 0;
}

uint32_t StopPollWaitMs = 50;
uint32_t ShutdownSettleMs = 100;

int32_t StopEngine() {
    if (!Engine.initialised) return -1;
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    int32_t state = PlaybackState.load();
    if (state == kPaused) {
        Engine.api.resume(i0, i1);
        // The resume notification may already have set Speaking.
        state = PlaybackState.load();
    }
    if (state == kSpeaking) Engine.api.stop(i0, i1);
    for (int poll = 0; poll < 10; ++poll) {
        PlatformSleep(StopPollWaitMs);
        Engine.api.getInstStatus(i0, i1, &Engine.status);
        if (Engine.status == 0) break;
        char detail[16];
        snprintf(detail, sizeof detail, "%d", static_cast<int>(Engine.status));
        LogWrite(LOG_ERR, "Status nach Stop:", detail);
        Engine.api.stop(i0, i1);
    }
    PlaybackState = kIdle;
    return 0;
}

void ShutdownEngine() {
    if (!Engine.initialised || !Engine.engineLibrary) return;
    StopEngine();
    PlatformSleep(ShutdownSettleMs);
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    // Bounded: this runs inside process detach, and an engine that never reports
    // idle must not hang the host.
    const uint32_t started = PlatformTickCount();
    do {
        Engine.api.getInstStatus(i0, i1, &Engine.status);
        PlatformSleep(10);
    } while ((PlaybackState.load() != kIdle || Engine.status != 0) &&
             PlatformTickCount() - started < kShutdownIdleLimitMs);
    if (Engine.dictionaryLoaded)
        Engine.api.unloadDictionary(i0, i1, Engine.dictionaryHandle.first, Engine.dictionaryHandle.second);
    Engine.dictionaryLoaded = 0;
    Engine.api.close(i0, i1);
    Engine.api.unInitialize(Engine.classHandle.first, Engine.classHandle.second);
    Engine.initialised = 0;
}

int32_t ReleaseEngineLibrary() {
    if (Engine.engineLibrary) PlatformFreeLibrary(Engine.engineLibrary);
    Engine.engineLibrary = nullptr;
    LogWrite(LOG_ENGINE, "zorUnloadSpeech()");
    return 0;
}
