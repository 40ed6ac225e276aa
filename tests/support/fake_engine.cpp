#include "support/fake_engine.h"

#include <cstring>
#include <mutex>

#include "engine/engine.h"
#include "speech/speech.h"

namespace {
FakeEngine* fake;
std::mutex callsLock;

void Record(const std::string& call) {
    std::lock_guard<std::mutex> guard(callsLock);
    fake->calls.push_back(call);
}

void MaybeThrow(const char* entry) {
    if (fake->throwsIn.count(entry)) throw fake->throwValue;
}

int32_t ENGINE_CALL Stop(uint32_t, uint32_t) {
    Record("stop");
    MaybeThrow("stop");
    return 0;
}
int32_t ENGINE_CALL Pause(uint32_t, uint32_t) { Record("pause"); return 0; }
int32_t ENGINE_CALL Resume(uint32_t, uint32_t) { Record("resume"); return 0; }
int32_t ENGINE_CALL Close(uint32_t, uint32_t) { Record("close"); return 0; }
int32_t ENGINE_CALL UnInitialize(uint32_t, uint32_t) { Record("uninitialize"); return 0; }

int32_t ENGINE_CALL Status(uint32_t, uint32_t, int32_t* status) {
    MaybeThrow("status");
    if (fake->onStatus) fake->onStatus();
    if (!fake->statusScript.empty()) {
        *status = fake->statusScript.front();
        fake->statusScript.pop_front();
    } else {
        *status = fake->status;
    }
    Record("status " + std::to_string(*status));
    return 0;
}

int32_t ENGINE_CALL SetText(uint32_t, uint32_t, const TextRecord* text) {
    MaybeThrow("setText");
    fake->lastText = *text;
    Record("setText " + std::string(text->text, text->length));
    return fake->setTextResult;
}

int32_t ENGINE_CALL Speak(uint32_t, uint32_t, int32_t) {
    Record("speak");
    if (fake->throwOnSpeak) throw fake->throwValue;
    if (fake->onSpeak) fake->onSpeak();
    return fake->speakResult;
}

const char* ENGINE_CALL ErrorText(uint32_t code) {
    Record("error " + std::to_string(code));
    MaybeThrow("error");
    auto found = fake->errorTexts.find(code);
    return found == fake->errorTexts.end() ? "" : found->second.c_str();
}

int32_t ENGINE_CALL SetParam(uint32_t, uint32_t, const ParamRecord* param, int32_t count) {
    std::string value;
    if (param->paramId == kParamLanguage || param->paramId == kParamVoice) {
        value = reinterpret_cast<const char*>(param->paramValue);
    } else {
        uint16_t number;
        memcpy(&number, param->paramValue, sizeof number);
        value = std::to_string(number);
    }
    Record("param " + std::to_string(param->paramId) + " " + value + (count == 1 ? "" : " count"));
    return (param->paramId == kParamLanguage || param->paramId == kParamVoice) ? fake->paramResult : 0;
}

int32_t ENGINE_CALL VoiceList(uint32_t, uint32_t, const EngineEntry*, const LanguageEntry* language,
                              VoiceEntry* list, int32_t* count) {
    Record(std::string("voices ") + language->text);
    int32_t n = 0;
    for (const std::string& voice : fake->voices) {
        if (n >= *count) break;
        memset(&list[n], 0, sizeof list[n]);
        strncpy(list[n].text, voice.c_str(), sizeof list[n].text - 1);
        ++n;
    }
    *count = n;
    return 0;
}

int32_t ENGINE_CALL LoadDictionary(uint32_t, uint32_t, int32_t, const void* bytes, uint32_t size,
                                   EngineDictionaryHandle* handle) {
    fake->dictionarySize = size;
    fake->dictionaryBytes.assign(static_cast<const char*>(bytes), size);
    Record("dictionary " + std::to_string(size));
    MaybeThrow("dictionary");
    if (fake->dictionaryResult != 0) return fake->dictionaryResult;
    *handle = EngineDictionaryHandle{0x51, 0x52};
    return 0;
}

int32_t ENGINE_CALL UnloadDictionary(uint32_t, uint32_t, uint32_t d0, uint32_t) {
    Record("unloadDictionary " + std::to_string(d0));
    return 0;
}
}  // namespace

std::vector<std::string> FakeEngine::Calls(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
    return found;
}

// Each entry is assigned to its typed EngineApi slot, without a cast: the
// compiler checks its shape against the entry-point list.
void InstallFakeEngine(FakeEngine& engine, const std::vector<std::string>& languages) {
    fake = &engine;
    EngineApi& api = Engine.api;
    api.stop = Stop;
    api.pause = Pause;
    api.resume = Resume;
    api.close = Close;
    api.unInitialize = UnInitialize;
    api.getInstStatus = Status;
    api.setText = SetText;
    api.speak = Speak;
    api.errorGetString = ErrorText;
    api.setParamList = SetParam;
    api.getVoiceList = VoiceList;
    api.loadDictionary = LoadDictionary;
    api.unloadDictionary = UnloadDictionary;
    Engine.engineLibrary = &engine;  // any non-null value: "a library is loaded"
    Engine.instanceHandle = EngineInstanceHandle{0x11, 0x12};
    Engine.classHandle = EngineClassHandle{0x21, 0x22};
    Engine.languageCount = static_cast<int32_t>(languages.size());
    for (size_t i = 0; i < languages.size(); ++i)
        strncpy(Engine.languages[i].text, languages[i].c_str(), sizeof Engine.languages[i].text - 1);
    Engine.initialised = 1;
}

int32_t Notify(uint32_t code, void* data, FILE* stream) {
    EngineMessage message{code, 0, data};
    return CbOutNotify(0, 0, stream, &message);
}
