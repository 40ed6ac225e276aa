#include "bridge/operations.h"

#include <cstdio>
#include <cstring>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/connection.h"
#include "bridge/message.h"
#include "bridge/module_record.h"
#include "bridge/recovery.h"
#include "bridge/refusals.h"

namespace bridge {
namespace {

// --- The helper ------------------------------------------------------------
// Host threads and the event thread of a helper that died. `helperLock`
// guards the fields below; it is held while a helper starts and its settings
// and texts are given to it (callers wait for that anyway), never during
// another call. Taken before recovery's own lock.
struct HelperRecords {
    std::mutex helperLock;
    std::condition_variable helperChanged;  // a recovery ended, or the client unloads
    std::shared_ptr<Connection> helper;
    // A helper that died, kept until the next one dies or the client unloads, so
    // that its event thread (which recovered from its death) has long ended when
    // it is disposed of.
    std::shared_ptr<Connection> retired;
    PathText bridgeFolder;
    std::mutex voicesLock;  // see "What the driver hands out"
};
ModuleRecord<HelperRecords> helperRecords;
bool started = false;  // the first export starts a helper
uint32_t generation = 0;  // of the last helper started
uint32_t recoveredGeneration = 0;  // the last helper whose death has been dealt with
uint32_t recoveringGeneration = 0;  // the helper whose death is being dealt with; 0: none
uint32_t quickDeaths = 0;  // helpers in a row that died at once
bool detaching = false;

// How long kal_Synchronize waits for a helper that died under it to be
// replaced: the longest back-off and a start.
constexpr uint32_t kRecoveryWaitMs = kBackoffMaxMs + kHelperStartMs;

void HelperDied(Connection& dead);

ConnectionHooks Hooks() {
    ConnectionHooks hooks;
    hooks.delivering = &JournalEvent;
    hooks.died = &HelperDied;
    return hooks;
}

std::shared_ptr<Connection> StartLocked() {
    std::string error;
    helperRecords->helper = Connection::Start(helperRecords->bridgeFolder, ++generation, Hooks(), error);
    started = true;
    // Without a helper every text is silent: the host's one place to learn why.
    if (!helperRecords->helper) NoteProtocol(("Sprachausgabe-Prozess nicht gestartet: " + error).c_str());
    return helperRecords->helper;
}

// The helper to call, started by the first export; null when none runs.
std::shared_ptr<Connection> Helper() {
    std::lock_guard<std::mutex> guard(helperRecords->helperLock);
    if (!started) StartLocked();
    return helperRecords->helper && helperRecords->helper->alive() ? helperRecords->helper : nullptr;
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

// A text (kal_Synth, kal_Synth_Mark, kal_Key, kal_Char): noted before it is
// sent, so that a new helper gets it if this one dies first. A text given
// while no helper runs waits in the journal for the next one; the driver
// answers every text with 0.
int32_t SendText(const Request& request) {
    uint64_t number = 0;
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(helperRecords->helperLock);
        if (!started) StartLocked();
        if (helperRecords->helper && helperRecords->helper->alive()) connection = helperRecords->helper;
        number = JournalAdd(request, connection ? connection->generation() : 0);
    }
    int32_t result = 0;
    bool sent = false;
    if (connection) connection->Call(request, [&](const Response& response) { result = response.result; }, &sent);
    if (!sent) JournalSent(number, 0);
    return result;
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
    std::lock_guard<std::mutex> guard(helperRecords->voicesLock);
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

uint64_t SteadyNowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A new helper's driver is made as the host left the old one: its callback,
// voice, rate, volume and punctuation, then the texts that were waiting, in
// order. helperLock is held, so host calls wait until this is done.
void RestoreLocked(const std::shared_ptr<Connection>& connection) {
    ForgetAddresses();  // the new driver's descriptors are mapped afresh
    if (HostCallback.load()) {
        Request request;
        request.op = Op::SetSynthCallback;
        request.args[0] = 1;
        connection->Call(request, [](const Response&) {});
    }
    for (const StoredRequest& call : SettingsReplay()) connection->Call(call.View(), [](const Response&) {});
    uint32_t resent = 0;
    for (const auto& text : JournalWaiting(connection->generation())) {
        bool sent = false;
        JournalSent(text.first, connection->generation());
        connection->Call(text.second.View(), [](const Response&) {}, &sent);
        if (!sent) JournalSent(text.first, 0);
        resent += sent ? 1 : 0;
    }
    if (resent) {
        char line[96];
        snprintf(line, sizeof line, "Sprachausgabe-Prozess neu gestartet: %u Texte wieder eingereiht",
                 static_cast<unsigned>(resent));
        NoteProtocol(line);
    } else {
        NoteProtocol("Sprachausgabe-Prozess neu gestartet");
    }
}

// On the event thread of the helper that died, after its last events reached
// the host: the text it was speaking ends here, and a new helper takes over
// the rest, at once or, after deaths in a row, after a growing pause.
void HelperDied(Connection& dead) {
    char line[160];
    snprintf(line, sizeof line, "Sprachausgabe-Prozess unerwartet beendet (Code %X)",
             static_cast<unsigned>(dead.exitCode()));
    NoteProtocol(line);
    int32_t mark = 0;
    if (JournalTakeFaulting(dead.generation(), mark)) {
        snprintf(line, sizeof line, "Text %04X beendet, wird nicht wiederholt", static_cast<unsigned>(mark));
        NoteProtocol(line);
        DeliverToHost(KAL_MSG_END, mark);
    }
    const bool quick = SteadyNowMs() - dead.readyAt() < kQuickDeathMs;
    std::shared_ptr<Connection> keep;
    std::unique_lock<std::mutex> guard(helperRecords->helperLock);
    // Ends the recovery for whoever waits for it.
    auto finish = [&] {
        recoveredGeneration = dead.generation();
        recoveringGeneration = 0;
        if (keep) helperRecords->retired.swap(keep);  // the one retired before goes now: its thread has long ended
        helperRecords->helperChanged.notify_all();
    };
    // kal_Initialize may have started one meanwhile; an unload wants none.
    if (detaching || helperRecords->helper.get() != &dead) return finish();
    keep = helperRecords->helper;
    recoveringGeneration = dead.generation();
    quickDeaths = quick ? quickDeaths + 1 : 0;
    for (uint32_t attempt = 0; attempt < kRestartAttempts; ++attempt) {
        if (quickDeaths > 0) {
            const uint32_t shift = quickDeaths - 1 < 8 ? quickDeaths - 1 : 8;
            const uint32_t pause = kBackoffFirstMs << shift < kBackoffMaxMs ? kBackoffFirstMs << shift : kBackoffMaxMs;
            snprintf(line, sizeof line, "Sprachausgabe-Prozess sofort wieder beendet: Neustart in %u ms",
                     static_cast<unsigned>(pause));
            NoteProtocol(line);
            helperRecords->helperChanged.wait_for(guard, std::chrono::milliseconds(pause), [] { return detaching; });
            if (detaching || (helperRecords->helper && helperRecords->helper->alive())) return finish();
        }
        if (std::shared_ptr<Connection> fresh = StartLocked()) {
            RestoreLocked(fresh);
            return finish();
        }
        ++quickDeaths;  // a helper that does not start counts as one that died at once
    }
    NoteProtocol("Sprachausgabe-Prozess nicht neu gestartet: Sprachausgabe aus bis kal_Initialize");
    finish();
}

// The helper whose death is being dealt with (0: none).
uint32_t Recovering() {
    std::lock_guard<std::mutex> guard(helperRecords->helperLock);
    if (recoveringGeneration) return recoveringGeneration;
    // Dead, and its event thread has not begun to deal with it yet.
    const std::shared_ptr<Connection>& current = helperRecords->helper;
    if (!detaching && current && !current->alive() && recoveredGeneration != current->generation())
        return current->generation();
    return 0;
}

// Waits (bounded) until the death of the helper of `dead` has been dealt with.
void WaitForRecovery(uint32_t dead) {
    std::unique_lock<std::mutex> guard(helperRecords->helperLock);
    helperRecords->helperChanged.wait_for(guard, std::chrono::milliseconds(kRecoveryWaitMs),
                           [&] { return detaching || static_cast<int32_t>(recoveredGeneration - dead) >= 0; });
}

}  // namespace

void BridgeAttach(void* module) {
    helperRecords.Begin();
    RecoveryBegin();
    helperRecords->bridgeFolder = ModuleFolder(module);
    PrepareNotes();  // here, under the loader lock we already hold
    // A module pinned at its last unload keeps that life's records: the first
    // export starts a helper as on a fresh load, and no callback of the host's
    // last life is called.
    HostCallback.store(nullptr);
    std::lock_guard<std::mutex> guard(helperRecords->helperLock);
    started = false;
    detaching = false;
    quickDeaths = 0;
    recoveringGeneration = 0;
}

void BridgeDetach(bool processEnding) {
    if (processEnding) return;  // the job ends the helper; nothing here may wait
    std::shared_ptr<Connection> connection, old;
    {
        std::unique_lock<std::mutex> guard(helperRecords->helperLock);
        detaching = true;
        helperRecords->helperChanged.notify_all();
        // A recovery in its pause ends at once; its dead helper is then retired
        // and disposed of here, after its event thread has left this module.
        helperRecords->helperChanged.wait_for(guard, std::chrono::milliseconds(kThreadStopMs),
                               [] { return recoveringGeneration == 0; });
        connection.swap(helperRecords->helper);
        old.swap(helperRecords->retired);
    }
    if (connection && InsideHostCallback())
        NoteProtocol("Entladen im Callback: Treiber bleibt geladen, Sprachausgabe-Prozess wird beendet");
    if (connection) connection->Quit();
    connection.reset();
    old.reset();
    RecoveryReset();
    // A pinned module keeps its records for its next load.
    if (BridgePinned()) return;
    RecoveryEnd();
    helperRecords.End();
}

int BridgeInitialize() {
    if (InsideHostCallback()) return kForbiddenInCallback;  // it would close the engine the event came from
    SettingsTerminated(false);
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(helperRecords->helperLock);
        if (!started || !helperRecords->helper || !helperRecords->helper->alive()) {
            // A helper that died and was not replaced is replaced now; its events
            // have been delivered. The new driver has no callback yet: the host
            // registered one with the old.
            quickDeaths = 0;
            if (std::shared_ptr<Connection> fresh = StartLocked()) RestoreLocked(fresh);
        }
        connection = helperRecords->helper;
    }
    int32_t result = -1;
    Request request;
    request.op = Op::Initialize;
    if (connection) connection->Call(request, [&](const Response& response) { result = response.result; });
    return result;
}

int BridgeTerminate() {
    if (InsideHostCallback()) return kForbiddenInCallback;
    Request request;
    request.op = Op::Terminate;
    int32_t result = 0;
    if (Call(request, [&](const Response& response) { result = response.result; })) SettingsTerminated(true);
    return result;
}

const char* BridgeInfo() {
    if (infoKnown.load()) return infoText;
    std::shared_ptr<Connection> connection = Helper();
    std::lock_guard<std::mutex> guard(helperRecords->voicesLock);
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
    return SendText(request);
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
    return SendText(request);
}

int BridgeKey(const char* text) {
    Request request;
    request.op = Op::Key;
    request.texts[0] = NarrowField(text, kKeyTextLimit);
    return SendText(request);
}

int BridgeChar(int code) {
    Request request;
    request.op = Op::Char;
    request.args[0] = code;
    return SendText(request);
}

int BridgeSetParameter(int parameter, int value, int relative) {
    Request request;
    request.op = Op::SetParameter;
    request.args[0] = parameter;
    request.args[1] = value;
    request.args[2] = relative;
    int32_t result = 0;
    if (Call(request, [&](const Response& response) { result = response.result; }))
        SettingsParameter(parameter, value);
    return result;
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
    int32_t result = 0;
    if (Call(request, [&](const Response& response) { result = response.result; })) SettingsPunctuation(request);
    return result;
}

KalVoiceDescriptor** BridgeListVoices(KalVoiceFilter* filter) {
    const Request request = FilterRequest(Op::ListVoices, filter);
    bool answered = Call(request, [&](const Response& response) {
        WriteLanguageBack(filter, response);
        std::lock_guard<std::mutex> guard(helperRecords->voicesLock);
        memset(voiceList, 0, sizeof voiceList);
        uint32_t next = 0;
        for (uint32_t i = 0; i < response.voiceCount; ++i)
            if (KalVoiceDescriptor* voice = Mirror(response.voices[i])) voiceList[next++] = voice;
    });
    if (!answered) {
        std::lock_guard<std::mutex> guard(helperRecords->voicesLock);
        memset(voiceList, 0, sizeof voiceList);
    }
    return voiceList;
}

int BridgeSetVoiceByName(const char* text) {
    Request request;
    request.op = Op::SetVoiceByName;
    request.texts[0] = NarrowField(text, kNarrowTextLimit);
    int32_t result = 0;
    if (Call(request, [&](const Response& response) { result = response.result; })) SettingsVoice(request);
    return result;
}

int BridgeSetVoiceByProperties(KalVoiceFilter* filter) {
    const Request request = FilterRequest(Op::SetVoiceByProperties, filter);
    // Noted as sent: the driver may write the language back into the host's filter.
    const StoredRequest asSent(request);
    int32_t result = 0;
    if (Call(request, [&](const Response& response) {
            WriteLanguageBack(filter, response);
            result = response.result;
        }))
        SettingsVoice(asSent.View());
    return result;
}

KalVoiceDescriptor* BridgeGetCurrentVoice() {
    Request request;
    request.op = Op::GetCurrentVoice;
    KalVoiceDescriptor* current = &noVoice;
    Call(request, [&](const Response& response) {
        std::lock_guard<std::mutex> guard(helperRecords->voicesLock);
        if (response.voiceCount == 1)
            if (KalVoiceDescriptor* voice = Mirror(response.voices[0])) current = voice;
    });
    return current;
}

int BridgePause(int value) { return Simple(Op::Pause, 0, value); }

int BridgeStop() {
    JournalClear();  // what the host stops is not spoken again after a fault
    return Simple(Op::Stop, 0);
}

int BridgeIsPlaying() {
    const uint64_t before = JournalNextNumber();
    Request request;
    request.op = Op::IsPlaying;
    int32_t result = 0;
    // An idle driver has spoken every text sent before it was asked.
    if (Call(request, [&](const Response& response) { result = response.result; }) && result == 0)
        JournalDoneUpTo(before - 1);
    return result;
}

int BridgeSynchronize() {
    // On the bridge's event thread it would wait for the callback it runs in.
    if (InsideHostCallback()) return kForbiddenInCallback;
    for (uint32_t round = 0; round < kSynchronizeRounds; ++round) {
        std::shared_ptr<Connection> connection = Helper();
        if (!connection) {
            // Between a helper's death and the next one's start: the texts
            // queued meanwhile are spoken by the next one, and waited for.
            const uint32_t dead = Recovering();
            if (dead != 0) WaitForRecovery(dead);
            else if (!Helper()) return 0;  // none comes (or one came meanwhile: the loop takes it)
            continue;
        }
        const uint64_t before = JournalNextNumber();
        const int32_t result = connection->Synchronize();
        if (connection->alive()) {
            JournalDoneUpTo(before - 1);
            return result;
        }
        // The helper died under the wait: its texts go on in the next one, and so does the wait.
        WaitForRecovery(connection->generation());
    }
    return 0;
}

KalVoiceDescriptor** BridgeNoVoices() {
    static KalVoiceDescriptor* none[1] = {nullptr};
    return none;
}

KalVoiceDescriptor* BridgeNoVoice() { return &noVoice; }
const char* BridgeNoInfo() { return infoText; }

}  // namespace bridge
