#include "driver/driver.h"
#include "platform/platform.h"

// The standard entry point: module handle, reason, reserved; always 1.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
    switch (reason) {
    case 1:  // process attach
        // Inside the host's LoadLibrary: nothing thrown may pass (the engine's
        // calls are guarded one by one; this catches the rest).
        try {
            ProcessAttach(IsolationClientOf(instance));
        } catch (...) {
        }
        // The loading thread may be a host thread that never unloads the driver:
        // its record in the thread runtime goes back now, or it would outlive the module.
        PlatformEndThreadRuntime();
        break;
    case 0:  // process detach
        try {
            ProcessDetach(reserved != nullptr);
        } catch (...) {  // the client's unload allocates
        }
        break;
    default:  // thread attach and detach
        break;
    }
    return 1;
}
