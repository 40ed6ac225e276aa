// The thirty engine entry points (cdecl, exported by name through the .def
// files) and the sim_ test exports. Every call writes one journal line.
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "simengine/journal.h"
#include "simengine/state.h"

using namespace sim;

namespace {

const std::string kDigits = "0123456789abcdef";

bool classValid(uint32_t c0, uint32_t c1) {
    return g.initialized && c0 == kClassTag && c1 == g.classGeneration;
}

Instance* findInstance(uint32_t i0, uint32_t i1) {
    uint32_t slot = i0 - kInstanceTag;
    if (slot >= uint32_t(kMaxInstances)) return nullptr;
    Instance& in = g.instances[slot];
    return in.open && in.serial == i1 ? &in : nullptr;
}

// How a hung engine waits: for ever, in steps of this.
constexpr DWORD kHangStepMs = 1000;

// What a faulty engine does inside Speak, under its own lock, as real ones do.
void commitFault(const Config& config) {
    journalLine("Fault " + config.faultText);
    switch (config.fault) {
    case Config::Fault::Abort: abort();
    case Config::Fault::AccessViolation: *static_cast<volatile int*>(nullptr) = 1; break;
    case Config::Fault::Hang:
        for (;;) Sleep(kHangStepMs);
    case Config::Fault::Leak: {
        // Committed and written, so it counts as the process's own memory.
        const SIZE_T size = SIZE_T(config.leakMB) << 20;
        if (char* block = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
            for (SIZE_T at = 0; at < size; at += 4096) block[at] = 1;
        break;
    }
    case Config::Fault::None: break;
    }
}

// The first check that fails decides the result; a scripted one comes first.
int32_t check(const char* entry, std::initializer_list<int32_t> failures) {
    int32_t r = g.config.forced(entry);
    for (int32_t f : failures) if (!r) r = f;
    return r;
}

void applyConfig() {
    g.config = loadConfig(g.folder);
    g.statusScriptPos = 0;
    g.nextDictionary = g.config.dictionaryHandle;
}

// Zeroes and fills at most `capacity` entries; returns how many.
template <typename Entry>
int32_t fill(const std::vector<std::string>& names, Entry* list, int32_t capacity) {
    int32_t n = 0;
    for (; n < capacity && size_t(n) < names.size(); ++n) {
        std::memset(&list[n], 0, sizeof(Entry));
        std::strncpy(list[n].text, names[n].c_str(), sizeof(list[n].text) - 1);
    }
    return n;
}

// Shared by the three list entry points; `line` gets the journal fields.
template <typename Entry>
int32_t listEntry(const char* entry, int32_t argumentError, const std::vector<std::string>* names,
                  Entry* list, int32_t* count, std::string line) {
    int32_t capacity = count ? *count : 0;
    int32_t r = check(entry, {argumentError,
                              (!count || capacity < 0 || (capacity && !list)) ? kErrBadArgument : 0});
    if (!r) *count = names ? fill(*names, list, capacity) : 0;
    journalLine(line + "capacity=" + std::to_string(capacity) + " count=" +
                std::to_string(count ? *count : 0) + " result=" + std::to_string(r));
    return r;
}

int32_t unusedEntry(const char* entry) {
    Guard guard;
    int32_t r = check(entry, {});
    journalLine(entry + failureSuffix(r));
    return r;
}

// Instance entry points that journal "<Name> result=<r>" and act on success.
template <typename Action>
int32_t instanceEntry(const char* entry, uint32_t i0, uint32_t i1, Action action) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check(entry, {in ? 0 : kErrBadHandle});
    journalLine(std::string(entry) + " result=" + std::to_string(r));
    if (!r) action(guard, *in);
    return r;
}

uint32_t fnv1a(const void* bytes, uint32_t size) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < size; ++i) h = (h ^ static_cast<const uint8_t*>(bytes)[i]) * 16777619u;
    return h;
}

std::string hex8(uint32_t v) {
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4) s[i] = kDigits[v & 15];
    return s;
}

}  // namespace

extern "C" {

int32_t ENGINE_CALL ssft_ttsInitialize(const char* folder, EngineClassHandle* outClass) {
    Guard guard;
    applyConfig();
    int32_t r = check("Initialize", {outClass ? 0 : kErrBadArgument});
    if (!r) {
        g.initialized = true;
        *outClass = EngineClassHandle{kClassTag, ++g.classGeneration};
    }
    journalLine("Initialize folder=" + escapedText(folder, MAX_PATH * 4) + " result=" + std::to_string(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsGetEngineList(uint32_t c0, uint32_t c1, int32_t, EngineEntry* list,
                                          int32_t* count) {
    Guard guard;
    return listEntry("GetEngineList", classValid(c0, c1) ? 0 : kErrBadHandle, &g.config.engines, list, count,
                     "GetEngineList ");
}

int32_t ENGINE_CALL ssft_ttsGetLanguageList(uint32_t c0, uint32_t c1, const EngineEntry* engine,
                                            LanguageEntry* list, int32_t* count) {
    Guard guard;
    std::string name = escapedText(engine ? engine->text : nullptr, sizeof(EngineEntry));
    return listEntry("GetLanguageList", classValid(c0, c1) ? 0 : kErrBadHandle, &g.config.languages, list, count,
                     "GetLanguageList engine=" + name + " ");
}

int32_t ENGINE_CALL ssft_ttsGetVoiceList(uint32_t c0, uint32_t c1, const EngineEntry*,
                                         const LanguageEntry* language, VoiceEntry* list,
                                         int32_t* count) {
    Guard guard;
    const char* text = language ? language->text : nullptr;
    std::string name = text ? std::string(text, strnlen(text, sizeof(LanguageEntry))) : "";
    auto it = g.config.voices.find(name);
    const std::vector<std::string>* voices = it == g.config.voices.end() ? nullptr : &it->second;
    return listEntry("GetVoiceList",
                     !classValid(c0, c1) ? kErrBadHandle : language ? 0 : kErrBadArgument, voices, list, count,
                     "GetVoiceList language=" + escaped(name.data(), name.size()) + " ");
}

int32_t ENGINE_CALL ssft_ttsUnInitialize(uint32_t c0, uint32_t c1) {
    Guard guard;
    int32_t r = check("UnInitialize", {classValid(c0, c1) ? 0 : kErrBadHandle});
    if (!r) {
        for (Instance& in : g.instances)
            if (in.open) shutdownInstance(guard, in);
        g.initialized = false;
        g.dictionaries.clear();
    }
    journalLine("UnInitialize" + failureSuffix(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsOpen(uint32_t c0, uint32_t c1, const EngineEntry* engine,
                                 EngineInstanceHandle* outInstance, int32_t) {
    Guard guard;
    Instance* free = nullptr;
    for (Instance& in : g.instances)
        if (!free && !in.open && !in.workerRunning) free = &in;
    int32_t r = check("Open", {classValid(c0, c1) ? 0 : kErrBadHandle,
                               outInstance ? 0 : kErrBadArgument, free ? 0 : kErrBusy});
    if (!r) {
        Instance& in = *free;
        in.open = true;
        in.serial = ++g.instanceSerial;
        in.notify = nullptr;
        in.text.clear();
        in.rate = 50;
        in.speech = Speech::Idle;
        in.pending.clear();
        in.workerQuit = false;
        *outInstance = EngineInstanceHandle{kInstanceTag + uint32_t(free - g.instances), in.serial};
    }
    journalLine("Open engine=" + escapedText(engine ? engine->text : nullptr, sizeof(EngineEntry)) +
                " result=" + std::to_string(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsClose(uint32_t i0, uint32_t i1) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("Close", {in ? 0 : kErrBadHandle});
    if (!r) shutdownInstance(guard, *in);
    journalLine("Close" + failureSuffix(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsSetOutDevice(uint32_t i0, uint32_t i1, const OutDeviceRecord* device) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("SetOutDevice", {in ? 0 : kErrBadHandle, device ? 0 : kErrBadArgument});
    if (!r) in->notify = device->notify;
    journalLine("SetOutDevice result=" + std::to_string(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsStop(uint32_t i0, uint32_t i1) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("Stop", {in ? 0 : kErrBadHandle});
    bool speaking = in && in->speech != Speech::Idle;
    journalLine("Stop speaking=" + std::to_string(speaking ? 1 : 0) + " result=" + std::to_string(r));
    if (!r) stopSpeaking(guard, *in);
    return r;
}

int32_t ENGINE_CALL ssft_ttsPause(uint32_t i0, uint32_t i1) {
    return instanceEntry("Pause", i0, i1, pauseSpeaking);
}

int32_t ENGINE_CALL ssft_ttsResume(uint32_t i0, uint32_t i1) {
    return instanceEntry("Resume", i0, i1, resumeSpeaking);
}

int32_t ENGINE_CALL ssft_ttsSpeak(uint32_t i0, uint32_t i1, int32_t) {
    const LONGLONG entry = clockNow(), before = ThreadEngineTicks();
    Guard guard;
    g.lastSpeakEntry = entry;
    g.speakerTicksAtEntry = before;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("Speak", {in ? 0 : kErrBadHandle,
                                in && in->speech != Speech::Idle ? kErrBusy : 0});
    journalLine("Speak result=" + std::to_string(r));
    if (!r && g.config.fault != Config::Fault::None && !g.config.faultText.empty() &&
        in->text.find(g.config.faultText) != std::string::npos)
        commitFault(g.config);
    if (!r) startSpeaking(guard, *in);
    return r;
}

int32_t ENGINE_CALL ssft_ttsGetInstStatus(uint32_t i0, uint32_t i1, int32_t* outStatus) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("GetInstStatus", {in ? 0 : kErrBadHandle, outStatus ? 0 : kErrBadArgument});
    if (!r) {
        int32_t status = in->speech == Speech::Idle ? 0 : 1;
        if (g.statusScriptPos < g.config.statusScript.size())
            status = g.config.statusScript[g.statusScriptPos++];
        if (g.config.stuckBusy && status == 0) status = 1;
        *outStatus = status;
    }
    journalLine("GetInstStatus status=" + std::to_string(outStatus ? *outStatus : 0) +
                failureSuffix(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsSetParamList(uint32_t i0, uint32_t i1, const ParamRecord* params,
                                         int32_t count) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("SetParamList", {in ? 0 : kErrBadHandle,
                                       count > 0 && !params ? kErrBadArgument : 0});
    std::string tail = " count=" + std::to_string(count) + " result=" + std::to_string(r);
    if (count <= 0 || !params) journalLine("SetParamList" + tail);
    for (int32_t i = 0; params && i < count; ++i) {
        const ParamRecord& p = params[i];
        const char* bytes = reinterpret_cast<const char*>(p.paramValue);
        uint16_t value = uint16_t(p.paramValue[0] | (p.paramValue[1] << 8));
        if (p.paramId == kParamLanguage || p.paramId == kParamVoice)
            journalLine("SetParamList id=" + std::to_string(p.paramId) +
                        " text=" + escapedText(bytes, sizeof(p.paramValue)) + tail);
        else
            journalLine("SetParamList id=" + std::to_string(p.paramId) +
                        " value=" + std::to_string(value) + tail);
        if (!r && p.paramId == kParamRate) in->rate = value;
    }
    return r;
}

int32_t ENGINE_CALL ssft_ttsLoadDictionary(uint32_t i0, uint32_t i1, int32_t, const void* bytes,
                                           uint32_t size, EngineDictionaryHandle* outDictionary) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("LoadDictionary", {in ? 0 : kErrBadHandle,
                                         !outDictionary || (size && !bytes) ? kErrBadArgument : 0});
    EngineDictionaryHandle handle{0, 0};
    if (!r) {
        handle = EngineDictionaryHandle{g.nextDictionary++, kDictionarySecond};
        g.dictionaries.insert({handle.first, handle.second});
        *outDictionary = handle;
    }
    journalLine("LoadDictionary size=" + std::to_string(size) +
                " sum=" + hex8(fnv1a(bytes, bytes ? size : 0)) + " handle=" +
                std::to_string(handle.first) + "," + std::to_string(handle.second) +
                " result=" + std::to_string(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsUnloadDictionary(uint32_t i0, uint32_t i1, uint32_t d0, uint32_t d1) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    int32_t r = check("UnloadDictionary", {in ? 0 : kErrBadHandle,
                                           g.dictionaries.erase({d0, d1}) ? 0 : kErrBadHandle});
    journalLine("UnloadDictionary handle=" + std::to_string(d0) + "," + std::to_string(d1) +
                failureSuffix(r));
    return r;
}

int32_t ENGINE_CALL ssft_ttsSetText(uint32_t i0, uint32_t i1, const TextRecord* text) {
    Guard guard;
    Instance* in = findInstance(i0, i1);
    uint32_t length = text ? text->length : 0;
    const char* bytes = text ? text->text : nullptr;
    int32_t r = check("SetText", {in ? 0 : kErrBadHandle,
                                  !text || (length && !bytes) ? kErrBadArgument : 0});
    if (!r) in->text.assign(bytes ? bytes : "", bytes ? length : 0);
    journalLine("SetText length=" + std::to_string(length) +
                " text=" + (bytes ? escaped(bytes, length) : std::string()) +
                " result=" + std::to_string(r));
    return r;
}

const char* ENGINE_CALL ssft_ttsErrorGetString(uint32_t code) {
    Guard guard;
    // A scripted failure gives no text at all, to try the driver's handling of it.
    int32_t r = check("ErrorGetString", {});
    journalLine("ErrorGetString code=" + std::to_string(int32_t(code)) + failureSuffix(r));
    if (r) return nullptr;
    auto it = g.config.errors.find(code);
    std::string text = it != g.config.errors.end() ? it->second
                                                   : "sim error " + std::to_string(int32_t(code));
    return g.errorTexts.insert(text).first->c_str();
}

int32_t ENGINE_CALL ssft_ttsSetInDevice() { return unusedEntry("SetInDevice"); }
int32_t ENGINE_CALL ssft_ttsProcess() { return unusedEntry("Process"); }
int32_t ENGINE_CALL ssft_ttsGetParamList() { return unusedEntry("GetParamList"); }
int32_t ENGINE_CALL ssft_ttsGetLipSyncInfo() { return unusedEntry("GetLipSyncInfo"); }
int32_t ENGINE_CALL ssft_ttsGetPPList() { return unusedEntry("GetPPList"); }
int32_t ENGINE_CALL ssft_ttsBackward() { return unusedEntry("Backward"); }
int32_t ENGINE_CALL ssft_ttsForward() { return unusedEntry("Forward"); }
int32_t ENGINE_CALL ssft_ttsGetSpeechDBList() { return unusedEntry("GetSpeechDBList"); }
int32_t ENGINE_CALL ssft_ttsActivateDictionary() { return unusedEntry("ActivateDictionary"); }
int32_t ENGINE_CALL ssft_ttsDeactivateDictionary() { return unusedEntry("DeactivateDictionary"); }
int32_t ENGINE_CALL ssft_ttsGetWordTranscriptions() { return unusedEntry("GetWordTranscriptions"); }
int32_t ENGINE_CALL ssft_ttsFreeTranscriptions() { return unusedEntry("FreeTranscriptions"); }

// Test export: re-reads simengine.ini without a new Initialize. Not journaled.
int32_t ENGINE_CALL sim_Reload() {
    Guard guard;
    applyConfig();
    return 0;
}

// Benchmark export: out[0] the calling thread's engine ticks so far, out[1] the
// clock at the last Speak's entry, out[2] that Speak's thread's engine ticks then.
// Not journaled.
void ENGINE_CALL sim_Clock(int64_t* out) {
    // No Guard: its time would count as the caller's engine time.
    AcquireSRWLockExclusive(&g.lock);
    out[0] = ThreadEngineTicks();
    out[1] = g.lastSpeakEntry;
    out[2] = g.speakerTicksAtEntry;
    ReleaseSRWLockExclusive(&g.lock);
}

// Test export: worker threads that exist now (0 after Close/UnInitialize).
int32_t ENGINE_CALL sim_WorkerCount() {
    Guard guard;
    return workerCount();
}

}  // extern "C"

// Each of the thirty has the shape the driver binds it with.
ENGINE_CHECK_ENTRY_POINTS()
