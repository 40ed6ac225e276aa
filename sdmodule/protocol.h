// The output-module protocol of speech-dispatcher on standard input and
// output: one command a line, blocks of lines ended by a line of only ".",
// where a data line starting with "." has a second one. Module::Run serves
// commands until QUIT or the end of the input.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "kalsay/kal_api.h"
#include "sdmodule/output.h"
#include "sdmodule/settings.h"
#include "sdmodule/speaker.h"
#include "sdmodule/voices.h"

class Module {
public:
    Module(FILE* in, int out, std::string configPath);
    // 0 after QUIT, 1 at the end of the input.
    int Run();

private:
    bool ReadLine(std::string& line);
    bool ReadBlock(std::vector<std::string>& lines);
    void Init();
    void Audio();
    void LogLevel();
    void ListVoices();
    void Set();
    void Speak(const std::string& command);
    void Shutdown();
    void ApplyVoice();
    void ApplyParameter(int parameter, const std::string& value);
    void Log(int level, const std::string& text) const;

    FILE* in_;
    Output output_;
    std::string configPath_;
    ModuleSettings settings_;
    KalApi api_;
    Speaker speaker_;
    std::string driverFolder_;
    bool ready_ = false;  // INIT succeeded
    int logLevel_ = 1;
    std::vector<DriverVoice> voices_;
    VoiceRequest request_;
    std::string currentVoice_;  // identifier selected in the driver
    std::string rate_, volume_; // speech-dispatcher's values last set
};
