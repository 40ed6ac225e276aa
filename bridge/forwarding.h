// The twenty exports' road to a helper for a driver that runs in isolated
// mode (libkal_drv.so with Isolation=1): the bridge's operations, each behind
// the same last catch and with the same answer without an engine as
// kal_drv64.dll's exports.
#pragma once
#include "driver/driver.h"

namespace bridge {
// `module`: the driver's own module (the helper is looked for beside it).
void BridgeFillForwarding(void* module, ExportForwarding& table);
}  // namespace bridge
