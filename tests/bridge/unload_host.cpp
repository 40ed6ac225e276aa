// A 64-bit host that loads and unloads the bridge, in a process of its own
// (a bridge that pins itself stays for the rest of the process):
//   bridge_unload_host slow-callback FOLDER: unloads while its callback, which
//     holds the host's lock, runs for 3 s; 0 when the callback finished and the
//     lock is free afterwards.
//   bridge_unload_host cycles FOLDER N: N load/speak/unload cycles; prints
//     memory, handles and threads before and after; 0 when they stay flat.
//   bridge_unload_host in-callback FOLDER: FreeLibrary from inside its callback,
//     then a new load that speaks without kal_Initialize; 0 when it did and the
//     first helper ended.
//   bridge_unload_host long-folder FOLDER N: speaks with a current folder of
//     N characters made inside FOLDER; 0 when the text was spoken, 5 when the
//     system keeps no such current folder.
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "kalsay/kal_api.h"
#include "tests/support/process_usage.h"

namespace {
constexpr DWORD kEventWaitMs = 20000;
constexpr DWORD kCallbackMs = 3000;      // longer than the bridge's wait for its event thread
constexpr DWORD kCallbackEndsMs = 15000;
// Flat: what 1,000 cycles may add at most (the pool's idle threads, heap slack).
constexpr double kMemoryGrowthMb = 8.0;
constexpr DWORD kHandleGrowth = 40;
constexpr DWORD kThreadGrowth = 4;
constexpr DWORD kSettleMs = 1000;  // the helper's end and the pool's idle threads

std::mutex hostLock;  // the lock a host's callback takes
std::atomic<int> begun{0}, ended{0}, callbackFinished{0};

int KAL_CDECL SlowCallback(const KalSynthEvent* event) {
    if (event->message != KAL_MSG_BEGIN || begun.exchange(1)) return 0;
    std::lock_guard<std::mutex> guard(hostLock);
    Sleep(kCallbackMs);
    callbackFinished.store(1);
    return 0;
}

int KAL_CDECL CountingCallback(const KalSynthEvent* event) {
    (event->message == KAL_MSG_BEGIN ? begun : ended).fetch_add(1);
    return 0;
}

bool WaitFor(const std::atomic<int>& value, int atLeast, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (value.load() < atLeast) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

int SlowCallbackUnload(const std::string& folder) {
    KalApi api;
    std::string error;
    if (!api.Load(folder + "kal_drv64.dll", error)) return 3;
    api.SetSynthCallback(SlowCallback);
    if (api.Initialize() <= 0) return 4;
    api.SetVoiceByName("Anna");
    api.Synth(L"Ein Text, dessen Beginn der Host lange hört.", 1);
    if (!WaitFor(begun, 1, kEventWaitMs)) return 1;
    Sleep(100);  // the callback holds the lock now
    api.Unload();
    if (!WaitFor(callbackFinished, 1, kCallbackEndsMs)) return 7;
    std::unique_lock<std::mutex> guard(hostLock, std::defer_lock);
    const DWORD start = GetTickCount();
    while (!guard.try_lock()) {
        if (GetTickCount() - start > kCallbackEndsMs) return 8;
        Sleep(10);
    }
    return 0;
}

struct Usage {
    double committedMb, addressSpaceMb;  // private committed memory; all memory in use, reserved too
    DWORD handles, threads;
};

Usage Measure() {
    const MemoryInUse memory = MemoryInUseNow();
    constexpr double kMb = 1024.0 * 1024.0;
    return Usage{memory.committedPrivate / kMb, memory.addressSpace / kMb, static_cast<DWORD>(OpenHandles()),
                 static_cast<DWORD>(ProcessThreads())};
}

bool Cycle(const std::string& folder, int mark) {
    KalApi api;
    std::string error;
    if (!api.Load(folder + "kal_drv64.dll", error)) return false;
    api.SetSynthCallback(CountingCallback);
    const int before = ended.load();
    bool ok = api.Initialize() > 0;
    if (ok) {
        api.SetVoiceByName("Anna");
        api.Synth(L"Laden, sprechen, entladen.", mark);
        ok = WaitFor(ended, before + 1, kEventWaitMs);
    }
    api.Unload();
    return ok;
}

int Cycles(const std::string& folder, int count) {
    if (!Cycle(folder, 0)) return 1;  // the first cycle sets up what stays (the C runtime's, the pool's)
    Sleep(kSettleMs);
    const Usage before = Measure();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= count; ++i)
        if (!Cycle(folder, i)) {
            printf("cycle %d failed\n", i);
            return 1;
        }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Sleep(kSettleMs);
    const Usage after = Measure();
    printf("%d load/speak/unload cycles in %.0f s: committed %.1f -> %.1f MB, address space %.1f -> %.1f MB, "
           "handles %lu -> %lu, threads %lu -> %lu\n",
           count, seconds, before.committedMb, after.committedMb, before.addressSpaceMb, after.addressSpaceMb,
           before.handles, after.handles, before.threads, after.threads);
    fflush(stdout);
    if (after.committedMb - before.committedMb > kMemoryGrowthMb ||
        after.addressSpaceMb - before.addressSpaceMb > kMemoryGrowthMb)
        return 2;
    if (after.handles > before.handles + kHandleGrowth) return 3;
    if (after.threads > before.threads + kThreadGrowth) return 4;
    return 0;
}
HMODULE bridgeModule = nullptr;
std::atomic<int> unloadedInside{0};
int KAL_CDECL UnloadingCallback(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN && !unloadedInside.load()) {
        FreeLibrary(bridgeModule);
        unloadedInside.store(1);
    }
    return 0;
}

// The helpers running now, as the host's child processes named kal_host32.exe.
int HelperCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _stricmp(entry.szExeFile, "kal_host32.exe") == 0) ++n;
    CloseHandle(snapshot);
    return n;
}

int UnloadInCallback(const std::string& folder) {
    {
        KalApi api;
        std::string error;
        if (!api.Load(folder + "kal_drv64.dll", error)) return 3;
        // The host's one reference goes in the callback.
        bridgeModule = GetModuleHandleA((folder + "kal_drv64.dll").c_str());
        api.SetSynthCallback(UnloadingCallback);
        if (api.Initialize() <= 0) return 4;
        api.SetVoiceByName("Anna");
        api.Synth(L"Entladen, während der Host den Beginn hört.", 1);
        if (!WaitFor(unloadedInside, 1, kEventWaitMs)) return 1;
    }
    Sleep(kSettleMs);  // the event thread returns through the bridge, or the process is gone
    const DWORD start = GetTickCount();
    while (HelperCount() != 0) {
        if (GetTickCount() - start > kCallbackEndsMs) return 10;
        Sleep(50);
    }
    // Loaded again, the first call starts a helper, as on a fresh load.
    KalApi api;
    std::string error;
    if (!api.Load(folder + "kal_drv64.dll", error)) return 11;
    api.SetSynthCallback(CountingCallback);
    api.SetVoiceByName("Anna");
    api.Synth(L"Wieder geladen.", 2);
    if (!WaitFor(ended, 1, kEventWaitMs)) return 12;
    api.Unload();
    return 0;
}

int LongFolder(const std::string& base, size_t length) {
    std::wstring folder(base.begin(), base.end());
    folder.pop_back();  // the trailing backslash
    while (folder.size() < length) {
        const size_t room = length - folder.size() - 1;
        folder += L"\\" + std::wstring(room < 100 ? (room ? room : 1) : 100, L'd');
        if (!CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 6;
    }
    if (!SetCurrentDirectoryW(folder.c_str()) && !SetCurrentDirectoryW((L"\\\\?\\" + folder).c_str())) return 5;
    KalApi api;
    std::string error;
    if (!api.Load(base + "kal_drv64.dll", error)) return 3;
    api.SetSynthCallback(CountingCallback);
    if (api.Initialize() != 11000) return 4;
    api.SetVoiceByName("Anna");
    api.Synth(L"Aus einem tiefen Ordner.", 3);
    const bool spoken = WaitFor(ended, 1, kEventWaitMs);
    api.Unload();
    return spoken ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 9;
    const std::string mode = argv[1], folder = argv[2];
    if (mode == "slow-callback") return SlowCallbackUnload(folder);
    if (mode == "in-callback") return UnloadInCallback(folder);
    if (mode == "cycles" && argc == 4) return Cycles(folder, atoi(argv[3]));
    if (mode == "long-folder" && argc == 4) return LongFolder(folder, strtoul(argv[3], nullptr, 10));
    return 9;
}
