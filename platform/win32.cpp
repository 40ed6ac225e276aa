// Windows implementation of the platform operations.
#include <windows.h>
// K32GetProcessMemoryInfo from kernel32 itself: no import of psapi.dll.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_testing.h"

uint32_t PlatformOwnModuleFileName(char* out, uint32_t size) {
    if (size == 0) return 0;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&PlatformOwnModuleFileName), &self);
    DWORD n = GetModuleFileNameA(self, out, size);
    // A name that did not fit comes back cut and, on older systems, unterminated.
    if (n >= size) n = size - 1;
    out[n] = '\0';
    return n;
}

char* PlatformLastSeparator(char* path) { return strrchr(path, '\\'); }

uint32_t PlatformGetCurrentFolder(char* out, uint32_t size) {
    DWORD n = GetCurrentDirectoryA(size, out);
    if (n >= size && size) out[0] = '\0';  // too small: n is the size needed
    return n;
}

bool PlatformSetCurrentFolder(const char* folder) { return SetCurrentDirectoryA(folder) != 0; }

// Kept as UTF-16 units in the string's bytes.
std::string PlatformSaveCurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), &folder[0]);
        if (n == 0) return std::string();
        if (n < folder.size()) {
            folder.resize(n);
            break;
        }
        folder.resize(n);  // n is the size needed, terminator included
    }
    return std::string(reinterpret_cast<const char*>(folder.data()), folder.size() * sizeof(wchar_t));
}

bool PlatformRestoreCurrentFolder(const std::string& saved) {
    if (saved.empty()) return false;
    std::wstring folder(saved.size() / sizeof(wchar_t), L'\0');
    memcpy(&folder[0], saved.data(), folder.size() * sizeof(wchar_t));
    return SetCurrentDirectoryW(folder.c_str()) != 0;
}

void PlatformPinOwnModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PlatformPinOwnModule), &self);
}

bool PlatformFileExists(const char* path) {
    OFSTRUCT info;
    return OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
}

bool PlatformFolderExists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void PlatformSetLastError(uint32_t code) { SetLastError(code); }
uint32_t PlatformGetLastError() { return GetLastError(); }

void* PlatformLoadLibrary(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }

void* PlatformLibraryEntry(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void PlatformFreeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

uint32_t PlatformProfileGetString(const char* section, const char* key, const char* fallback,
                                  char* out, uint32_t size, const char* file) {
    return GetPrivateProfileStringA(section, key, fallback, out, size, file);
}

int32_t PlatformProfileGetInt(const char* section, const char* key, int32_t fallback,
                              const char* file) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, file));
}

bool PlatformProfileWriteString(const char* section, const char* key, const char* value,
                                const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

namespace {
// The room tests leave for writes into one folder (platform_testing.h); -1: no limit.
// Set only while no other thread writes files.
char writeRoomFolder[260];  // a plain array: no record for the runtime to destroy
int64_t writeRoom = -1;

// WriteFile, within the room a test left: a full disk takes what fits and fails.
bool WriteBytes(HANDLE file, const char* path, const char* bytes, size_t length) {
    size_t fits = length;
    const bool limited = writeRoom >= 0 && strncmp(path, writeRoomFolder, strlen(writeRoomFolder)) == 0;
    if (limited && static_cast<uint64_t>(writeRoom) < length) fits = static_cast<size_t>(writeRoom);
    DWORD written = 0;
    const BOOL ok = fits == 0 || WriteFile(file, bytes, static_cast<DWORD>(fits), &written, nullptr);
    if (limited) writeRoom -= written;
    if (ok && fits < length) SetLastError(ERROR_DISK_FULL);
    return ok && written == length;
}
}  // namespace

void PlatformTestingSetWriteRoom(const char* folder, int64_t room) {
    snprintf(writeRoomFolder, sizeof writeRoomFolder, "%s", folder ? folder : "");
    writeRoom = room;
}

bool PlatformFileWrite(const char* path, const char* bytes, size_t length, bool truncate) {
    HANDLE h = CreateFileA(path, truncate ? GENERIC_WRITE : FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (!truncate) SetFilePointer(h, 0, nullptr, FILE_END);
    const bool ok = WriteBytes(h, path, bytes, length);
    CloseHandle(h);
    return ok;
}

bool PlatformFileReplace(const char* path, const char* bytes, size_t length) {
    const std::string fresh = std::string(path) + ".neu";
    HANDLE h = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteBytes(h, fresh.c_str(), bytes, length) && FlushFileBuffers(h);
    CloseHandle(h);
    ok = ok && MoveFileExA(fresh.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(fresh.c_str());
    return ok;
}

PlatformFile PlatformFileOpenRead(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : static_cast<PlatformFile>(h);
}

PlatformFile PlatformFileOpenReadOrSayWhy(const char* path, bool* missing) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return static_cast<PlatformFile>(h);
    const DWORD error = GetLastError();
    *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return nullptr;
}

uint64_t PlatformFileSize(PlatformFile file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(static_cast<HANDLE>(file), &size)) return UINT64_MAX;
    return static_cast<uint64_t>(size.QuadPart);
}

int32_t PlatformFileRead(PlatformFile file, void* buffer, uint32_t length, uint32_t* bytesRead) {
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, length, &n, nullptr);
    *bytesRead = n;
    return ok ? 1 : 0;
}

void PlatformFileClose(PlatformFile file) { CloseHandle(static_cast<HANDLE>(file)); }

int32_t PlatformWideToCodePage(uint32_t codePage, const kal_char16* text, int32_t length, char* out,
                               int32_t size) {
    return WideCharToMultiByte(codePage, 0, text, length, size ? out : nullptr, size, nullptr, nullptr);
}

bool PlatformIsLeadByte(uint32_t codePage, uint8_t byte) {
    return IsDBCSLeadByteEx(codePage ? codePage : GetACP(), byte) != 0;
}

LocalTime PlatformLocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void PlatformSleep(uint32_t milliseconds) { Sleep(milliseconds); }
uint32_t PlatformCurrentThreadId() { return GetCurrentThreadId(); }
bool PlatformThreadExists(uint32_t threadId) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
    if (!thread) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such thread
    const bool running = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return running;
}
uint32_t PlatformTickCount() { return GetTickCount(); }

static_assert(sizeof(PlatformLock::word) == sizeof(SRWLOCK), "PlatformLock holds an SRWLOCK");
namespace {
PSRWLOCK Srw(PlatformLock* lock) { return reinterpret_cast<PSRWLOCK>(&lock->word); }
}  // namespace
void PlatformLockEnter(PlatformLock* lock) {
    AcquireSRWLockExclusive(Srw(lock));
    PlatformLockNoteOwner(lock, true);
}
void PlatformLockLeave(PlatformLock* lock) {
    PlatformLockNoteOwner(lock, false);
    ReleaseSRWLockExclusive(Srw(lock));
}
bool PlatformLockTryEnter(PlatformLock* lock) {
    if (!TryAcquireSRWLockExclusive(Srw(lock))) return false;
    PlatformLockNoteOwner(lock, true);
    return true;
}

static_assert(sizeof(PlatformCondition) == sizeof(CONDITION_VARIABLE), "PlatformCondition holds a CONDITION_VARIABLE");
bool PlatformConditionWait(PlatformCondition* condition, PlatformLock* lock, uint32_t limitMs) {
    PlatformLockNoteOwner(lock, false);  // others may enter while this thread sleeps
    const bool woken = SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(condition), Srw(lock),
                                                 limitMs, 0) != 0;
    PlatformLockNoteOwner(lock, true);
    return woken;
}
void PlatformConditionWakeAll(PlatformCondition* condition) {
    WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(condition));
}

// --- Foreign exceptions -------------------------------------------------------------------
// The records the platform's usual C++ compiler throws with (32-bit layout).
namespace {
constexpr DWORD kForeignCxxCode = 0xE06D7363;
constexpr ULONG_PTR kForeignCxxMagic = 0x19930520;  // the low two bits vary with the compiler's version

struct ForeignTypeDescriptor {
    const void* vtable;
    void* spare;
    char name[1];  // ".I" is unsigned int
};
struct ForeignCatchableType {
    unsigned properties;
    const ForeignTypeDescriptor* type;
    int memberDisplacement, vbaseDisplacement, vbaseOffset;
    int size;
    const void* copy;
};
struct ForeignCatchableTypes {
    int count;
    const ForeignCatchableType* types[1];
};
struct ForeignThrowInfo {
    unsigned attributes;
    const void* unwind;
    const void* forwardCompatibility;
    const ForeignCatchableTypes* catchable;
};

bool Readable(const void* p, size_t size) { return p && !IsBadReadPtr(p, size); }

bool CarriesUnsigned32(const EXCEPTION_RECORD* record, uint32_t* value) {
    if (record->NumberParameters < 3 || (record->ExceptionInformation[0] & ~ULONG_PTR(3)) != kForeignCxxMagic)
        return false;
    auto* info = reinterpret_cast<const ForeignThrowInfo*>(record->ExceptionInformation[2]);
    if (!Readable(info, sizeof *info) || !Readable(info->catchable, sizeof(int))) return false;
    for (int i = 0; i < info->catchable->count && i < 64; ++i) {
        const ForeignCatchableType* const* entry = &info->catchable->types[i];
        if (!Readable(entry, sizeof *entry) || !Readable(*entry, sizeof **entry)) return false;
        const ForeignTypeDescriptor* type = (*entry)->type;
        if (!Readable(type, sizeof *type + 2)) return false;
        if (type->name[0] == '.' && type->name[1] == 'I' && type->name[2] == '\0') {
            auto* object = reinterpret_cast<const uint32_t*>(record->ExceptionInformation[1]);
            if (!Readable(object, sizeof *object)) return false;
            *value = *object;
            return true;
        }
    }
    return false;
}

// Registered on the thread's exception list for the length of one call. The
// system passes the record's address to the handler, so the record comes first.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;
    void* jump[5];  // __builtin_setjmp's buffer
    PlatformForeignException* caught;
};

EXCEPTION_DISPOSITION __cdecl ForeignExceptionHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    if (record->ExceptionCode != kForeignCxxCode) return ExceptionContinueSearch;
    auto* frame = static_cast<GuardFrame*>(establisher);
    frame->caught->caught = true;
    frame->caught->hasValue = CarriesUnsigned32(record, &frame->caught->value);
    // The frames between the throw and this guard clean up as their compiler
    // wants; then execution goes on after the guarded call.
    RtlUnwind(establisher, nullptr, record, nullptr);
    __builtin_longjmp(frame->jump, 1);
}

NT_TIB* ThreadInformation() { return reinterpret_cast<NT_TIB*>(NtCurrentTeb()); }
}  // namespace

bool PlatformCallCatchingForeign(void (*call)(void*), void* context, PlatformForeignException* caught) {
    caught->caught = false;
    caught->hasValue = false;
    caught->value = 0;
    volatile GuardFrame frame;
    GuardFrame* guard = const_cast<GuardFrame*>(&frame);
    guard->caught = caught;
    guard->record.Next = ThreadInformation()->ExceptionList;
    guard->record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(ForeignExceptionHandler);
    if (__builtin_setjmp(guard->jump) == 0) {
        ThreadInformation()->ExceptionList = &guard->record;
        try {
            call(context);
        } catch (...) {
            // Our own C++ exceptions unwind without the system: take the guard off first.
            ThreadInformation()->ExceptionList = guard->record.Next;
            throw;
        }
    }
    ThreadInformation()->ExceptionList = guard->record.Next;
    return !caught->caught;
}

bool PlatformGetEnvironment(const char* name, char* out, uint32_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    const DWORD n = GetEnvironmentVariableA(name, out, size);
    if (n == 0 || n >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

uint64_t PlatformProcessMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

void PlatformEndProcess(uint32_t code) {
    TerminateProcess(GetCurrentProcess(), code);
    for (;;) Sleep(INFINITE);  // never reached: the process is gone
}

namespace {
// The watch thread is a long callback of the process's thread pool: the pool
// sets `watchParked` once the callback has returned.
HANDLE watchParked = nullptr;
void (*watchBody)(void*) = nullptr;
void* watchArgument = nullptr;

void CALLBACK WatchThreadEntry(PTP_CALLBACK_INSTANCE instance, void*) {
    CallbackMayRunLong(instance);
    watchBody(watchArgument);
    SetEventWhenCallbackReturns(instance, watchParked);
}
}  // namespace

bool PlatformStartWatchThread(void (*body)(void*), void* argument) {
    if (!watchParked) watchParked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!watchParked) return false;
    ResetEvent(watchParked);
    watchBody = body;
    watchArgument = argument;
    return TrySubmitThreadpoolCallback(&WatchThreadEntry, nullptr, nullptr) != FALSE;
}

bool PlatformWatchThreadParked(uint32_t timeoutMs) {
    return !watchParked || WaitForSingleObject(watchParked, timeoutMs) == WAIT_OBJECT_0;
}
