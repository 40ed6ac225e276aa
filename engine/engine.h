// Engine session: the one record of the engine, loading and binding the engine
// library, start-up, stop and shut-down.
#pragma once
#include <atomic>
#include <cstdint>

#include "config/outcome.h"
#include "engine/contract.h"

// The speech settings before the first voice activation, and the values the
// profile's "Volume", "Rate" and "Freq" default to at each activation.
constexpr int32_t kDefaultVolume = 100;
constexpr int32_t kDefaultRate = 50;
constexpr int32_t kDefaultFrequencyCode = 11;

// The one process-wide record of the engine, owned by engine/: only the
// operations declared here write it. The engine itself writes the handles, the
// lists and the dictionary handle through the pointers the calls pass.
struct EngineSession {
    // Written by the start-up (process attach, kal_Initialize) and the shut-down
    // (kal_Terminate, detach), which host calls behind the HostCallGate make one at
    // a time; read by everyone while `initialised` is set.
    EngineApi api{};
    void* engineLibrary = nullptr;
    EngineClassHandle classHandle{};
    EngineInstanceHandle instanceHandle{};
    EngineEntry engines[kEngineListCapacity]{};
    int32_t engineCount = kEngineListCapacity;
    LanguageEntry languages[kLanguageListCapacity]{};
    int32_t languageCount = 0;
    char engineFolder[256]{};
    OutDeviceRecord outDevice{};
    // Set last by the start-up, cleared by the shut-down; read on every thread.
    std::atomic<int32_t> initialised{0};

    // Voice activation and the voice lists (host calls behind the HostCallGate).
    VoiceEntry voiceInfo[kVoiceListCapacity]{};
    int32_t languageVoiceId = -1;
    EngineDictionaryHandle dictionaryHandle{};
    int32_t dictionaryLoaded = 0;
    std::atomic<int32_t> status{0};  // the status the latest activation polled

    // Written behind the HostCallGate (activation, kal_SetParameter); read by
    // kal_GetParameter and kal_Initialize on any host thread.
    std::atomic<int32_t> volume{kDefaultVolume};
    std::atomic<int32_t> rate{kDefaultRate};
    std::atomic<int32_t> frequencyCode{kDefaultFrequencyCode};
    // guarded by paramLock (calls.cpp).
    ParamRecord param{};

    // The hand-over: one thread at a time (the queue's hand-over protocol). The
    // engine reads the record, and the text it points to, until the text ends.
    TextRecord textRecord{};
    // The latest engine result; any thread.
    std::atomic<int32_t> lastResult{0};
};

// Owner: engine/ (only its files write it); speech/, voices/ and driver/ read it.
extern EngineSession Engine;

// Back to the start values the record has before process attach.
void EngineSessionReset();

// Loads the engine library from its full path, with its folder current while it
// loads, and binds the thirty entry points: Ok, LibraryMissing, LibraryNotLoadable,
// or EntryPointMissing (loaded, but a name is missing).
Outcome LoadSpeech(const char* path);

// The engine's part of a start-up: loads and binds the library named by "Api",
// initialises the engine, reads its engine and language lists, opens an instance
// and installs notify as its output device. Ok, or the step that failed (its
// text is the step's protocol line) with everything it obtained given back. The
// session counts as running only after CompleteEngineSession.
Outcome BeginEngineSession(EngineNotifyFn notify);
void CompleteEngineSession();

// --- Engine calls in progress (calls.cpp), for the helper's watchdog ------------------
// The longest-running guarded engine call: its start (PlatformTickCount) and
// its protocol line ("ft_ttsSpeak failed EX:"); false when none runs.
bool EngineOldestCall(uint32_t& startedAt, const char*& line);

// --- Calls while a session runs (calls.cpp); an engine that throws is written to
// the protocol and treated as the comment says.
void EngineNoteResult(int32_t result);  // into lastResult
// The engine instance's status word (0: idle); a poll that throws counts as busy (-1).
int32_t EngineInstanceStatus();
// Passes text (which must stay unchanged until the engine is done with it)
// through the session's text record. False when the engine threw.
bool EngineSetText(const char* text, int32_t* result);
bool EngineSpeak(int32_t* result);  // false when the engine threw
int32_t EngineRequestStop();  // the engine's result; 0 when it threw
void EnginePause();
void EngineResume();
const char* EngineErrorText(int32_t code);  // for its low 8 bits; "" when none
// One parameter: a number (its low 16 bits) or a text (cut to 127 characters).
// The engine's result; -1 when it threw.
int32_t EngineSendNumber(uint32_t id, int32_t value);
int32_t EngineSendText(uint32_t id, const char* text);
void EngineSetSpeechSettings(int32_t volume, int32_t rate, int32_t frequencyCode);
// The sample rate frequencyCode (the profile's "Freq") stands for; 0 for an unknown code.
int32_t EngineSampleRateHz();
void EngineSetVolume(int32_t volume);
void EngineSetRate(int32_t rate);
// True, and noted, when voiceId is not the voice whose language was chosen last
// (also when the engine rejected that language: it is not tried again).
bool EngineChooseLanguageFor(int32_t voiceId);
// A status poll whose value is kept in `status` for the activation's failure lines.
int32_t EnginePollStatusForActivation();
// Unloads the dictionary the session holds, then loads these bytes as the new one.
Outcome EngineLoadDictionary(const void* bytes, uint32_t size);  // marks it loaded when taken
// The dictionary an earlier activation loaded, if any, is unloaded.
void EngineUnloadDictionary();
// The end of a session: unloads the dictionary, closes the instance, uninitialises
// the class; the session is no longer initialised. Nothing the engine throws passes.
void EndEngineSession();
// Frees the engine library, if one is loaded.
void ReleaseEngineLibrary();

// The leading text of an engine list entry, cut to its entry when the engine
// left it unterminated. out receives at most outSize - 1 characters.
void EngineEntryText(const char* entry, size_t entrySize, char* out, size_t outSize);
template <typename Entry, size_t N>
void EngineEntryText(const Entry& entry, char (&out)[N]) {
    EngineEntryText(entry.text, sizeof entry.text, out, N);
}

// Part of the start-up (startup.cpp), before the session counts as running: asks
// the engine for the voices of languages[language] into voiceInfo; returns
// how many it reported (low 16 bits, at most the list's capacity).
int32_t RequestVoiceList(int32_t language);

