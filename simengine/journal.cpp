#include "simengine/journal.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

// Only the journal functions touch these; the lock is a leaf (taken last).
SRWLOCK journalLock = SRWLOCK_INIT;
HANDLE journalFile = INVALID_HANDLE_VALUE;

}  // namespace

void journalOpen(const std::string& folder) {
    AcquireSRWLockExclusive(&journalLock);
    if (journalFile == INVALID_HANDLE_VALUE) {
        // Append-only and shared, so tests can read it while the DLL is loaded.
        journalFile = CreateFileA((folder + "simengine.journal").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ReleaseSRWLockExclusive(&journalLock);
}

void journalClose() {
    AcquireSRWLockExclusive(&journalLock);
    if (journalFile != INVALID_HANDLE_VALUE) CloseHandle(journalFile);
    journalFile = INVALID_HANDLE_VALUE;
    ReleaseSRWLockExclusive(&journalLock);
}

void journalLine(const std::string& line) {
    std::string whole = line + "\n";
    AcquireSRWLockExclusive(&journalLock);
    DWORD written = 0;
    if (journalFile != INVALID_HANDLE_VALUE)
        WriteFile(journalFile, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
    ReleaseSRWLockExclusive(&journalLock);
}

std::string escaped(const char* bytes, size_t size) {
    std::string out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x20 || b == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string escapedText(const char* text, size_t max) {
    return text ? escaped(text, strnlen(text, max)) : std::string();
}

std::string failureSuffix(int32_t result) {
    return result ? " result=" + std::to_string(result) : std::string();
}

}  // namespace sim
