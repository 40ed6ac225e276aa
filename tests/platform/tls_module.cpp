// A module that carries the static thread runtime and takes and gives back a
// TLS index of its own, as the simulated engine does: what it gives back itself
// must not be given back again when it unloads.
#include <windows.h>

#include "platform/platform.h"

extern "C" __declspec(dllexport) DWORD TakeAndGiveBackIndex() {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return index;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) PlatformFreeRuntimeTlsIndexes();
    return TRUE;
}
