// The native library's load and unload, what DllMain is to the Windows DLL.
// The library is linked so that it is never unmapped before the process ends
// (-z nodelete), so its unload runs only at exit: then, as at a Windows
// process exit, nothing may wait for another thread, and the engine library's
// own unload ends its threads. A host that wants a clean end calls
// kal_Terminate first.
//
// With [Default] Isolation=1 the load starts no engine: the exports go to
// kal_helper beside the library, which loads this same library in ordinary
// mode (it marks itself with the symbol kal_isolation_helper).
#include <dlfcn.h>

#include "bridge/forwarding.h"
#include "bridge/operations.h"
#include "driver/driver.h"

namespace {
bool isolated = false;  // written once by the load

bool InsideHelper() { return dlsym(RTLD_DEFAULT, "kal_isolation_helper") != nullptr; }
}  // namespace

__attribute__((constructor)) static void KalLibraryLoaded() {
    isolated = ProcessAttach(!InsideHelper());
    if (!isolated) return;
    ExportForwarding table;
    bridge::BridgeFillForwarding(reinterpret_cast<void*>(&KalLibraryLoaded), table);
    DriverSetForwarding(table);
}

__attribute__((destructor)) static void KalLibraryUnloading() {
    // At exit the helper hears its end of the pair close and ends too.
    if (isolated) bridge::BridgeDetach(true);
    ProcessDetach(true);
}
