// The one place that talks to the operating system. Every other folder calls
// these operations, named after what they do, and never includes windows.h.
#pragma once
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <string>

#include "kal_drv.h"

// --- Module and folders ---------------------------------------------------
// Full file name of the module that holds this code (the DLL, or a test exe),
// cut to size - 1 characters and terminated. Returns the characters written.
uint32_t PlatformOwnModuleFileName(char* out, uint32_t size);
// The last folder separator in a path in the system's own form (a backslash on
// Windows; natively a slash, or a backslash, which the routines here read as
// one), or null when it names no folder.
char* PlatformLastSeparator(char* path);
// Current folder into out (size as given to the system); returns its length.
// When out is too small nothing is written and the size it needs (with the
// terminator) is returned, so a caller can ask again with enough room.
uint32_t PlatformGetCurrentFolder(char* out, uint32_t size);
bool PlatformSetCurrentFolder(const char* folder);
// The current folder whatever its length (the ANSI call above fails beyond 259
// characters), kept in the platform's own form, and set back from it.
std::string PlatformSaveCurrentFolder();
bool PlatformRestoreCurrentFolder(const std::string& saved);
// Keeps the driver's own module in memory until the process ends: for an
// unload while a thread that could not be waited for is still inside it.
void PlatformPinOwnModule();
// The static thread runtime linked into the module takes a system TLS index the
// first time it is used after each load and never gives it back; a host that
// loads and unloads the driver some hundred times runs out of them and ends.
// Every index taken through this module's import of the system's TLS call and
// not given back through it is noted (from before the first constructor), and
// given back by this call at an unload that leaves no thread inside the module,
// with the runtime's record of the calling thread (which would outlive the module).
void PlatformFreeRuntimeTlsIndexes();
// Gives back the runtime's record of the calling thread, which is about to end
// while the module's thread-end calls will not run for it (calls turned off, or
// the module unloaded first). Nothing of the runtime may run on it afterwards.
void PlatformEndThreadRuntime();

// --- Engine library ---------------------------------------------------------
// Existence test: the file can be opened (and is closed again).
bool PlatformFileExists(const char* path);
bool PlatformFolderExists(const char* path);
void PlatformSetLastError(uint32_t code);
uint32_t PlatformGetLastError();
void* PlatformLoadLibrary(const char* path);
void* PlatformLibraryEntry(void* library, const char* name);
void PlatformFreeLibrary(void* library);

// --- Profile (Windows initialization files) -----------------------------------
uint32_t PlatformProfileGetString(const char* section, const char* key, const char* fallback,
                                  char* out, uint32_t size, const char* file);
int32_t PlatformProfileGetInt(const char* section, const char* key, int32_t fallback,
                              const char* file);
bool PlatformProfileWriteString(const char* section, const char* key, const char* value,
                                const char* file);

// --- Text files ----------------------------------------------------------------
// Writes the bytes at the end of the file (or in place of its content when
// truncate is set), creating it if needed. Other readers and writers are
// allowed meanwhile. Returns false when the file cannot be opened.
bool PlatformFileWrite(const char* path, const char* bytes, size_t length, bool truncate);

// Writes the bytes as the file's whole content through a new file beside it
// that then replaces it, so a write that fails (no room, no access) leaves the
// file as it was. Returns false when the file was not replaced.
bool PlatformFileReplace(const char* path, const char* bytes, size_t length);

// Whole-file reading, for the pronunciation dictionary.
typedef void* PlatformFile;  // null: not open
PlatformFile PlatformFileOpenRead(const char* path);
// As PlatformFileOpenRead (other readers and writers allowed meanwhile); when the
// file cannot be opened, *missing tells whether there is none (true) or it exists
// but cannot be read now (false: another process holds it without sharing, a
// lock, no access).
PlatformFile PlatformFileOpenReadOrSayWhy(const char* path, bool* missing);
// The whole size, also of 4 GiB and more; UINT64_MAX when it cannot be read.
uint64_t PlatformFileSize(PlatformFile file);
// One read of length bytes; bytesRead receives the count. Returns non-zero on success.
int32_t PlatformFileRead(PlatformFile file, void* buffer, uint32_t length, uint32_t* bytesRead);
void PlatformFileClose(PlatformFile file);

// --- Text conversion -------------------------------------------------------------
// UTF-16 to the code page (0: the system's ANSI code page),
// terminator included; characters the code page lacks become its default
// character. Returns the bytes written with the terminator, 0 on failure.
// length: UTF-16 units to convert, or -1 for the whole text with its terminator.
// With size 0 nothing is written and the bytes needed are returned.
int32_t PlatformWideToCodePage(uint32_t codePage, const kal_char16* text, int32_t length, char* out,
                               int32_t size);
// True when the code page has multi-byte characters and byte is a lead byte.
bool PlatformIsLeadByte(uint32_t codePage, uint8_t byte);

// --- Time ----------------------------------------------------------------------------
struct LocalTime {
    int year, month, day, hour, minute, second;
};
LocalTime PlatformLocalTime();
void PlatformSleep(uint32_t milliseconds);
uint32_t PlatformCurrentThreadId();
// Whether a thread of this process with that id still runs (true when the
// system will not say): for a lock holder that a host may have killed.
bool PlatformThreadExists(uint32_t threadId);
uint32_t PlatformTickCount();

// --- The helper process's watch ----------------------------------------------------
// A variable of the process's environment, cut to size - 1 and terminated;
// false (and out empty) when it is not set.
bool PlatformGetEnvironment(const char* name, char* out, uint32_t size);
// The memory the process has committed for itself, in bytes.
uint64_t PlatformProcessMemoryBytes();
// Ends the process at once with the code: nothing else runs, nothing is waited for.
[[noreturn]] void PlatformEndProcess(uint32_t code);
// Runs body(argument) on a thread of its own (one such thread at a time);
// false when it cannot start. PlatformWatchThreadParked waits, bounded, until
// body has returned and the thread runs no more code of this module, so the
// module may be unloaded without waiting for the thread's end (which needs the
// loader lock on Windows).
bool PlatformStartWatchThread(void (*body)(void*), void* argument);
bool PlatformWatchThreadParked(uint32_t timeoutMs);

// --- Locks ---------------------------------------------------------------------------
// A plain exclusive lock. Zero is its unlocked state, so a process-wide lock needs
// no construction and is usable from the first moment of process attach.
// Not recursive: never enter it twice on one thread.
struct PlatformLock {
#if defined(_WIN32)
    void* word;  // an SRWLOCK
#else
    // A pthread mutex in place; the unlocked default mutex is all zero bytes.
    alignas(8) unsigned char bytes[64];
#endif
#ifndef NDEBUG
    // The thread inside (0: none), so that a function that needs the lock held
    // can check it (PlatformLockHeldHere). Debug builds only.
    std::atomic<uint32_t> owner;
#endif
};
void PlatformLockEnter(PlatformLock* lock);
// Enters only when that needs no wait; true when entered.
bool PlatformLockTryEnter(PlatformLock* lock);
void PlatformLockLeave(PlatformLock* lock);
// True when this thread is inside the lock; always true in release builds,
// which do not track the owner. For assert() in functions that need it held.
inline bool PlatformLockHeldHere(const PlatformLock* lock);

// A condition to wait on with a lock held. Zero is its start state, like the lock's.
struct PlatformCondition {
#if defined(_WIN32)
    void* word;  // a CONDITION_VARIABLE
#else
    // A pthread condition in place; its default state is all zero bytes.
    alignas(8) unsigned char bytes[64];
#endif
};
// Leaves the lock, waits until woken or limitMs passed, enters the lock again.
// False when the time ran out. Spurious wake-ups happen: callers test their
// condition again.
bool PlatformConditionWait(PlatformCondition* condition, PlatformLock* lock, uint32_t limitMs);
void PlatformConditionWakeAll(PlatformCondition* condition);

// Enters on construction, leaves on destruction.
class PlatformLockGuard {
public:
    explicit PlatformLockGuard(PlatformLock& lock) : lock_(lock) { PlatformLockEnter(&lock_); }
    ~PlatformLockGuard() { PlatformLockLeave(&lock_); }
    PlatformLockGuard(const PlatformLockGuard&) = delete;
    PlatformLockGuard& operator=(const PlatformLockGuard&) = delete;
    PlatformLock& lock() { return lock_; }

private:
    PlatformLock& lock_;
};

// Inside a guarded scope: leaves the lock for its own scope (a call into the
// engine or the host) and enters it again at the end of that scope.
class PlatformLockRelease {
public:
    explicit PlatformLockRelease(PlatformLockGuard& guard) : lock_(guard.lock()) { PlatformLockLeave(&lock_); }
    ~PlatformLockRelease() { PlatformLockEnter(&lock_); }
    PlatformLockRelease(const PlatformLockRelease&) = delete;
    PlatformLockRelease& operator=(const PlatformLockRelease&) = delete;

private:
    PlatformLock& lock_;
};

// --- Foreign exceptions -------------------------------------------------------------------
// An engine or host built with the platform's usual C++ compiler throws its
// exceptions as structured exceptions, which this library's own C++ handlers never
// see: unhandled, they would end the host. Runs call(context) and catches such an
// exception. False when one was caught; hasValue tells whether it carried an
// unsigned 32-bit value, which is then in value. Exceptions of this library's own
// C++ pass through unchanged.
struct PlatformForeignException {
    bool caught;
    bool hasValue;
    uint32_t value;
};
bool PlatformCallCatchingForeign(void (*call)(void*), void* context, PlatformForeignException* caught);

// --- Lock owner bookkeeping (debug builds) ------------------------------------------------
inline void PlatformLockNoteOwner(PlatformLock* lock, bool entered) {
#ifndef NDEBUG
    lock->owner.store(entered ? PlatformCurrentThreadId() : 0, std::memory_order_relaxed);
#else
    (void)lock;
    (void)entered;
#endif
}

inline bool PlatformLockHeldHere(const PlatformLock* lock) {
#ifndef NDEBUG
    return lock->owner.load(std::memory_order_relaxed) == PlatformCurrentThreadId();
#else
    (void)lock;
    return true;
#endif
}
