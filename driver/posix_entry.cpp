// The native library's load and unload, what DllMain is to the Windows DLL.
// The library is linked so that it is never unmapped before the process ends
// (-z nodelete), so its unload runs only at exit: then, as at a Windows
// process exit, nothing may wait for another thread, and the engine library's
// own unload ends its threads. A host that wants a clean end calls
// kal_Terminate first.
#include "driver/driver.h"

__attribute__((constructor)) static void KalLibraryLoaded() { ProcessAttach(); }
__attribute__((destructor)) static void KalLibraryUnloading() { ProcessDetach(true); }
