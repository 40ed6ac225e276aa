#include "bridge/operations.h"

#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/connection.h"
#include "bridge/message.h"

namespace bridge {
namespace {

// --- The helper ------------------------------------------------------------
// Host threads. `helperLock` guards `helper` and `started`; it is held while a
// helper starts (callers need it anyway) but never during a call.
std::mutex helperLock;
std::shared_ptr<Connection> helper;
bool started = false;  // the first export starts a helper; after its death only kal_Initialize does
PathText bridgeFolder;

std::shared_ptr<Connection> StartLocked() {
    std::string error;
    helper = Connection::Start(bridgeFolder, error);
    started = true;
    return helper;
}

// The helper to call, started by the first export; null when none runs.
std::shared_ptr<Connection> Helper() {
    std::lock_guard<std::mutex> guard(helperLock);
    if (!started) StartLocked();
    return helper && helper->alive() ? helper : nullptr;
}

bool Call(const Request& request, const std::function<void(const Response&)>& use) {
    std::shared_ptr<Connection> connection = Helper();
    return connection && connection->Call(request, use);
}

// The result of a call without texts back, or `fallback` (the driver's answer
// without an engine) when no helper answers.
int32_t ResultOf(const Request& request, int32_t fallback = 0) {
    int32_t result = fallback;
    Call(request, [&](const Response& response) { result = response.result; });
    return result;
}

int32_t Simple(Op op, int32_t fallback, int32_t a0 = 0, int32_t a1 = 0, int32_t a2 = 0) {
    Request request;
    request.op = op;
    request.args[0] = a0;
    request.args[1] = a1;
    request.args[2] = a2;
    return ResultOf(request, fallback);
}

TextField FieldFromWide(const kal_char16* text, uint32_t unitLimit) {
    TextField field;
    if (!text) return field;
    uint32_t units = 0;
    while (units < unitLimit && text[units]) ++units;
    field.present = true;
    field.data = text;
    field.size = units * static_cast<uint32_t>(sizeof(kal_char16));
    return field;
}

// --- What the driver hands out ----------------------------------------------
// Host threads, under `voicesLock`, which is never held during a call. The
// descriptors are never freed or moved: the host may keep their addresses.
struct MirroredVoice {
    uint32_t address;  // the driver's descriptor in the helper; 0: slot unused
    KalVoiceDescriptor descriptor;
    char name[kVoiceTextLimit + 1], language[kVoiceTextLimit + 1], identifier[kVoiceTextLimit + 1];
};
std::mutex voicesLock;
MirroredVoice voices[kVoiceCapacity];
KalVoiceDescriptor* voiceList[kVoiceCapacity + 1];
KalVoiceDescriptor noVoice;  // GetCurrentVoice with no engine: an empty catalogue's first descriptor
// The driver's identification text, kept from the first helper that gave it
// (it never changes): kal_Info answers from here without a call.
char infoText[kInfoTextLimit + 1];
std::atomic<bool> infoKnown{false};

const char* Copy(const TextField& text, char* out) {
    if (!text.present) return nullptr;
    memcpy(out, text.data, text.size);
    out[text.size] = '\0';
    return out;
}

// The same driver descriptor always maps to the same descriptor here, updated in place.
KalVoiceDescriptor* Mirror(const VoiceRecord& record) {
    MirroredVoice* slot = nullptr;
    for (MirroredVoice& voice : voices) {
        if (voice.address == record.address) {
            slot = &voice;
            break;
        }
        if (!slot && voice.address == 0) slot = &voice;
    }
    if (!slot) return nullptr;  // more addresses than the catalogue holds: an unknown voice
    slot->address = record.address;
    slot->descriptor.name = Copy(record.name, slot->name);
    slot->descriptor.language = Copy(record.language, slot->language);
    slot->descriptor.identifier = Copy(record.identifier, slot->identifier);
    slot->descriptor.gender = record.gender;
    slot->descriptor.age = record.age;
    slot->descriptor.genderHigh = record.genderHigh;
    return &slot->descriptor;
}

// A new helper's driver may sit elsewhere: its descriptors are mapped afresh
// onto the same storage.
void ForgetAddresses() {
    std::lock_guard<std::mutex> guard(voicesLock);
    for (MirroredVoice& voice : voices) voice.address = 0;
}

// A filter as the helper receives it; the driver may write the language back.
Request FilterRequest(Op op, const KalVoiceFilter* filter) {
    Request request;
    request.op = op;
    if (!filter) return request;
    request.args[0] = 1;
    request.args[1] = filter->gender | (filter->age << 8);
    request.args[2] = filter->genderHigh;
    request.texts[0] = NarrowField(filter->language, kNarrowTextLimit);
    request.texts[1] = NarrowField(filter->name, kNarrowTextLimit);
    request.texts[2] = NarrowField(filter->identifier, kNarrowTextLimit);
    return request;
}

// The driver replaces the host's language text with its translation when that
// fits in the host's text; so does the bridge, with the helper's answer.
void WriteLanguageBack(KalVoiceFilter* filter, const Response& response) {
    if (!filter || !filter->language || !response.text.present) return;
    char* hostText = const_cast<char*>(filter->language);
    const size_t hostLength = strnlen(hostText, kNarrowTextLimit);
    if (response.text.size > hostLength) return;
    if (response.text.size == hostLength && memcmp(hostText, response.text.data, hostLength) == 0) return;
    memcpy(hostText, response.text.data, response.text.size);
    hostText[response.text.size] = '\0';
}

void ForwardCallbackState(const std::shared_ptr<Connection>& connection) {
    if (!HostCallback.load()) return;
    Request request;
    request.op = Op::SetSynthCallback;
    request.args[0] = 1;
    connection->Call(request, [](const Response&) {});
}

}  // namespace

void BridgeAttach(void* module) { bridgeFolder = ModuleFolder(module); }

void BridgeDetach(bool processEnding) {
    if (processEnding) return;  // the job ends the helper; nothing here may wait
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(helperLock);
        connection.swap(helper);
    }
    if (connection) connection->Quit();
    connection.reset();
}

int BridgeInitialize() {
    if (InsideHostCallback()) return kForbiddenInCallback;  // it would close the engine the event came from
    std::shared_ptr<Connection> connection;
    bool fresh = false;
    {
        std::lock_guard<std::mutex> guard(helperLock);
        if (!started || !helper || !helper->alive()) {
            // A helper that died is replaced; its events have been delivered.
            helper.reset();
            ForgetAddresses();
            fresh = StartLocked() != nullptr;
        }
        connection = helper;
    }
    // The new driver has no callback yet: the host registered one with the old.
    if (fresh) ForwardCallbackState(connection);
    int32_t result = -1;
    Request request;
    request.op = Op::Initialize;
    if (connection) connection->Call(request, [&](const Response& response) { result = response.result; });
    return result;
}

int BridgeTerminate() {
    if (InsideHostCallback()) return kForbiddenInCallback;
    return Simple(Op::Terminate, 0);
}

const char* BridgeInfo() {
    if (infoKnown.load()) return infoText;
    std::shared_ptr<Connection> connection = Helper();
    std::lock_guard<std::mutex> guard(voicesLock);
    if (!infoKnown.load() && connection && connection->info()[0]) {
        memcpy(infoText, connection->info(), strnlen(connection->info(), kInfoTextLimit));
        infoKnown.store(true);
    }
    return infoText;
}

int BridgeSetSynthCallback(KalSynthCallback callback) {
    HostCallback.store(callback);
    Simple(Op::SetSynthCallback, 0, callback ? 1 : 0);
    return static_cast<int>(reinterpret_cast<intptr_t>(callback));
}

void* BridgeSetUriCallback(void* callback) {
    Simple(Op::SetUriCallback, 0, callback ? 1 : 0);
    return callback;
}

int BridgeSynth(const kal_char16* text, int mark) {
    Request request;
    request.op = Op::Synth;
    request.args[0] = mark;
    request.texts[0] = FieldFromWide(text, kWideTextLimit);
    return ResultOf(request);
}

int BridgeSynthMark(const char* text, const char* marker, int mark) {
    Request request;
    request.op = Op::SynthMark;
    request.args[0] = mark;
    if (text) {
        const size_t textSize = strlen(text), markerSize = marker ? strlen(marker) : 0;
        const SynthMarkCut cut = CutSynthMark(text, textSize, marker ? marker : "", markerSize);
        request.texts[0] = NarrowField(text, cut.textSize);
        if (marker && !cut.dropMarker) request.texts[1] = NarrowField(marker, cut.markerSize);
    } else {
        request.texts[1] = NarrowField(marker, kNarrowTextLimit);
    }
    return ResultOf(request);
}

int BridgeKey(const char* text) {
    Request request;
    request.op = Op::Key;
    request.texts[0] = NarrowField(text, kKeyTextLimit);
    return ResultOf(request);
}

int BridgeChar(int code) { return Simple(Op::Char, 0, code); }
int BridgeSetParameter(int parameter, int value, int relative) {
    return Simple(Op::SetParameter, 0, parameter, value, relative);
}

int BridgeParameterWithoutEngine(int parameter, int current) {
    // Without an engine the driver's rate and volume are 0, the defaults 50 and 100.
    return parameter == KAL_PARAM_RATE ? (current ? 0 : 50) : parameter == KAL_PARAM_VOLUME ? (current ? 0 : 100) : 50;
}

int BridgeGetParameter(int parameter, int current) {
    return Simple(Op::GetParameter, BridgeParameterWithoutEngine(parameter, current), parameter, current);
}

int BridgeSetPunctuationList(const kal_char16* list) {
    Request request;
    request.op = Op::SetPunctuationList;
    request.texts[0] = FieldFromWide(list, kNarrowTextLimit / sizeof(kal_char16));
    return ResultOf(request);
}

KalVoiceDescriptor** BridgeListVoices(KalVoiceFilter* filter) {
    const Request request = FilterRequest(Op::ListVoices, filter);
    bool answered = Call(request, [&](const Response& response) {
        WriteLanguageBack(filter, response);
        std::lock_guard<std::mutex> guard(voicesLock);
        memset(voiceList, 0, sizeof voiceList);
        uint32_t next = 0;
        for (uint32_t i = 0; i < response.voiceCount; ++i)
            if (KalVoiceDescriptor* voice = Mirror(response.voices[i])) voiceList[next++] = voice;
    });
    if (!answered) {
        std::lock_guard<std::mutex> guard(voicesLock);
        memset(voiceList, 0, sizeof voiceList);
    }
    return voiceList;
}

int BridgeSetVoiceByName(const char* text) {
    Request request;
    request.op = Op::SetVoiceByName;
    request.texts[0] = NarrowField(text, kNarrowTextLimit);
    return ResultOf(request);
}

int BridgeSetVoiceByProperties(KalVoiceFilter* filter) {
    const Request request = FilterRequest(Op::SetVoiceByProperties, filter);
    int32_t result = 0;
    Call(request, [&](const Response& response) {
        WriteLanguageBack(filter, response);
        result = response.result;
    });
    return result;
}

KalVoiceDescriptor* BridgeGetCurrentVoice() {
    Request request;
    request.op = Op::GetCurrentVoice;
    KalVoiceDescriptor* current = &noVoice;
    Call(request, [&](const Response& response) {
        std::lock_guard<std::mutex> guard(voicesLock);
        if (response.voiceCount == 1)
            if (KalVoiceDescriptor* voice = Mirror(response.voices[0])) current = voice;
    });
    return current;
}

int BridgePause(int value) { return Simple(Op::Pause, 0, value); }
int BridgeStop() { return Simple(Op::Stop, 0); }
int BridgeIsPlaying() { return Simple(Op::IsPlaying, 0); }

int BridgeSynchronize() {
    // On the bridge's event thread it would wait for the callback it runs in.
    if (InsideHostCallback()) return kForbiddenInCallback;
    std::shared_ptr<Connection> connection = Helper();
    return connection ? connection->Synchronize() : 0;
}

KalVoiceDescriptor** BridgeNoVoices() {
    static KalVoiceDescriptor* none[1] = {nullptr};
    return none;
}

KalVoiceDescriptor* BridgeNoVoice() { return &noVoice; }
const char* BridgeNoInfo() { return infoText; }

}  // namespace bridge
