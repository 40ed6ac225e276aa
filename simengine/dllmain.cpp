#include "simengine/journal.h"
#include "platform/platform.h"
#include "simengine/state.h"

namespace sim {
Engine g;

namespace {
DWORD ticksLow = TLS_OUT_OF_INDEXES, ticksHigh = TLS_OUT_OF_INDEXES;  // set at load
DWORD entryDepth = TLS_OUT_OF_INDEXES;                                  // set at load
}

LONGLONG ThreadEngineTicks() {
    if (ticksLow == TLS_OUT_OF_INDEXES || ticksHigh == TLS_OUT_OF_INDEXES) return 0;
    const ULONGLONG low = reinterpret_cast<ULONG_PTR>(TlsGetValue(ticksLow)) & 0xFFFFFFFFu;
    const ULONGLONG high = reinterpret_cast<ULONG_PTR>(TlsGetValue(ticksHigh)) & 0xFFFFFFFFu;
    return static_cast<LONGLONG>(high << 32 | low);
}

void AddThreadEngineTicks(LONGLONG ticks) {
    if (ticksLow == TLS_OUT_OF_INDEXES || ticksHigh == TLS_OUT_OF_INDEXES) return;
    const ULONGLONG sum = static_cast<ULONGLONG>(ThreadEngineTicks() + ticks);
    TlsSetValue(ticksLow, reinterpret_cast<void*>(static_cast<ULONG_PTR>(sum & 0xFFFFFFFFu)));
    TlsSetValue(ticksHigh, reinterpret_cast<void*>(static_cast<ULONG_PTR>(sum >> 32)));
}

int AddThreadEntryDepth(int delta) {
    if (entryDepth == TLS_OUT_OF_INDEXES) return 1;  // never 0: nothing is given back
    const int depth = static_cast<int>(reinterpret_cast<INT_PTR>(TlsGetValue(entryDepth))) + delta;
    TlsSetValue(entryDepth, reinterpret_cast<void*>(static_cast<INT_PTR>(depth)));
    return depth;
}
}  // namespace sim

using namespace sim;

// Runs under the loader lock: only quick, non-blocking work here.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
        ticksLow = TlsAlloc();
        ticksHigh = TlsAlloc();
        entryDepth = TlsAlloc();
        g.module = module;
        char path[MAX_PATH * 2] = {};
        DWORD n = GetModuleFileNameA(module, path, sizeof path);
        std::string file(path, n);
        g.folder = file.substr(0, file.find_last_of("\\/") + 1);
        journalOpen(g.folder);
        char cwd[MAX_PATH * 2] = {};
        DWORD c = GetCurrentDirectoryA(sizeof cwd, cwd);
        journalLine("Attach cwd=" + escaped(cwd, c < sizeof cwd ? c : 0));
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary: no worker is left (each pins the DLL). At process exit
        // (reserved set) other threads died anywhere, so touch nothing.
        journalClose();
        if (ticksLow != TLS_OUT_OF_INDEXES) TlsFree(ticksLow);
        if (ticksHigh != TLS_OUT_OF_INDEXES) TlsFree(ticksHigh);
        if (entryDepth != TLS_OUT_OF_INDEXES) TlsFree(entryDepth);
        PlatformFreeRuntimeTlsIndexes();  // the static thread runtime's index
    }
    return TRUE;
}
