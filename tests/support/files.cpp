#include "support/files.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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
    std::string folder = root + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(counter++) + "\\";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void CopyFileTo(const std::string& from, const std::string& to) { CopyFileA(from.c_str(), to.c_str(), FALSE); }

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

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

std::string JournalEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '\\') {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string JournalUnescape(const std::string& escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped.compare(i, 2, "\\x") == 0 && i + 4 <= escaped.size()) {
            text += static_cast<char>(std::stoi(escaped.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            text += escaped[i];
        }
    }
    return text;
}

std::string ReadProfileValue(const std::string& folder, const char* section, const char* key) {
    char value[4096];
    GetPrivateProfileStringA(section, key, "", value, sizeof value, (folder + "kal.ini").c_str());
    return value;
}

void WriteProfileValue(const std::string& folder, const char* section, const char* key, const char* value) {
    WritePrivateProfileStringA(section, key, value, (folder + "kal.ini").c_str());
}

std::vector<std::string> ReadLines(const std::string& path) { return SplitLines(ReadFileText(path)); }

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
