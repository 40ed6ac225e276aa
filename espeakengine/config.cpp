// SPDX-License-Identifier: GPL-3.0-or-later
#include "espeakengine/config.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#ifndef ESPEAK_ENGINE_DATA_DEFAULT
#define ESPEAK_ENGINE_DATA_DEFAULT "/usr/lib/x86_64-linux-gnu/espeak-ng-data"
#endif

namespace {
std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return text.substr(begin, end - begin);
}

bool Take(EngineConfig& config, const std::string& key, const std::string& value, std::string& error) {
    if (key == "data") {
        if (!value.empty()) config.data = value;  // empty: the folder found at build time
    } else if (key == "output") {
        if (value == "wav") config.output = OutputKind::Wav;
        else if (value == "pulse") config.output = OutputKind::Pulse;
        else if (value == "none") config.output = OutputKind::None;
        else {
            error = "output must be wav, pulse or none, not '" + value + "'";
            return false;
        }
    } else if (key == "wav") {
        config.wav = value;
    } else if (key == "wavmode") {
        if (value == "append") config.wavMode = WavMode::Append;
        else if (value == "pertext") config.wavMode = WavMode::PerText;
        else {
            error = "wavmode must be append or pertext, not '" + value + "'";
            return false;
        }
    } else if (key == "pulse") {
        config.pulse = value;
    } else if (key == "pace") {
        if (value == "fast") config.realtime = false;
        else if (value == "realtime") config.realtime = true;
        else {
            error = "pace must be fast or realtime, not '" + value + "'";
            return false;
        }
    } else if (key == "report") {
        config.report = value;
    } else if (key == "pitch") {
        char* end = nullptr;
        const long pitch = strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || pitch < 0 || pitch > 100) {
            error = "pitch must be 0..100, not '" + value + "'";
            return false;
        }
        config.pitch = static_cast<int>(pitch);
    }
    return true;  // unknown keys are left for later versions
}
}  // namespace

bool ReadEngineConfig(const char* folder, EngineConfig& config, std::string& error) {
    config = EngineConfig();
    config.data = ESPEAK_ENGINE_DATA_DEFAULT;
    config.folder = folder ? folder : "";
    for (char& c : config.folder)
        if (c == '\\') c = '/';
    if (!config.folder.empty() && config.folder.back() != '/') config.folder += '/';

    // Every key is read even after a bad one: the report destination is needed
    // to say what was bad (the first error is kept).
    bool failed = false;
    auto take = [&](const std::string& key, const std::string& value) {
        std::string why;
        if (Take(config, key, value, why) || failed) return;
        error = why;
        failed = true;
    };
    std::ifstream file(config.folder + ESPEAK_ENGINE_CONFIG_FILE);
    std::string line;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        take(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
    }
    const struct {
        const char* variable;
        const char* key;
    } environment[] = {{"KAL_ESPEAK_DATA", "data"},       {"KAL_ESPEAK_OUTPUT", "output"},
                       {"KAL_ESPEAK_WAV", "wav"},         {"KAL_ESPEAK_WAVMODE", "wavmode"},
                       {"KAL_ESPEAK_PULSE", "pulse"},     {"KAL_ESPEAK_PITCH", "pitch"},
                       {"KAL_ESPEAK_PACE", "pace"},       {"KAL_ESPEAK_REPORT", "report"}};
    for (const auto& entry : environment)
        if (const char* value = getenv(entry.variable))
            take(entry.key, value);
    if (!config.wav.empty() && config.wav[0] != '/') config.wav = config.folder + config.wav;
    if (!config.report.empty() && config.report != "stderr" && config.report[0] != '/')
        config.report = config.folder + config.report;
    return !failed;
}
