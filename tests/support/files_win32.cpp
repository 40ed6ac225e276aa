// The Windows half of the test files layer: folders, copies and the system's
// own profile routines.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "support/files.h"

namespace {
std::string WorkingFolder() {
    std::string folder = CurrentFolder();
    if (folder.back() != '\\') folder += '\\';
    return folder;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = folder + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + "\\");
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}
}  // namespace

std::string FreshFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    std::string root = WorkingFolder() + "scratch\\";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string folder = root + ShortName(name) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(counter++) + "\\";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CopyFileTo(const std::string& from, const std::string& to) { CopyFileA(from.c_str(), to.c_str(), FALSE); }

std::string BuildPath(const std::string& relative) {
    // Test executables live in <build>\tests; the build tree is one folder up.
    char buffer[MAX_PATH];
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string path = buffer;
    path = path.substr(0, path.find_last_of('\\'));
    path = path.substr(0, path.find_last_of('\\') + 1);
    std::string rel = relative;
    for (char& c : rel)
        if (c == '/') c = '\\';
    return path + rel;
}

std::string ReadProfileValue(const std::string& folder, const char* section, const char* key) {
    char value[4096];
    GetPrivateProfileStringA(section, key, "", value, sizeof value, (folder + "kal.ini").c_str());
    return value;
}

void WriteProfileValue(const std::string& folder, const char* section, const char* key, const char* value) {
    WritePrivateProfileStringA(section, key, value, (folder + "kal.ini").c_str());
}

std::vector<std::string> ProfileSectionNames(const std::string& path) {
    std::vector<char> buffer(32768);
    DWORD got = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    std::vector<std::string> names;
    for (const char* at = buffer.data(); at < buffer.data() + got && *at; at += strlen(at) + 1) names.push_back(at);
    return names;
}

std::string CurrentFolder() {
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

void EndProcessAtOnce(int code) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}
