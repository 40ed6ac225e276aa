// What the isolation client's twenty operations do (kal_drv64.dll's exports,
// and in isolated mode kal_drv.dll's or libkal_drv.so's): each turns the
// host's call into one request to the helper and the answer back into what the driver returns
// in-process, keeping everything it hands out at stable addresses here.
#pragma once
#include <cstdint>

#include "kal_exports.h"

namespace bridge {

// At the load: from kal_drv64.dll's DllMain, or from the driver's process
// attach in isolated mode (driver/isolation_client.cpp). `module` gives the
// folder the helper is looked for in.
void BridgeAttach(void* module);
// FreeLibrary: the helper unloads the driver and ends. At process exit nothing
// is done: nothing may wait then, and the helper ends with the host.
void BridgeDetach(bool processEnding);

// One per export, named after its row in KAL_EXPORTS, with the export's type:
// int BridgeInitialize(void), int BridgeSynthMark(text, marker, mark), ...
#define BRIDGE_OPERATION(name, function, result, parameters) result Bridge##name parameters;
KAL_EXPORTS(BRIDGE_OPERATION)
#undef BRIDGE_OPERATION

// What the exports answer when a call throws: the driver's answers without an engine.
int BridgeParameterWithoutEngine(int parameter, int current);
KalVoiceDescriptor** BridgeNoVoices();
KalVoiceDescriptor* BridgeNoVoice();
const char* BridgeNoInfo();

}  // namespace bridge
