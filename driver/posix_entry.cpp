// The native library's load and unload, what DllMain is to the Windows DLL.
// The library is linked so that it is never unmapped before the process ends
// (-z nodelete), so its unload runs only at exit: then, as at a Windows
// process exit, nothing may wait for another thread, and the engine library's
// own unload ends its threads. A host that wants a clean end calls
// kal_Terminate first.
//
// With [Default] Isolation on, the load starts no engine: the exports go to
// kal_helper beside the library (bridge/link_posix.cpp), which loads this same
// library in ordinary mode.
#include "driver/driver.h"

__attribute__((constructor)) static void KalLibraryLoaded() {
    // Nothing thrown may pass into the host's dlopen.
    try {
        // The client's folder is this library's: an address inside it names it.
        ProcessAttach(IsolationClientOf(reinterpret_cast<void*>(&KalLibraryLoaded)));
    } catch (...) {
    }
}

__attribute__((destructor)) static void KalLibraryUnloading() {
    try {
        ProcessDetach(true);
    } catch (...) {
    }
}
