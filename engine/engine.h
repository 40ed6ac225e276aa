// Engine session: the one record of the engine, loading and binding the engine
// library, start-up, stop and shut-down.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/contract.h"

// The one process-wide record of the engine. Written by the start-up and
// shut-down (process attach/detach, kal_Initialize, kal_Terminate) and by the
// host's calls; `initialised` is also read on the engine's notification thread
// (by the queue), so it is atomic. The engine writes `status`, the handles and
// the lists through pointers during the calls that pass them.
struct EngineSession {
    EngineApi api{};
    void* engineLibrary = nullptr;
    std::atomic<int32_t> initialised{0};
    // Written by voice activation and kal_SetParameter, read by kal_GetParameter
    // and kal_Initialize on any host thread.
    std::atomic<int32_t> volume{100};
    std::atomic<int32_t> rate{50};
    std::atomic<int32_t> frequencyCode{11};
    TextRecord textRecord{};
    EngineDictionaryHandle dictionaryHandle{};
    int32_t dictionaryLoaded = 0;
    void* dictionaryFile = nullptr;
    int32_t dictionaryReadOk = 0;
    void* dictionaryData = nullptr;
    uint32_t dictionarySize = 0;
    uint32_t dictionaryBytesRead = 0;
    std::atomic<int32_t> lastResult{0};  // the latest engine result; any thread
    EngineClassHandle classHandle{};
    EngineInstanceHandle instanceHandle{};
    EngineEntry engines[kEngineListCapacity]{};
    int32_t engineCount = kEngineListCapacity;
    LanguageEntry languages[kLanguageListCapacity]{};
    ParamRecord param{};
    OutDeviceRecord outDevice{};
    int32_t languageCount = 0;
    char engineFolder[256]{};
    int32_t languageVoiceId = -1;
    std::atomic<int32_t> status{0};  // the latest status a voice activation polled
    VoiceEntry voiceInfo[kVoiceListCapacity]{};
};

extern EngineSession Engine;

// Back to the start values the record has before process attach.
void EngineSessionReset();

// Loads the engine library from its full path, with its folder current while it
// loads, and binds the thirty entry points. 0; -1 file missing or not loadable;
// -2 loaded but a name is missing.
int32_t LoadSpeech(const char* path);

// Start-up: 0 when the session runs (already, or now), -1 when it failed.
int32_t GoInitSpeech();
// The engine instance's status word (0: idle); a poll that throws counts as busy (-1).
int32_t EngineInstanceStatus();
// The end of a session: unloads the dictionary, closes the instance, uninitialises
// the class; the session is no longer initialised. Nothing the engine throws passes.
void CloseEngineSession();
// Frees the engine library. Always 0.
int32_t ReleaseEngineLibrary();

// The leading text of an engine list entry, cut to its entry when the engine
// left it unterminated. out receives at most outSize - 1 characters.
void EngineEntryText(const char* entry, size_t entrySize, char* out, size_t outSize);
template <typename Entry, size_t N>
void EngineEntryText(const Entry& entry, char (&out)[N]) {
    EngineEntryText(entry.text, sizeof entry.text, out, N);
}

// The texts that name one voice of the engine, and its profile section
// "Nalvo <language> <voice>", cut to 255 characters.
struct VoiceNames {
    char language[256];
    char voice[256];
    char section[256];
};
// From languages[language] and voiceInfo[voice] as they stand.
void ReadVoiceNames(int32_t language, int32_t voice, VoiceNames& out);
// Asks the engine for the voices of languages[language] into voiceInfo; returns
// how many it reported (low 16 bits, at most the list's capacity).
int32_t RequestVoiceList(int32_t language);

