#include "bridge/refusals.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace bridge {
namespace {
// The folder of the module holding this code, with a trailing backslash.
bool OwnFolder(char* out, DWORD size) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&NoteRefusal), &self))
        return false;
    DWORD n = GetModuleFileNameA(self, out, size);
    if (n == 0 || n >= size) return false;
    char* slash = strrchr(out, '\\');
    if (!slash) return false;
    slash[1] = '\0';
    return true;
}
}  // namespace

void NoteRefusal(const char* who, const char* what, const char* reason) {
    char folder[MAX_PATH], path[MAX_PATH + 16], line[512];
    if (!OwnFolder(folder, MAX_PATH)) return;
    snprintf(path, sizeof path, "%skal.ini", folder);
    if (GetPrivateProfileIntA("Default", "DEBUG", 0, path) < 1) return;
    snprintf(path, sizeof path, "%skal64.pro", folder);
    const int n = snprintf(line, sizeof line, "ERR:: %s refused %s: %s\r\n", who, what, reason);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(n < static_cast<int>(sizeof line) ? n : sizeof line - 1), &written, nullptr);
    CloseHandle(file);
}

}  // namespace bridge
