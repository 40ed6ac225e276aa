#include "simengine/journal.h"
#include "simengine/state.h"

namespace sim {
Engine g;
thread_local LONGLONG threadEngineTicks;
}

using namespace sim;

// Runs under the loader lock: only quick, non-blocking work here.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
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
    }
    return TRUE;
}
