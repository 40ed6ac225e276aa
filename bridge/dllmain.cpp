#include <windows.h>

#include "bridge/operations.h"

// Loading starts nothing: the helper starts with the first export, outside the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(module);
        bridge::BridgeAttach(module);
        break;
    case DLL_PROCESS_DETACH:
        bridge::BridgeDetach(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}
