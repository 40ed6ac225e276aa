// What simengine.ini sets: the lists the engine offers and the test script.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct Config {
    std::vector<std::string> engines;
    std::vector<std::string> languages;
    std::map<std::string, std::vector<std::string>> voices;  // by language name
    bool sync = false;
    uint32_t msPerChar = 2;
    std::map<std::string, int32_t> fail;  // lower-case entry name without prefix -> result
    std::vector<int32_t> statusScript;
    bool stuckBusy = false;
    bool beginInSpeak = false;  // worker mode: the begin message comes inside Speak
    bool bufferMessages = false;
    uint32_t dictionaryHandle = 1;
    std::map<uint32_t, std::string> errors;
    // A fault Speak meets on a text holding faultText (none when empty): what a
    // faulty engine does to the process that loaded it.
    enum class Fault { None, Abort, AccessViolation, Hang, Leak };
    std::string faultText;
    Fault fault = Fault::None;
    uint32_t leakMB = 64;  // Leak: memory taken, and never given back, per such text

    // The forced result of an entry point ("SetText"), 0 when none is scripted.
    int32_t forced(const char* entry) const;
};

// Reads <folder>simengine.ini; missing lists fall back to the built-in set.
Config loadConfig(const std::string& folder);

}  // namespace sim
