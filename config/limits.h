#pragma once
// Every bounded wait, poll and retry of the driver and its bridge, stated once.
// The figures of the documents named in a row are checked against the row by
// scripts/check-limits.sh in the test run: a document writes a figure followed
// by the names it comes from, e.g. "2 s (`kHandOverWaitMs`)", or a sum or
// product of them, "0.5 s (`kStopPolls` × `kStopPollMs`)".
//   KAL_LIMIT(name, value, unit, what it bounds, documents that state it)
#include <cstdint>

#define KAL_LIMITS(KAL_LIMIT)                                                                           \
    /* driver/: the host-call gate and the helper's watchdog */                                         \
    KAL_LIMIT(kHostCallWaitMs, 10000, ms, "a caller's wait for the gate, for the callers ahead",        \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kGateOwnerCheckMs, 200, ms, "a gate waiter's look at whether the holder's thread exists", \
              "include/kal_drv.h docs/architecture.md")                                                 \
    KAL_LIMIT(kWatchCallLimitMs, 5000, ms, "an engine call in the helper before the watchdog ends it",  \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kWatchMemoryLimitMB, 1024, MB, "the helper's memory before the watchdog ends it",         \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kWatchPeriodMs, 50, ms, "how often the watchdog looks", "docs/architecture.md")           \
    KAL_LIMIT(kWatchStopMs, 1000, ms, "the unload's wait for the watchdog to leave",                    \
              "docs/architecture.md")                                                                   \
    /* speech/: hand-overs, stops, shut-down, notifications, kal_Synchronize */                         \
    KAL_LIMIT(kHandOverWaitMs, 2000, ms, "a thread's wait for another thread's hand-over",              \
              "include/kal_drv.h docs/architecture.md")                             \
    KAL_LIMIT(kSpeakStartWaitMs, 50, ms, "the wait after a start",                                      \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kStopPolls, 10, polls, "a stop's status polls at most", "include/kal_drv.h docs/architecture.md") \
    KAL_LIMIT(kStopPollMs, 50, ms, "the wait before each of a stop's polls",                            \
              "include/kal_drv.h docs/architecture.md")                                                 \
    KAL_LIMIT(kShutdownSettleMs, 100, ms, "the shut-down's pause after its stop", "docs/architecture.md") \
    KAL_LIMIT(kShutdownPollMs, 10, ms, "the shut-down's idle polls apart", "docs/architecture.md")      \
    KAL_LIMIT(kShutdownIdleLimitMs, 3000, ms, "the shut-down's idle polls in all",                      \
              "include/kal_drv.h docs/architecture.md")                                                 \
    KAL_LIMIT(kNotificationDrainMs, 1000, ms, "running notifications at shut-down and before the library is freed", \
              "include/kal_drv.h docs/architecture.md")                                                 \
    KAL_LIMIT(kSynchronizePassMs, 100, ms, "kal_Synchronize's pass interval", "docs/architecture.md")   \
    KAL_LIMIT(kLastEventWaitMs, 1000, ms, "the host's callback before kal_Synchronize returns",         \
              "docs/architecture.md docs/integration.md")                                               \
    /* config/: kal.ini held by another program */                                                      \
    KAL_LIMIT(kProfileBusyRetries, 50, tries, "a busy profile's reads",                                 \
              "docs/architecture.md docs/integration.md")                                               \
    KAL_LIMIT(kProfileBusyRetryMs, 10, ms, "a busy profile's reads apart",                              \
              "docs/architecture.md docs/integration.md")                                               \
    KAL_LIMIT(kProfileBusyRememberedMs, 2000, ms, "one read each after a busy profile",                 \
              "docs/architecture.md")                                                                   \
    /* bridge/ and host32/: the helper process */                                                       \
    KAL_LIMIT(kHelperStartMs, 30000, ms, "a helper's start (a cold Wine start of a 32-bit process is slow)", \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kHelperQuitMs, 5000, ms, "the helper's end at unload (its driver ends the engine first)", \
              "docs/integration.md docs/architecture.md")                                               \
    KAL_LIMIT(kThreadStopMs, 2000, ms, "the event thread's end, busy in a host callback at worst",      \
              "docs/integration.md docs/architecture.md")                                               \
    KAL_LIMIT(kSlotWaitMs, 100, ms, "a caller waiting for a free slot looks again this often",          \
              "docs/architecture.md")                                                                   \
    KAL_LIMIT(kSlotClaimMs, 30000, ms, "a caller's wait for a slot of its lane",                        \
              "include/kal_drv.h docs/integration.md docs/architecture.md")                             \
    KAL_LIMIT(kDeliveryStallMs, 1000, ms, "kal_Synchronize: a host callback that does not return",      \
              "docs/architecture.md")                                                                   \
    KAL_LIMIT(kAnswerMs, 20000, ms, "the answer to a call other than kal_Synchronize",                  \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kRingFullWaitMs, 2000, ms, "the helper's wait for room in a full event ring",             \
              "docs/architecture.md")                                                                   \
    KAL_LIMIT(kQuickDeathMs, 2000, ms, "a helper that ends this soon after its start died at once",     \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kBackoffFirstMs, 250, ms, "the first pause before restarting a helper that died at once", \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kBackoffMaxMs, 8000, ms, "the longest such pause",                                        \
              "include/kal_drv.h docs/architecture.md docs/integration.md")                             \
    KAL_LIMIT(kRestartAttempts, 5, starts, "helper starts that fail before speech stays off", \
              "docs/integration.md")                                                                    \
    KAL_LIMIT(kSynchronizeRounds, 3, helpers, "helpers dying under one kal_Synchronize it waits through", \
              "docs/architecture.md")                                                                   \
    KAL_LIMIT(kOrphanGraceMs, 2000, ms, "natively: a helper whose client has gone, before it ends itself", \
              "docs/architecture.md docs/integration.md")                                               \
    KAL_LIMIT(kCollectMs, 2000, ms, "natively: collecting an ended helper", "docs/architecture.md")     \
    KAL_LIMIT(kCollectPollMs, 1, ms, "natively: a bounded collection looks again this often",           \
              "docs/architecture.md")

#define KAL_LIMIT_CONSTANT(name, value, unit, what, documents) constexpr uint32_t name = value;
KAL_LIMITS(KAL_LIMIT_CONSTANT)
#undef KAL_LIMIT_CONSTANT
