// Runs a program (UTF-16 command line) with piped standard input and output, never longer than a timeout.
#pragma once
#include <string>

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    unsigned long exitCode = 0;
    std::string output;  // standard output and standard error, CR LF removed to LF
    unsigned long elapsedMs = 0;
};

ProcessResult RunProcess(const std::wstring& commandLine, const std::string& folder, const std::string& input,
                         unsigned long timeoutMs);
