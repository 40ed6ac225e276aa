#include "bridge/refusals.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace bridge {
namespace {
// The folder of the module holding this code, with a trailing backslash:
// looked up once (see PrepareNotes).
char ownFolder[MAX_PATH];
std::atomic<bool> ownFolderKnown{false};

bool LookUpOwnFolder(char* out, DWORD size) {
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

bool OwnFolder(char* out, DWORD size) {
    if (!ownFolderKnown.load()) {
        char found[MAX_PATH];
        if (!LookUpOwnFolder(found, MAX_PATH)) return false;
        memcpy(ownFolder, found, MAX_PATH);
        ownFolderKnown.store(true);
    }
    if (strlen(ownFolder) >= size) return false;
    strcpy(out, ownFolder);
    return true;
}
}  // namespace

namespace {
void AppendLine(const char* fileName, const char* line, int n) {
    char folder[MAX_PATH], path[MAX_PATH + 16];
    if (!OwnFolder(folder, MAX_PATH)) return;
    snprintf(path, sizeof path, "%skal.ini", folder);
    if (GetPrivateProfileIntA("Default", "DEBUG", 0, path) < 1) return;
    snprintf(path, sizeof path, "%s%s", folder, fileName);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}
constexpr int kLineSize = 512;
int Cut(int n) { return n < kLineSize ? n : kLineSize - 1; }
}  // namespace

void NoteRefusal(const char* who, const char* what, const char* reason) {
    char line[kLineSize];
    AppendLine("kal64.pro", line, Cut(snprintf(line, sizeof line, "ERR:: %s refused %s: %s\r\n", who, what, reason)));
}

void PrepareNotes() {
    char folder[MAX_PATH];
    OwnFolder(folder, MAX_PATH);
}

void NoteProtocol(const char* text) {
    char line[kLineSize];
    AppendLine("kal.pro", line, Cut(snprintf(line, sizeof line, "ERR:: %s\r\n", text)));
}

}  // namespace bridge
