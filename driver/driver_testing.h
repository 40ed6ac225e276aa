// driver/'s internals, for tests only: shipped code outside driver/ never
// includes this header.
#pragma once
#include <cstdint>

// The gate's bound, kHostCallWaitMs when shipped: the hostile-host tests shorten
// it to see a refusal soon. Only while no host call is inside the gate.
void HostCallTestingSetWaitMs(uint32_t limitMs);
uint32_t HostCallTestingWaitMs();
