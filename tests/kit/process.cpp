#include "kit/process.h"

#include <windows.h>

#include <thread>

namespace {
std::string WithoutCarriageReturns(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}
}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const std::string& folder, const std::string& input,
                         unsigned long timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return result;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return result;
    }
    // Only the child's ends are inherited, or the output would never reach end of file.
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION process = {};
    std::wstring command = commandLine;
    const std::wstring workFolder(folder.begin(), folder.end());  // test folders are ASCII
    const DWORD start = GetTickCount();
    result.started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, workFolder.c_str(),
                                    &startup, &process) != 0;
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!result.started) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        return result;
    }

    std::string raw;
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0) raw.append(buffer, got);
    });
    std::thread writer([&] {
        DWORD written = 0;
        if (!input.empty()) WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        CloseHandle(inWrite);  // end of input
    });

    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    result.elapsedMs = GetTickCount() - start;
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    writer.join();
    reader.join();
    CloseHandle(outRead);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.output = WithoutCarriageReturns(raw);
    return result;
}
