#pragma once
// Every bounded wait and poll of sd_kal, stated once. The module uses the
// driver as any host does and includes none of its folders, so its table is
// its own; its rows have the shape of the driver's (config/limits.h), and
// scripts/check-limits.sh checks the figures of the documents a row names
// against it: "10 ms (`kPulseLatencyMs`)".
//   KAL_LIMIT(name, value, unit, what it bounds, documents that state it)
#include <cstdint>

#define SDMODULE_LIMITS(KAL_LIMIT)                                                                       \
    KAL_LIMIT(kInboxWaitMs, 500, ms, "the speaker's thread looks at its inbox at least this often",      \
              "docs/architecture.md")                                                                     \
    KAL_LIMIT(kStalledChecks, 2, checks,                                                                  \
              "inbox checks in a row, the driver idle, that end a message whose end notice never came",    \
              "docs/architecture.md")                                                                     \
    KAL_LIMIT(kPulseLatencyMs, 10, ms,                                                                    \
              "the engine's PulseAudio stream until AUDIO names another (speech-dispatcher's AudioPulseMinLength as shipped)", \
              "README.md docs/architecture.md docs/performance.md")

#define SDMODULE_LIMIT_CONSTANT(name, value, unit, what, documents) constexpr uint32_t name = value;
SDMODULE_LIMITS(SDMODULE_LIMIT_CONSTANT)
#undef SDMODULE_LIMIT_CONSTANT
