// kal_host32.exe as a file and as a process started by someone other than the
// bridge: it imports only system DLLs, and without the bridge's inherited
// section it ends at once, touching nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/pe.h"

namespace {
constexpr DWORD kHelperExitMs = 20000;  // a Wine process start, on a loaded machine

// Runs the helper with the arguments; its exit code, or -1 if it did not end in time.
long RunHelper(const std::string& folder, const std::string& arguments) {
    std::string commandLine = "\"" + folder + "kal_host32.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder.c_str(),
                        &startup, &process))
        return -2;
    long code = -1;
    if (WaitForSingleObject(process.hProcess, kHelperExitMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = static_cast<long>(exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}
}  // namespace

TEST(HelperImage, ImportsOnlySystemDlls) {
    HMODULE image = LoadLibraryExA(BuildPath("host32/kal_host32.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, image);
    // The runtimes are linked in: a helper that dies at start for want of one is
    // the commonest failure of such helpers.
    EXPECT_EQ((std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL"}), ImportedDlls(image));
    FreeLibrary(image);
}

TEST(HelperImage, WithoutTheBridgesSectionItEndsAndLoadsNoDriver) {
    const std::string folder = FreshFolder("helper-alone");
    CopyFileTo(BuildPath("host32/kal_host32.exe"), folder + "kal_host32.exe");
    CopyFileTo(BuildPath("driver/kal_drv.dll"), folder + "kal_drv.dll");
    CopyFileTo(BuildPath("simengine/nalvoapi.dll"), folder + "nalvoapi.dll");
    WriteFileText(folder + "kal.ini", "[Default]\r\nDEBUG=4\r\n");
    const std::string self = std::to_string(GetCurrentProcessId());
    struct Row {
        std::string arguments;
        long exitCode;
    } rows[] = {
        {"", 2},                     // no process named
        {self, 2},                   // no section named
        {"x12 4", 2},                // not a number
        {self + " 4x", 2},           // not a number either
        {"99999999999 4", 2},        // beyond 32 bits
        {"0 4", 2},                  // no process
        {self + " 4", 3},            // a handle value that is no section there
        {self + " 99999999999", 2},  // beyond 32 bits
        {"4294967295 4 C:\\", 3},   // a process that cannot be opened
    };
    for (const Row& row : rows) EXPECT_EQ(row.exitCode, RunHelper(folder, row.arguments)) << "'" << row.arguments << "'";
    // The driver was never loaded: it would have started a protocol.
    EXPECT_FALSE(FileExists(folder + "kal.pro"));
}
