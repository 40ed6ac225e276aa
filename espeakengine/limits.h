// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every bounded wait, poll and pace of the eSpeak NG engine, stated once. The
// engine is a library of its own beside the driver and takes nothing of the
// driver's but the engine contract (engine/contract.h), so its table is its
// own; the rows have the shape of the driver's (config/limits.h), and
// scripts/check-limits.sh checks the figures of the documents a row names
// against them, e.g. "5 s (`kStallLimitMs`)".
//   KAL_LIMIT(name, value, unit, what it bounds, documents that state it)
#include <cstdint>

#define ESPEAK_LIMITS(KAL_LIMIT)                                                                               \
    /* speaker.cpp. Short blocks, so that a stop or a pause takes effect within one. */                       \
    KAL_LIMIT(kBlockMs, 20, ms, "eSpeak NG's blocks of samples",                                               \
              "README.md docs/architecture.md docs/performance.md")                                            \
    /* eSpeak NG loads its data in a few ms: a worker that takes this long is stuck. */                        \
    KAL_LIMIT(kWorkerLimitMs, 10000, ms, "a caller's wait for the worker to start or end",                     \
              "docs/architecture.md")                                                                          \
    KAL_LIMIT(kPauseCheckMs, 50, ms, "a paused text looks this often whether a stop cut it",                   \
              "docs/architecture.md")                                                                          \
    /* A sound server's write takes up to about 50 ms. */                                                      \
    KAL_LIMIT(kStopDeliveryWaitMs, 200, ms, "a stop's wait for a block on its way to the output",              \
              "docs/architecture.md")                                                                          \
    /* pulse_output.cpp. Short enough that a stop is not heard on, long enough that the worker's */           \
    /* scheduling makes no gaps. */                                                                            \
    KAL_LIMIT(kServerBufferMs, 100, ms, "what the PulseAudio server holds ahead of playing",                   \
              "docs/architecture.md docs/performance.md")                                                      \
    /* A server that has not answered by then is not there. */                                                 \
    KAL_LIMIT(kConnectLimitMs, 500, ms, "a connection, at the start or after the server went away",            \
              "README.md docs/architecture.md")                                                                \
    /* A busy server's null sink was seen taking no sample for up to 2 s. */                                   \
    KAL_LIMIT(kStallLimitMs, 5000, ms, "a server that takes no sample (a suspended sink) before the text ends", \
              "README.md docs/architecture.md")                                                                \
    KAL_LIMIT(kDrainMarginMs, 5000, ms, "playing out a text's end: the server's buffer and this much more",    \
              "docs/architecture.md")                                                                          \
    KAL_LIMIT(kOperationLimitMs, 500, ms, "a flush or a cork answered by the server", "docs/architecture.md")  \
    KAL_LIMIT(kPollSliceMs, 5, ms, "the waits on the server look again this often", "docs/architecture.md")   \
    /* wav_output.cpp. A sound card's buffer holds that much before it plays it. */                            \
    KAL_LIMIT(kPaceLeadMs, 20, ms, "a file paced like a sound card runs this far ahead of the clock at most", \
              "docs/architecture.md")

#define ESPEAK_LIMIT_CONSTANT(name, value, unit, what, documents) constexpr uint32_t name = value;
ESPEAK_LIMITS(ESPEAK_LIMIT_CONSTANT)
#undef ESPEAK_LIMIT_CONSTANT
