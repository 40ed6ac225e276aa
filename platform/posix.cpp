// POSIX implementation of the platform operations, for the native builds: the
// Linux product libkal_drv.so and the sanitizer, thread-checker and fuzzing trees. It gives the results the Windows
// routines give for the calls the driver makes: the profile routines follow the
// system's reading and writing rules, the code pages are converted with iconv
// tables. Paths may use either separator; '\' is read as '/'.
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/profile_text.h"

namespace {
std::string NativePath(const char* path) {
    std::string native = path ? path : "";
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

// The system's error numbers the driver logs.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorModuleNotFound = 126;
constexpr uint32_t kErrorBadFormat = 193;

thread_local uint32_t lastError;
}  // namespace

namespace {
// The file mapped at base, as the system resolved it when it was loaded (the
// first field of /proc/self/maps is the mapping's start, the last its path).
// dladdr gives the path as the loader was given it: a relative one names
// another folder once the current folder changes, or at once for a host
// whose current folder is not its program's.
std::string MappedFile(const void* base) {
    std::string found;
    FILE* maps = fopen("/proc/self/maps", "re");
    if (!maps) return found;
    char line[4096 + 128];
    while (found.empty() && fgets(line, sizeof line, maps)) {
        char* end = nullptr;
        const unsigned long start = strtoul(line, &end, 16);
        if (end == line || start != reinterpret_cast<uintptr_t>(base)) continue;
        const char* path = strchr(line, '/');
        if (!path) continue;
        found = path;
        while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) found.pop_back();
    }
    fclose(maps);
    return found;
}
}  // namespace

uint32_t PlatformOwnModuleFileName(char* out, uint32_t size) {
    if (size == 0) return 0;
    std::string name;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PlatformOwnModuleFileName), &info) && info.dli_fname) {
        // The file the system mapped, by its absolute path and not through a
        // link to it: a library loaded by a relative path, or reached through a
        // link in the library path (libkal_drv.so.1), keeps kal.ini and its
        // engine beside the file itself.
        name = MappedFile(info.dli_fbase);
        if (name.empty() && info.dli_fname[0] == '/') {
            char* real = realpath(info.dli_fname, nullptr);
            name = real ? real : info.dli_fname;
            free(real);
        }
    }
    if (name.empty()) {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n > 0) name.assign(buffer, static_cast<size_t>(n));
    }
    // In the system's own form: the protocol shows the path a user knows.
    size_t n = name.size() < size - 1 ? name.size() : size - 1;
    memcpy(out, name.data(), n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

char* PlatformLastSeparator(char* path) {
    char* slash = strrchr(path, '/');
    char* backslash = strrchr(path, '\\');
    return backslash > slash ? backslash : slash;
}

uint32_t PlatformGetCurrentFolder(char* out, uint32_t size) {
    if (size != 0 && getcwd(out, size)) return static_cast<uint32_t>(strlen(out));
    // Too small: nothing written, and the size it needs with its terminator.
    if (size) out[0] = '\0';
    char* whole = getcwd(nullptr, 0);
    const uint32_t needed = whole ? static_cast<uint32_t>(strlen(whole) + 1) : 0;
    free(whole);
    return needed;
}

bool PlatformSetCurrentFolder(const char* folder) { return chdir(NativePath(folder).c_str()) == 0; }

std::string PlatformSaveCurrentFolder() {
    char* whole = getcwd(nullptr, 0);
    std::string folder = whole ? whole : "";
    free(whole);
    return folder;
}

bool PlatformRestoreCurrentFolder(const std::string& saved) { return !saved.empty() && chdir(saved.c_str()) == 0; }

// The system's thread runtime is shared here: nothing of it stays behind an unload.
void PlatformFreeRuntimeTlsIndexes() {}
void PlatformEndThreadRuntime() {}

void PlatformPinOwnModule() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PlatformPinOwnModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

bool PlatformFileExists(const char* path) {
    int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular;  // a folder cannot be opened as a file there either
}

bool PlatformFolderExists(const char* path) {
    struct stat info;
    return stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void PlatformSetLastError(uint32_t code) { lastError = code; }
uint32_t PlatformGetLastError() { return lastError; }

void* PlatformLoadLibrary(const char* path) {
    const std::string native = NativePath(path);
    void* library = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) lastError = access(native.c_str(), F_OK) == 0 ? kErrorBadFormat : kErrorModuleNotFound;
    return library;
}

void* PlatformLibraryEntry(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void PlatformFreeLibrary(void* library) {
    if (library) dlclose(library);
}

// --- Profile -------------------------------------------------------------------------
// The system's profile rules are in ProfileText; here they meet the file.
namespace {
// Held for a whole read or read-modify-write, as the system serialises profile access.
std::mutex profileLock;

// The file as the profile routines see it: a missing file is an empty one that is not there.
ProfileText ReadProfile(const char* file) {
    std::string bytes;
    FILE* f = fopen(NativePath(file).c_str(), "rb");
    if (f) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        fclose(f);
    }
    ProfileText text;
    text.Parse(bytes, f != nullptr);
    return text;
}
}  // namespace

uint32_t PlatformProfileGetString(const char* section, const char* key, const char* fallback,
                                  char* out, uint32_t size, const char* file) {
    if (size == 0 || !out) return 0;
    std::lock_guard<std::mutex> guard(profileLock);
    return ReadProfile(file).GetString(section ? section : "", key ? key : "", fallback, out, size);
}

int32_t PlatformProfileGetInt(const char* section, const char* key, int32_t fallback,
                              const char* file) {
    std::lock_guard<std::mutex> guard(profileLock);
    return ReadProfile(file).GetInt(section ? section : "", key ? key : "", fallback);
}

bool PlatformProfileWriteString(const char* section, const char* key, const char* value,
                                const char* file) {
    if (!section || !key) return false;  // deleting whole sections: the driver never does
    std::lock_guard<std::mutex> guard(profileLock);
    ProfileText text = ReadProfile(file);
    text.WriteString(section, key, value);
    if (!text.changed()) return true;  // the same value again: the file stays as it is
    const std::string bytes = text.Bytes();
    FILE* f = fopen(NativePath(file).c_str(), "wb");
    if (!f) {
        lastError = kErrorFileNotFound;
        return false;
    }
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// --- Files -------------------------------------------------------------------------------
namespace {
// Writes until all is written or a write fails; how much was written.
size_t WriteAll(int fd, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}
}  // namespace

bool PlatformFileWrite(const char* path, const char* bytes, size_t length, bool truncate) {
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND),
                  0644);
    if (fd < 0) return false;
    const size_t done = WriteAll(fd, bytes, length);
    close(fd);
    return done == length;
}

namespace {
char writeRoomFolder[260];  // platform_testing.h; a plain array, no record for the runtime to destroy
int64_t writeRoom = -1;
}  // namespace

void PlatformTestingSetWriteRoom(const char* folder, int64_t room) {
    snprintf(writeRoomFolder, sizeof writeRoomFolder, "%s", folder ? folder : "");
    writeRoom = room;
}

bool PlatformFileReplace(const char* path, const char* bytes, size_t length) {
    const std::string target = NativePath(path), fresh = target + ".neu";
    size_t fits = length;
    if (writeRoom >= 0 && strncmp(path, writeRoomFolder, strlen(writeRoomFolder)) == 0 &&
        static_cast<uint64_t>(writeRoom) < length)
        fits = static_cast<size_t>(writeRoom);
    int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes, fits) == length && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(fresh.c_str(), target.c_str()) == 0;
    if (!ok) unlink(fresh.c_str());
    return ok;
}

PlatformFile PlatformFileOpenReadOrSayWhy(const char* path, bool* missing) {
    FILE* file = fopen(NativePath(path).c_str(), "rb");
    if (!file) *missing = errno == ENOENT || errno == ENOTDIR;
    return static_cast<PlatformFile>(file);
}

PlatformFile PlatformFileOpenRead(const char* path) {
    if (!PlatformFileExists(path)) return nullptr;
    return static_cast<PlatformFile>(fopen(NativePath(path).c_str(), "rb"));
}

uint64_t PlatformFileSize(PlatformFile file) {
    struct stat info;
    if (fstat(fileno(static_cast<FILE*>(file)), &info) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(info.st_size);
}

int32_t PlatformFileRead(PlatformFile file, void* buffer, uint32_t length, uint32_t* bytesRead) {
    FILE* f = static_cast<FILE*>(file);
    *bytesRead = static_cast<uint32_t>(fread(buffer, 1, length, f));
    return ferror(f) ? 0 : 1;
}

void PlatformFileClose(PlatformFile file) { fclose(static_cast<FILE*>(file)); }

// --- Text conversion -----------------------------------------------------------------------
namespace {
constexpr uint32_t kUtf8 = 65001;
constexpr uint32_t kAnsiCodePage = 1252;  // code page 0: the ANSI code page of a western system
constexpr char kDefaultChar = '?';
constexpr uint16_t kUnmappable = 0;  // no code page maps a unit other than U+0000 to byte 0

// Each UTF-16 unit's bytes in one code page: one byte, or lead byte << 8 | trail byte.
struct CodePageTable {
    uint16_t bytes[65536];
};

std::mutex tablesLock;
std::map<uint32_t, std::unique_ptr<CodePageTable>> tables;  // null: the code page is unknown

// Built once per code page; the table never changes after that.
const CodePageTable* TableFor(uint32_t codePage) {
    std::lock_guard<std::mutex> guard(tablesLock);
    auto found = tables.find(codePage);
    if (found != tables.end()) return found->second.get();
    char name[32];
    snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(codePage));
    iconv_t converter = iconv_open(name, "UCS-2LE");
    std::unique_ptr<CodePageTable> table;
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        table.reset(new CodePageTable());
        for (uint32_t unit = 1; unit < 65536; ++unit) {
            char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
            unsigned char result[8];
            char* inAt = in;
            char* outAt = reinterpret_cast<char*>(result);
            size_t inLeft = 2, outLeft = sizeof result;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
            const size_t n = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
            const size_t produced = sizeof result - outLeft;
            uint16_t value = kUnmappable;
            if (n == 0 && produced == 1) value = result[0];
            else if (n == 0 && produced == 2) value = static_cast<uint16_t>(result[0] << 8 | result[1]);
            table->bytes[unit] = value;
        }
        iconv_close(converter);
    }
    const CodePageTable* raw = table.get();
    tables[codePage] = std::move(table);
    return raw;
}

void AppendUtf8(std::string& out, uint32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | point >> 12);
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | point >> 18);
        out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// A lone surrogate becomes U+FFFD.
void ToUtf8(const kal_char16* text, size_t units, std::string& out) {
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
}

// Unit by unit, as the system converts to a code page: a surrogate, paired or
// not, and every unit the code page lacks become the default character.
void ToCodePage(const CodePageTable& table, const kal_char16* text, size_t units, std::string& out) {
    for (size_t i = 0; i < units; ++i) {
        const uint16_t unit = static_cast<uint16_t>(text[i]);
        const uint16_t bytes = unit == 0 ? 0 : table.bytes[unit];
        if (unit != 0 && bytes == kUnmappable) out += kDefaultChar;
        else if (bytes > 0xFF) out += static_cast<char>(bytes >> 8), out += static_cast<char>(bytes & 0xFF);
        else out += static_cast<char>(bytes);
    }
}
}  // namespace

int32_t PlatformWideToCodePage(uint32_t codePage, const kal_char16* text, int32_t length, char* out,
                               int32_t size) {
    if (!text || length == 0 || length < -1 || size < 0 || (size > 0 && !out)) return 0;
    size_t units = 0;
    if (length == -1) {
        while (text[units]) ++units;
        ++units;  // with its terminator
    } else {
        units = static_cast<size_t>(length);
    }
    if (codePage == 0) codePage = kAnsiCodePage;
    std::string converted;
    if (codePage == kUtf8) {
        ToUtf8(text, units, converted);
    } else {
        const CodePageTable* table = TableFor(codePage);
        if (!table) return 0;
        ToCodePage(*table, text, units, converted);
    }
    if (size == 0) return static_cast<int32_t>(converted.size());
    if (converted.size() > static_cast<size_t>(size)) {
        memcpy(out, converted.data(), static_cast<size_t>(size));  // the system fills what fits, then fails
        return 0;
    }
    memcpy(out, converted.data(), converted.size());
    return static_cast<int32_t>(converted.size());
}

bool PlatformIsLeadByte(uint32_t codePage, uint8_t byte) {
    switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return false;  // 0 is a single-byte ANSI code page here
    }
}

// --- Time, threads, locks ---------------------------------------------------------------------
LocalTime PlatformLocalTime() {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

void PlatformSleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

uint32_t PlatformCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
bool PlatformThreadExists(uint32_t threadId) {
    return syscall(SYS_tgkill, getpid(), static_cast<pid_t>(threadId), 0) == 0 || errno != ESRCH;
}

uint32_t PlatformTickCount() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatformLock), "PlatformLock holds a pthread mutex");
void PlatformLockEnter(PlatformLock* lock) {
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(lock->bytes));
    PlatformLockNoteOwner(lock, true);
}
void PlatformLockLeave(PlatformLock* lock) {
    PlatformLockNoteOwner(lock, false);
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(lock->bytes));
}
bool PlatformLockTryEnter(PlatformLock* lock) {
    if (pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(lock->bytes)) != 0) return false;
    PlatformLockNoteOwner(lock, true);
    return true;
}

static_assert(sizeof(pthread_cond_t) <= sizeof(PlatformCondition), "PlatformCondition holds a pthread condition");
bool PlatformConditionWait(PlatformCondition* condition, PlatformLock* lock, uint32_t limitMs) {
    // Measured on the monotonic clock: a step of the wall clock (a time sync, a
    // user setting the date) neither stretches nor cuts the wait.
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(limitMs / 1000);
    until.tv_nsec += static_cast<long>(limitMs % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_nsec -= 1000000000L;
        ++until.tv_sec;
    }
    PlatformLockNoteOwner(lock, false);  // others may enter while this thread sleeps
    const bool woken = pthread_cond_clockwait(reinterpret_cast<pthread_cond_t*>(condition->bytes),
                                              reinterpret_cast<pthread_mutex_t*>(lock->bytes), CLOCK_MONOTONIC,
                                              &until) == 0;
    PlatformLockNoteOwner(lock, true);
    return woken;
}
void PlatformConditionWakeAll(PlatformCondition* condition) {
    pthread_cond_broadcast(reinterpret_cast<pthread_cond_t*>(condition->bytes));
}

// --- Foreign exceptions -----------------------------------------------------------------
// There are no structured exceptions here: every exception is this runtime's own
// and passes through unchanged.
bool PlatformCallCatchingForeign(void (*call)(void*), void* context, PlatformForeignException* caught) {
    *caught = PlatformForeignException{false, false, 0};
    call(context);
    return true;
}

bool PlatformGetEnvironment(const char* name, char* out, uint32_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    const char* value = getenv(name);
    if (!value || strlen(value) >= size) return false;
    memcpy(out, value, strlen(value) + 1);
    return true;
}

uint64_t PlatformProcessMemoryBytes() {
    // Pages resident (statm's second field) less those backed by files (its
    // third): the memory the process has taken and touched. Not the data
    // segment: that counts address space merely reserved (every thread's
    // malloc arena, a sanitizer's shadow of terabytes), which no leak needs.
    FILE* file = fopen("/proc/self/statm", "r");
    if (!file) return 0;
    unsigned long long size = 0, resident = 0, shared = 0;
    const int n = fscanf(file, "%llu %llu %llu", &size, &resident, &shared);
    fclose(file);
    if (n != 3 || shared > resident) return 0;
    return (resident - shared) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

void PlatformEndProcess(uint32_t code) { _exit(static_cast<int>(code & 0xFF)); }

namespace {
// The library is never unmapped before the process ends (-z nodelete): a flag
// set at the body's end is as good as the thread's end.
std::atomic<bool> watchParked{true};
struct WatchStart {
    void (*body)(void*);
    void* argument;
};
void* WatchThreadEntry(void* start) {
    const WatchStart s = *static_cast<WatchStart*>(start);
    delete static_cast<WatchStart*>(start);
    s.body(s.argument);
    watchParked.store(true);
    return nullptr;
}
}  // namespace

bool PlatformStartWatchThread(void (*body)(void*), void* argument) {
    watchParked.store(false);
    pthread_t thread;
    WatchStart* start = new WatchStart{body, argument};
    if (pthread_create(&thread, nullptr, &WatchThreadEntry, start) != 0) {
        delete start;
        watchParked.store(true);
        return false;
    }
    pthread_detach(thread);
    return true;
}

bool PlatformWatchThreadParked(uint32_t timeoutMs) {
    const uint32_t started = PlatformTickCount();
    while (!watchParked.load()) {
        if (PlatformTickCount() - started >= timeoutMs) return false;
        PlatformSleep(1);
    }
    return true;
}
