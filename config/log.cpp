#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/config_testing.h"
#include "platform/platform.h"

namespace {
int32_t debugLevel;  // written once at process attach
char logPath[256];   // full path of kal.pro; empty while the protocol is off
}  // namespace
const int32_t& DebugLevel = debugLevel;

namespace {
// Longest text and detail taken into one line; longer ones are cut.
constexpr size_t kPartLimit = 4096;
// guarded by logLock: the line being assembled, so lines of concurrent callers stay whole.
// No call into the engine or the host is ever made while it is held.
PlatformLock logLock;
std::atomic<bool> neverWait{false};

// Enters logLock, or with neverWait only if that needs no wait; true when entered.
bool EnterLog() {
    if (!neverWait.load()) {
        PlatformLockEnter(&logLock);
        return true;
    }
    return PlatformLockTryEnter(&logLock);
}

class LogLockScope {
public:
    LogLockScope() : entered_(EnterLog()) {}
    ~LogLockScope() {
        if (entered_) PlatformLockLeave(&logLock);
    }
    bool entered() const { return entered_; }
    LogLockScope(const LogLockScope&) = delete;
    LogLockScope& operator=(const LogLockScope&) = delete;

private:
    const bool entered_;
};
char lineBuffer[8 + 2 * kPartLimit + 8];

const char kSeparator[] = "================================================";
static_assert(sizeof kSeparator == 49, "48 equals signs");

size_t Append(size_t at, const char* text) {
    size_t n = strnlen(text, kPartLimit);
    memcpy(lineBuffer + at, text, n);
    return at + n;
}

void AppendToProtocol(const char* text, bool truncate) {
    // The protocol is written in text mode: every line end is CR LF.
    char converted[512];
    size_t n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') converted[n++] = '\r';
        converted[n++] = *p;
    }
    PlatformFileWrite(logPath, converted, n, truncate);
}
}  // namespace

namespace {
void LogBegin(const char* path, const char* identification, bool truncate);
}  // namespace

void LogDateText(char* out) {
    LocalTime t = PlatformLocalTime();
    snprintf(out, 9, "%02d/%02d/%02d", t.month % 100, t.day % 100, t.year % 100);
}

void LogTimeText(char* out) {
    LocalTime t = PlatformLocalTime();
    snprintf(out, 9, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
}

void LogWriteLine(const char* tag, const char* text, const char* detail) {
    if (!LogEnabled(tag)) return;
    LogLockScope guard;
    if (!guard.entered()) return;
    size_t at = Append(0, tag + 1);
    at = Append(at, ": ");
    at = Append(at, text ? text : "(null)");
    if (detail) {
        at = Append(at, " ");
        at = Append(at, detail);
    }
    at = Append(at, "\r\n");
    PlatformFileWrite(logPath, lineBuffer, at, false);
}

void LogWriteDetail(const char* tag, const char* text, const char* format, ...) {
    if (!LogEnabled(tag)) return;
    char detail[kLogDetailSize];
    va_list args;
    va_start(args, format);
    vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    LogWrite(tag, text, detail);
}

void LogWriteFormat(const char* tag, const char* format, ...) {
    if (!LogEnabled(tag)) return;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogWrite(tag, text);
}

void LogOpen(const char* path, const char* identification) { LogBegin(path, identification, true); }

void LogContinue(const char* path, const char* identification) {
    if (identification) {
        LogBegin(path, identification, false);
    } else if (DebugLevel != 0) {
        snprintf(logPath, sizeof logPath, "%s", path);
    }
}

namespace {
void LogBegin(const char* path, const char* identification, bool truncate) {
    if (DebugLevel == 0) return;
    char date[9], time[9];
    LogDateText(date);
    LogTimeText(time);
    // A longer path is cut; the file then lands wherever the cut path points, or nowhere.
    snprintf(logPath, sizeof logPath, "%s", path);
    char header[512];
    snprintf(header, sizeof header, "Protokolldatei %s\n angelegt am  %s\n angelegt um  %s\n%s\n\n",
             identification, date, time, kSeparator);
    LogLockScope guard;
    if (guard.entered()) AppendToProtocol(header, truncate);
}
}  // namespace

void LogClose() {
    if (DebugLevel == 0) return;
    char date[9], time[9];
    LogDateText(date);
    LogTimeText(time);
    char footer[256];
    snprintf(footer, sizeof footer, "\n%s\n abgeschlossen am  %s\n abgeschlossen um  %s\n", kSeparator,
             date, time);
    LogLockScope guard;
    if (guard.entered()) AppendToProtocol(footer, false);
}

void LogNeverWait() { neverWait = true; }

void LogSetLevel(int32_t level) { debugLevel = level; }

void LogTestingSetPath(const char* path) { CopyCut(logPath, sizeof logPath, path); }
const char* LogTestingPath() { return logPath; }
