#include "simengine/config.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

const char kMissing[] = "\x01";  // a default no ini value can have
const int kMaxCount = 1000;      // a typo in Count must not loop for ever

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The profile functions keep inline comments, so drop "; ..." after a blank.
std::string cleaned(std::string s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ';' && (i == 0 || s[i - 1] == ' ' || s[i - 1] == '\t')) {
            s.resize(i);
            break;
        }
    }
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    return s.substr(begin, s.find_last_not_of(" \t") + 1 - begin);
}

// Decimal, or hexadecimal after 0x (a leading 0 is not octal).
int64_t number(const std::string& text, int64_t fallback) {
    std::string s = cleaned(text);
    if (s.empty()) return fallback;
    bool negative = s[0] == '-';
    size_t at = negative ? 1 : 0;
    int base = 10;
    if (s.size() > at + 1 && s[at] == '0' && (s[at + 1] == 'x' || s[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    char* end = nullptr;
    int64_t value = std::strtoll(s.c_str() + at, &end, base);
    if (end == s.c_str() + at) return fallback;
    return negative ? -value : value;
}

struct Ini {
    std::string path;

    bool read(const char* section, const std::string& key, std::string& out) const {
        char buf[2048];
        GetPrivateProfileStringA(section, key.c_str(), kMissing, buf, sizeof buf, path.c_str());
        if (std::string(buf) == kMissing) return false;
        out = cleaned(buf);
        return true;
    }
    int64_t num(const char* section, const char* key, int64_t fallback) const {
        std::string v;
        return read(section, key, v) ? number(v, fallback) : fallback;
    }
    // Count and Name0..; a section without Count keeps the built-in list.
    std::vector<std::string> list(const std::string& section,
                                  const std::vector<std::string>& builtin) const {
        std::string count;
        if (!read(section.c_str(), "Count", count)) return builtin;
        int64_t n = std::min<int64_t>(std::max<int64_t>(number(count, 0), 0), kMaxCount);
        std::vector<std::string> names;
        for (int64_t i = 0; i < n; ++i) {
            std::string name;
            read(section.c_str(), "Name" + std::to_string(i), name);
            names.push_back(name);
        }
        return names;
    }
    // key=value pairs of a whole section.
    std::vector<std::pair<std::string, std::string>> section(const char* name) const {
        std::vector<char> buf(32768);
        DWORD n = GetPrivateProfileSectionA(name, buf.data(), static_cast<DWORD>(buf.size()),
                                            path.c_str());
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const char* p = buf.data(); p < buf.data() + n && *p; p += std::strlen(p) + 1) {
            std::string line(p);
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            pairs.emplace_back(cleaned(line.substr(0, eq)), cleaned(line.substr(eq + 1)));
        }
        return pairs;
    }
};

const std::vector<std::string> kBuiltinEngines = {"SimEngine"};
const std::vector<std::string> kBuiltinLanguages = {"Deutsch", "English"};
const std::map<std::string, std::vector<std::string>> kBuiltinVoices = {
    {"Deutsch", {"Anna", "Petra"}},
    {"English", {"Daniel", "Samantha", "Tom"}},
};

}  // namespace

int32_t Config::forced(const char* entry) const {
    auto it = fail.find(lower(entry));
    return it == fail.end() ? 0 : it->second;
}

Config loadConfig(const std::string& folder) {
    Ini ini{folder + "simengine.ini"};
    Config c;
    c.engines = ini.list("Engines", kBuiltinEngines);
    c.languages = ini.list("Languages", kBuiltinLanguages);
    for (const std::string& language : c.languages) {
        auto builtin = kBuiltinVoices.find(language);
        c.voices[language] = ini.list("Voices." + language, builtin == kBuiltinVoices.end()
                                                                ? std::vector<std::string>()
                                                                : builtin->second);
    }
    c.sync = ini.num("Script", "Sync", 0) != 0;
    c.msPerChar = static_cast<uint32_t>(std::max<int64_t>(ini.num("Script", "MsPerChar", 2), 0));
    c.stuckBusy = ini.num("Script", "StuckBusy", 0) != 0;
    c.beginInSpeak = ini.num("Script", "BeginInSpeak", 0) != 0;
    c.bufferMessages = ini.num("Script", "BufferMessages", 0) != 0;
    c.dictionaryHandle = static_cast<uint32_t>(ini.num("Script", "DictionaryHandle", 1));
    std::string fault;
    if (ini.read("Script", "Fault", fault) && ini.read("Script", "FaultText", c.faultText)) {
        fault = lower(fault);
        c.fault = fault == "abort"   ? Config::Fault::Abort
                  : fault == "fault" ? Config::Fault::AccessViolation
                  : fault == "hang"  ? Config::Fault::Hang
                  : fault == "leak"  ? Config::Fault::Leak
                                     : Config::Fault::None;
    }
    c.leakMB = static_cast<uint32_t>(std::max<int64_t>(ini.num("Script", "LeakMB", 64), 1));
    std::string script;
    if (ini.read("Script", "StatusScript", script)) {
        size_t at = 0;
        while (at <= script.size() && !script.empty()) {
            size_t comma = script.find(',', at);
            if (comma == std::string::npos) comma = script.size();
            c.statusScript.push_back(static_cast<int32_t>(number(script.substr(at, comma - at), 0)));
            at = comma + 1;
        }
    }
    for (const auto& kv : ini.section("Script")) {
        std::string key = lower(kv.first);
        if (key.compare(0, 5, "fail.") == 0)
            c.fail[key.substr(5)] = static_cast<int32_t>(number(kv.second, 0));
    }
    for (const auto& kv : ini.section("Errors")) {
        int64_t code = number(kv.first, -1);
        if (code >= INT32_MIN && code <= UINT32_MAX && !kv.first.empty())
            c.errors[static_cast<uint32_t>(code)] = kv.second;
    }
    return c;
}

}  // namespace sim
