// An engine table inside the test process, for unit tests of the speech and
// voice code: it records every call and answers as scripted.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/contract.h"

struct FakeEngine {
    std::vector<std::string> calls;  // e.g. "status 0", "setText Hallo", "speak", "stop", "param 2 100"
    std::deque<int32_t> statusScript;  // answers of the next status polls; then `status`
    int32_t status = 0;
    int32_t setTextResult = 0;
    int32_t speakResult = 0;
    int32_t paramResult = 0;  // for ids 64 and 128
    int32_t dictionaryResult = 0;
    bool throwOnSpeak = false;
    uint32_t throwValue = 0;
    std::function<void()> onSpeak;  // runs inside speak, e.g. to notify synchronously
    std::function<void()> onStatus;  // runs inside each status poll
    std::set<std::string> throwsIn;  // "status", "setText", "error", "stop", "dictionary": throw throwValue there
    std::map<uint32_t, std::string> errorTexts;
    std::vector<std::string> voices = {"Anna", "Petra"};  // every language's voice list
    TextRecord lastText{};
    uint32_t dictionarySize = 0;
    std::string dictionaryBytes;

    // The calls whose text begins with prefix.
    std::vector<std::string> Calls(const std::string& prefix) const;
};

// Calls may come from several threads: `calls` is only read once they are over.
// Puts the fake into the engine session's table and marks the session running
// with the given languages.
void InstallFakeEngine(FakeEngine& fake, const std::vector<std::string>& languages = {"Deutsch", "English"});

// Delivers one engine notification to the driver as the engine would.
int32_t Notify(uint32_t code, void* data = nullptr, FILE* stream = nullptr);
