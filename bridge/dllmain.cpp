#include <windows.h>

#include "bridge/boundary.h"
#include "bridge/connection.h"
#include "bridge/operations.h"
#include "platform/runtime_pool.h"

// Loading starts nothing: the helper starts with the first export, outside the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(module);
        bridge::Guarded(0, [&] {
            bridge::BridgeAttach(module);
            return 0;
        });
        break;
    case DLL_PROCESS_DETACH:
        bridge::Guarded(0, [&] {
            bridge::BridgeDetach(reserved != nullptr);
            return 0;
        });
        // Not at process exit (nothing is given back then), and not while the
        // event thread may still run a host callback (the module is pinned then).
        if (!reserved && !bridge::BridgePinned()) PlatformFreeRuntimePool();
        break;
    default:
        break;
    }
    return TRUE;
}
