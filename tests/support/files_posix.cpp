// The POSIX half of the test files layer, for the native build of the unit
// tests: folders and copies; profile values through the POSIX platform layer,
// whose results the profile table test pins to the system's.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <algorithm>

#include "platform/platform.h"
#include "support/files.h"

namespace {
std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}
}  // namespace

std::string FreshFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    std::error_code ignored;
    const std::string root = std::filesystem::current_path().string() + "/scratch/";
    std::filesystem::create_directories(root, ignored);
    const std::string folder = root + ShortName(name) + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "/";
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(NativePath(path).c_str(), &info) == 0;
}

void CopyFileTo(const std::string& from, const std::string& to) {
    std::error_code ignored;
    std::filesystem::copy_file(NativePath(from), NativePath(to), std::filesystem::copy_options::overwrite_existing,
                               ignored);
}

std::string BuildPath(const std::string& relative) {
    // Test executables live in <build>/tests; the build tree is one folder up.
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    path = path.substr(0, path.find_last_of('/'));
    path = path.substr(0, path.find_last_of('/') + 1);
    return path + NativePath(relative);
}

std::string ReadProfileValue(const std::string& folder, const char* section, const char* key) {
    char value[4096];
    PlatformProfileGetString(section, key, "", value, sizeof value, (folder + "kal.ini").c_str());
    return value;
}

void WriteProfileValue(const std::string& folder, const char* section, const char* key, const char* value) {
    PlatformProfileWriteString(section, key, value, (folder + "kal.ini").c_str());
}

std::vector<std::string> ProfileSectionNames(const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& line : ReadLines(NativePath(path))) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] != '[') continue;
        const size_t close = line.find(']', at);
        std::string name = line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        names.push_back(name.substr(std::min(name.find_first_not_of(" \t"), name.size())));
    }
    return names;
}

std::string CurrentFolder() { return std::filesystem::current_path().string(); }

void EndProcessAtOnce(int code) { std::_Exit(code); }
