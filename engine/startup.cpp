#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "engine/guard.h"
#include "platform/platform.h"

namespace {
// What a failed start-up must give back, so no engine class or instance is left behind.
enum class StartupUndo { Nothing, UninitializeClass, CloseInstanceAndUninitializeClass };

Outcome FailStartup(Outcome step, StartupUndo undo) {
    const char* line = OutcomeText(step);
    LogWrite(LOG_ENGINE, line);
    // Why, at the lowest level a host turns on: the step, and the engine's own
    // text for its result where it gives one.
    const char* why = Engine.lastResult != 0 ? EngineErrorText(Engine.lastResult) : "";
    LogWriteFormat(LOG_ERR, "Sprachausgabe nicht gestartet: %s%s%s", line, why[0] ? " " : "", why);
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    if (undo == StartupUndo::CloseInstanceAndUninitializeClass)
        GuardedEngineCall("ft_ttsClose failed EX:", [&] { Engine.api.close(i0, i1); });
    if (undo != StartupUndo::Nothing)
        GuardedEngineCall("ft_ttsUnInitialize failed EX:",
                          [&] { Engine.api.unInitialize(Engine.classHandle.first, Engine.classHandle.second); });
    return step;
}

// The result a start-up call that threw counts as: a failure like any other,
// so the start-up undoes what it did and names the step.
constexpr int32_t kStartupCallThrew = -1;

// One engine call of the start-up. Start-up runs inside the host's LoadLibrary
// too, so nothing the engine throws may pass: exLine is written and the call fails.
template <typename Call>
int32_t StartupCall(const char* exLine, Call call) {
    int32_t result = kStartupCallThrew;
    if (!GuardedEngineCall(exLine, [&] { result = call(); })) return kStartupCallThrew;
    return result;
}

int32_t ClampCount(int32_t count, int32_t capacity) {
    if (count < 0) return 0;
    return count > capacity ? capacity : count;
}
}  // namespace

Outcome BeginEngineSession(EngineNotifyFn notify) {
    char api[256];
    ProfileGetString("Api", api, sizeof api, "nalvoapi.dll", "Default");
    char path[256];
    snprintf(path, sizeof path, "%s%s", ModuleFolder, api);
    // Which of the load's failures it was is in its own protocol lines.
    if (LoadSpeech(path) != Outcome::Ok) {
        LogWrite(LOG_ENGINE, OutcomeText(Outcome::LoadFailed));
        return Outcome::LoadFailed;
    }

    snprintf(Engine.engineFolder, sizeof Engine.engineFolder, "%s", ModuleFolder);
    LogWrite(LOG_ENGINE, "init NALVO.", Engine.engineFolder);
    const EngineApi& e = Engine.api;
    Engine.lastResult = StartupCall("ft_ttsInitialize failed EX:",
                                    [&] { return e.initialize(Engine.engineFolder, &Engine.classHandle); });
    if (Engine.lastResult != 0) return FailStartup(Outcome::InitializeFailed, StartupUndo::Nothing);
    const uint32_t c0 = Engine.classHandle.first, c1 = Engine.classHandle.second;

    // The capacity passed is what the previous start-up found (20 the first time).
    // After an empty list that would be 0 for ever, and no start-up could succeed
    // again: then the full capacity is passed.
    int32_t capacity = ClampCount(Engine.engineCount, kEngineListCapacity);
    if (capacity == 0) capacity = kEngineListCapacity;
    Engine.engineCount = capacity;
    Engine.lastResult = StartupCall("ft_ttsGetEngineList failed EX:",
                                    [&] { return e.getEngineList(c0, c1, 1, Engine.engines, &Engine.engineCount); });
    Engine.engineCount = ClampCount(Engine.engineCount, capacity);
    if (Engine.lastResult != 0 || Engine.engineCount == 0)
        return FailStartup(Outcome::EngineListFailed, StartupUndo::UninitializeClass);
    for (int32_t i = 0; i < Engine.engineCount; ++i) {
        char text[sizeof(EngineEntry)];
        EngineEntryText(Engine.engines[i], text);
        LogWrite(LOG_ENGINE, "Engine", text);
    }

    Engine.lastResult = StartupCall("ft_ttsOpen failed EX:",
                                    [&] { return e.open(c0, c1, &Engine.engines[0], &Engine.instanceHandle, 0); });
    if (Engine.lastResult != 0) return FailStartup(Outcome::OpenFailed, StartupUndo::UninitializeClass);

    Engine.outDevice = OutDeviceRecord{0, notify};
    Engine.lastResult = StartupCall("ft_ttsSetOutDevice failed EX:", [&] {
        return e.setOutDevice(Engine.instanceHandle.first, Engine.instanceHandle.second, &Engine.outDevice);
    });
    if (Engine.lastResult != 0) return FailStartup(Outcome::OutDeviceFailed, StartupUndo::CloseInstanceAndUninitializeClass);

    Engine.languageCount = kLanguageListCapacity;
    Engine.lastResult = StartupCall("ft_ttsGetLanguageList failed EX:", [&] {
        return e.getLanguageList(c0, c1, &Engine.engines[0], Engine.languages, &Engine.languageCount);
    });
    Engine.languageCount = ClampCount(Engine.languageCount, kLanguageListCapacity);
    if (Engine.lastResult != 0 || Engine.languageCount == 0)
        return FailStartup(Outcome::LanguageListFailed, StartupUndo::CloseInstanceAndUninitializeClass);

    return Outcome::Ok;
}

void CompleteEngineSession() {
    LogWrite(LOG_ENGINE, "GoInitSpeech()");
    Engine.initialised = 1;
}

int32_t RequestVoiceList(int32_t language) {
    int32_t voiceCount = kVoiceListCapacity;
    // A list call that threw offers no voices.
    if (!GuardedEngineCall("ft_ttsGetVoiceList failed EX:", [&] {
            Engine.api.getVoiceList(Engine.classHandle.first, Engine.classHandle.second, &Engine.engines[0],
                                    &Engine.languages[language], Engine.voiceInfo, &voiceCount);
        }))
        return 0;
    // Only the low 16 bits count; never more than the list holds.
    return ClampCount(static_cast<uint16_t>(voiceCount), kVoiceListCapacity);
}

void EndEngineSession() {
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    if (Engine.dictionaryLoaded)
        GuardedEngineCall("ft_ttsUnloadDictionary failed EX:", [&] {
            Engine.api.unloadDictionary(i0, i1, Engine.dictionaryHandle.first, Engine.dictionaryHandle.second);
        });
    Engine.dictionaryLoaded = 0;
    GuardedEngineCall("ft_ttsClose failed EX:", [&] { Engine.api.close(i0, i1); });
    GuardedEngineCall("ft_ttsUnInitialize failed EX:",
                      [&] { Engine.api.unInitialize(Engine.classHandle.first, Engine.classHandle.second); });
    Engine.initialised = 0;
}

void ReleaseEngineLibrary() {
    if (Engine.engineLibrary) PlatformFreeLibrary(Engine.engineLibrary);
    Engine.engineLibrary = nullptr;
    LogWrite(LOG_ENGINE, "zorUnloadSpeech()");
}
