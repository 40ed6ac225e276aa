#include "bridge/connection.h"
#include "bridge/operations.h"
#include "driver/driver.h"

namespace {
// The module, for the isolation client's folder (kal_host32.exe sits beside the DLL).
void* module = nullptr;

void AttachClient() { bridge::BridgeAttach(module); }

// The isolation client of this DLL: the 64-bit bridge's operations, built for 32 bits.
const IsolationClient kClient = {
#define CLIENT_OPERATION(name, function, result, parameters) &bridge::Bridge##name,
    KAL_EXPORTS(CLIENT_OPERATION)
#undef CLIENT_OPERATION
    &AttachClient,
    &bridge::BridgeDetach,
    &bridge::InsideHostCallback,
};
}  // namespace

// The standard entry point: module handle, reason, reserved; always 1.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
    switch (reason) {
    case 1:  // process attach
        module = instance;
        // Inside the host's LoadLibrary: nothing thrown may pass (the engine's
        // calls are guarded one by one; this catches the rest).
        try {
            ProcessAttach(&kClient);
        } catch (...) {
        }
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
