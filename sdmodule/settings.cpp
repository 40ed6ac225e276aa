#include "sdmodule/settings.h"

#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <vector>

#include "sdmodule/voices.h"

namespace {
std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return text.substr(begin, end - begin);
}

// The words of a line: blanks part them, double quotes keep blanks in one.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size() || line[at] == '#') break;
        if (line[at] == '"') {
            const size_t end = line.find('"', at + 1);
            words.push_back(line.substr(at + 1, (end == std::string::npos ? line.size() : end) - at - 1));
            at = end == std::string::npos ? line.size() : end + 1;
        } else {
            size_t end = at;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
            words.push_back(line.substr(at, end - at));
            at = end;
        }
    }
    return words;
}
}  // namespace

bool ReadModuleSettings(const std::string& path, ModuleSettings& settings, std::string& error) {
    settings.languageTags = DefaultLanguageTags();
    std::ifstream file(path);
    if (!file) return true;  // no file: the defaults, as speech-dispatcher's modules do
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::vector<std::string> words = Words(Trim(line));
        if (words.empty()) continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (words[0] == "KalDriver" || words[0] == "KalDefaultVoice") {
            if (words.size() != 2) {
                error = where + words[0] + " takes one value";
                return false;
            }
            (words[0] == "KalDriver" ? settings.driver : settings.defaultVoice) = words[1];
        } else if (words[0] == "KalLanguage") {
            if (words.size() != 3) {
                error = where + "KalLanguage takes the driver's language code and a language tag";
                return false;
            }
            settings.languageTags[words[1]] = words[2];
        }
    }
    return true;
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string folder(path, static_cast<size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

bool ProfileNamesCharacter(const std::string& iniPath, long code) {
    if (code < 0 || code > 0xFFFF) return false;
    char key[8];
    snprintf(key, sizeof key, "%04lX", code);
    std::ifstream file(iniPath);
    std::string line;
    bool inSection = false;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (!line.empty() && line[0] == '[') {
            inSection = strcasecmp(line.c_str(), "[CharName]") == 0;
            continue;
        }
        if (!inSection) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos || strcasecmp(Trim(line.substr(0, equals)).c_str(), key) != 0) continue;
        const std::string name = Trim(line.substr(equals + 1));
        return !name.empty() && strcasecmp(name.c_str(), key) != 0;
    }
    return false;
}
