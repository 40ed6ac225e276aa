#include <windows.h>

#include "bridge/boundary.h"
#include "bridge/operations.h"

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
        break;
    default:
        break;
    }
    return TRUE;
}
