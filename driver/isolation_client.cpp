// The isolation client a library links (the Windows DLL and the native
// library alike): the bridge's twenty operations, handed to ProcessAttach by
// the library's load entry.
#include "bridge/connection.h"
#include "bridge/operations.h"
#include "driver/driver.h"

namespace {
// The library the client belongs to, for its folder (the helper sits beside it).
void* clientModule = nullptr;

void AttachClient() { bridge::BridgeAttach(clientModule); }

const IsolationClient kClient = {
#define CLIENT_OPERATION(name, function, result, parameters) &bridge::Bridge##name,
    KAL_EXPORTS(CLIENT_OPERATION)
#undef CLIENT_OPERATION
    &AttachClient,
    &bridge::BridgeDetach,
    &bridge::InsideHostCallback,
};
}  // namespace

const IsolationClient* IsolationClientOf(void* module) {
    clientModule = module;
    return &kClient;
}
