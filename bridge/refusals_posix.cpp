// The refusal notes natively: kal_link.pro beside the module holding this code
// (libkal_drv.so for the client, kal_helper for the helper), and the
// recovery's lines in kal.pro there, when [Default] DEBUG in kal.ini there is
// 1 or more. Lines end as the driver's protocol ends them (CR LF).
#include "bridge/refusals.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace bridge {
namespace {
// dladdr takes the dynamic loader's lock: the client looks its folder up once,
// at the load (PrepareNotes), so that its event thread never waits for that lock.
std::string preparedFolder;
std::atomic<bool> folderPrepared{false};

std::string LookUpOwnFolder() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&NoteRefusal), &info) || !info.dli_fname) return "";
    std::string file = info.dli_fname;
    if (file.find('/') == std::string::npos) {  // the program itself, found by PATH
        char path[4096];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        file.assign(path, n > 0 ? static_cast<size_t>(n) : 0);
    }
    return file.substr(0, file.find_last_of('/') + 1);
}

std::string OwnFolder() { return folderPrepared.load() ? preparedFolder : LookUpOwnFolder(); }

// [Default] DEBUG of the kal.ini there, as the driver reads it (0 when absent).
int DebugLevel(const std::string& folder) {
    std::ifstream in(folder + "kal.ini");
    std::string line;
    bool inDefault = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') inDefault = strncasecmp(line.c_str(), "[Default]", 9) == 0;
        else if (inDefault && strncasecmp(line.c_str(), "DEBUG=", 6) == 0) return atoi(line.c_str() + 6);
    }
    return 0;
}

constexpr int kLineSize = 512;

void AppendLine(const char* fileName, const char* line, int n) {
    const std::string folder = OwnFolder();
    if (folder.empty() || DebugLevel(folder) < 1 || n <= 0) return;
    const int fd = open((folder + fileName).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (write(fd, line, static_cast<size_t>(n < kLineSize ? n : kLineSize - 1)) < 0) {
        // nothing: a note that cannot be written is lost, what it notes stands
    }
    close(fd);
}
}  // namespace

void NoteRefusal(const char* who, const char* what, const char* reason) {
    char line[kLineSize];
    AppendLine("kal_link.pro", line, snprintf(line, sizeof line, "ERR:: %s refused %s: %s\r\n", who, what, reason));
}

void PrepareNotes() {
    if (folderPrepared.load()) return;
    preparedFolder = LookUpOwnFolder();
    folderPrepared.store(true);
}

void NoteProtocol(const char* text) {
    char line[kLineSize];
    AppendLine("kal.pro", line, snprintf(line, sizeof line, "ERR:: %s\r\n", text));
}

}  // namespace bridge
