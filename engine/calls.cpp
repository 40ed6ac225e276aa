// The engine calls the speech and voice code makes while a session runs; the
// start-up, the voice lists it reads and the close are startup.cpp's. Each call
// is guarded (nothing the engine throws passes). Of the session's fields, these
// write the parameter record, the text record, the speech settings, the chosen
// language, the polled status and the dictionary handle; lastResult and
// dictionaryLoaded they share with startup.cpp, which sets them at start-up and
// close.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "engine/guard.h"
#include "platform/platform.h"

namespace {
// Engine calls in progress. A slot's start is 0 while free; a call claims it
// with its start, then names itself (the watchdog acts on a call only long
// after its start, when the name is there). Several threads may be inside the engine at once (a host
// thread handing a text over, the engine's thread notifying, calls nested in
// a notification).
constexpr int32_t kWatchedCallSlots = 8;
struct WatchedCall {
    std::atomic<uint32_t> startedAt{0};
    std::atomic<const char*> line{nullptr};
};
WatchedCall watchedCalls[kWatchedCallSlots];
}  // namespace

int32_t EngineCallBegin(const char* line) {
    uint32_t now = PlatformTickCount();
    if (now == 0) now = 1;  // 0 marks a free slot
    for (int32_t i = 0; i < kWatchedCallSlots; ++i) {
        WatchedCall& call = watchedCalls[i];
        uint32_t free = 0;
        if (call.startedAt.load(std::memory_order_relaxed) != 0) continue;
        if (!call.startedAt.compare_exchange_strong(free, now, std::memory_order_acq_rel)) continue;
        call.line.store(line, std::memory_order_release);
        return i;
    }
    return -1;
}

void EngineCallEnd(int32_t slot) {
    if (slot >= 0) watchedCalls[slot].startedAt.store(0, std::memory_order_release);
}

bool EngineOldestCall(uint32_t& startedAt, const char*& line) {
    const uint32_t now = PlatformTickCount();
    bool found = false;
    for (WatchedCall& call : watchedCalls) {
        const uint32_t started = call.startedAt.load(std::memory_order_acquire);
        if (started == 0 || (found && now - started <= now - startedAt)) continue;
        startedAt = started;
        line = call.line.load(std::memory_order_acquire);
        found = true;
    }
    return found;
}

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

void CallInstance(const char* line, TtsInstanceFn function) {
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    GuardedEngineCall(line, [&] { function(i0, i1); });
}
}  // namespace

void EngineNoteResult(int32_t result) { Engine.lastResult = result; }

int32_t EngineInstanceStatus() {
    int32_t status = 0;
    if (!GuardedEngineCall("ft_ttsGetInstStatus failed EX:", [&] {
            Engine.api.getInstStatus(Engine.instanceHandle.first, Engine.instanceHandle.second, &status);
        }))
        return -1;
    return status;
}

bool EngineSetText(const char* text, int32_t* result) {
    Engine.textRecord.zero = 0;
    Engine.textRecord.length = static_cast<uint32_t>(strlen(text));
    Engine.textRecord.text = text;
    return GuardedEngineCall("ft_ttsSetText failed EX:", [&] {
        *result = Engine.api.setText(Engine.instanceHandle.first, Engine.instanceHandle.second, &Engine.textRecord);
    });
}

bool EngineSpeak(int32_t* result) {
    return GuardedEngineCall("ft_ttsSpeak failed EX:", [&] {
        *result = Engine.api.speak(Engine.instanceHandle.first, Engine.instanceHandle.second, 0);
    });
}

int32_t EngineRequestStop() {
    int32_t result = 0;
    GuardedEngineCall("ft_ttsStop failed EX:",
                      [&] { result = Engine.api.stop(Engine.instanceHandle.first, Engine.instanceHandle.second); });
    return result;
}

void EnginePause() { CallInstance("ft_ttsPause failed EX:", Engine.api.pause); }
void EngineResume() { CallInstance("ft_ttsResume failed EX:", Engine.api.resume); }

const char* EngineErrorText(int32_t code) {
    const char* text = nullptr;
    GuardedEngineCall("ft_ttsErrorGetString failed EX:",
                      [&] { text = Engine.api.errorGetString(static_cast<uint32_t>(code) & 0xFF); });
    return text ? text : "";
}

int32_t EngineSendNumber(uint32_t id, int32_t value) {
    return SendParam(id, [value](ParamRecord& param) {
        const uint16_t low = static_cast<uint16_t>(value);
        memcpy(param.paramValue, &low, sizeof low);
    });
}

int32_t EngineSendText(uint32_t id, const char* text) {
    return SendParam(id, [text](ParamRecord& param) {
        snprintf(reinterpret_cast<char*>(param.paramValue), sizeof param.paramValue, "%s", text);
    });
}

int32_t EngineSampleRateHz() {
    switch (Engine.frequencyCode) {
    case 8: return 8000;
    case 11: return 11000;
    case 16: return 16000;
    case 22: return 22050;
    default: return 0;
    }
}

void EngineSetSpeechSettings(int32_t volume, int32_t rate, int32_t frequencyCode) {
    Engine.volume = volume;
    Engine.rate = rate;
    Engine.frequencyCode = frequencyCode;
}
void EngineSetVolume(int32_t volume) { Engine.volume = volume; }
void EngineSetRate(int32_t rate) { Engine.rate = rate; }

bool EngineChooseLanguageFor(int32_t voiceId) {
    if (voiceId == Engine.languageVoiceId) return false;
    Engine.languageVoiceId = voiceId;
    return true;
}

int32_t EnginePollStatusForActivation() {
    const int32_t status = EngineInstanceStatus();
    Engine.status = status;
    return status;
}

void EngineUnloadDictionary() {
    if (!Engine.dictionaryLoaded) return;
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    GuardedEngineCall("ft_ttsUnloadDictionary failed EX:", [&] {
        Engine.api.unloadDictionary(i0, i1, Engine.dictionaryHandle.first, Engine.dictionaryHandle.second);
    });
    Engine.dictionaryLoaded = 0;
}

Outcome EngineLoadDictionary(const void* bytes, uint32_t size) {
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    // One dictionary at a time: a host that switches voice per utterance must not
    // fill the engine with every dictionary it ever loaded.
    EngineUnloadDictionary();
    int32_t result = 0;
    const bool returned = GuardedEngineCall("ft_ttsLoadDictionary failed EX:", [&] {
        result = Engine.api.loadDictionary(i0, i1, 1, bytes, size, &Engine.dictionaryHandle);
    });
    Engine.lastResult = result;
    // Only a dictionary the engine took has a handle to unload later.
    if (!returned || result != 0) return Outcome::DictionaryRejected;
    Engine.dictionaryLoaded = 1;
    return Outcome::Ok;
}
