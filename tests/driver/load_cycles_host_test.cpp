// A host that loads the driver, speaks one text and frees it again, over and
// over (as a screen reader does when the user switches synthesizers): the TLS
// indexes, handles and memory the process has left stay flat.
// KAL_LOAD_CYCLES sets the count (the 10,000 by hand; the default keeps
// the run short).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/host.h"
#include "support/process_usage.h"
#include "support/sim_ini.h"

namespace {
constexpr int kDefaultCycles = 300;
// Cycles before the first measurement: the process's own lazy set-up (the
// loader's caches, the heap's first growth) settles there.
constexpr int kWarmUpCycles = 20;
// What the cycles after the warm-up may leave behind: no TLS index (the process
// has a fixed number of them, and the host died when each load took one for
// good). Memory: each load once left the C++ runtime's exception pool (about
// 25 KB); what is left now is the static threads library's own, about 0.2 KB a
// module a load (the unloading thread's record, kept on the library's free
// list, and the records of two of its locks), out of reach of our code; the
// bound keeps room for the heap's growth in 64 KB steps. Handles: none a cycle
// (a thread's runtime record in the engine, two handles, was once left about
// every other cycle); a few may belong to the process's own lazy set-up.
constexpr long kHandlesLeft = 4;
constexpr long kPrivateKbPerCycle = 1;
// The engine's worker ends after the unload, and its library goes with it
// (the worker holds it): figures are taken when no thread but this one is left.
constexpr DWORD kOtherThreadsEndMs = 5000;

int Cycles() {
    const char* text = std::getenv("KAL_LOAD_CYCLES");
    const int n = text ? std::atoi(text) : 0;
    return n > kWarmUpCycles ? n : kDefaultCycles;
}

struct Figures {
    int freeTlsIndexes;
    long handles;
    long privateKb;
};

int OtherThreads() { return ProcessThreads() - 1; }

Figures Measure() {
    const DWORD start = GetTickCount();
    while (OtherThreads() != 0 && GetTickCount() - start < kOtherThreadsEndMs) Sleep(1);
    EXPECT_EQ(0, OtherThreads()) << "a thread of the driver or the engine outlived the unload";
    return Figures{FreeTlsIndexes(), OpenHandles(), static_cast<long>(MemoryInUseNow().committedPrivate / 1024)};
}
}  // namespace

TEST(LoadCycles, LoadSpeakUnloadLeavesTlsHandlesAndMemoryFlat) {
    SKIP_WHEN_ISOLATED("each cycle starts and ends a helper process, and the client's event thread is one the "
                       "thread pool keeps for a while; the client's own cycles are measured by the bridge's "
                       "unload host (tests/bridge/unload_host.cpp)");
    Host host("load-cycles", "[Default]\r\nDEBUG=0\r\n", SimEngineIni({{"Deutsch", {"Anna"}}}));
    const int cycles = Cycles();
    Figures warm{};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (cycle == kWarmUpCycles) warm = Measure();
        host.Load();
        ASSERT_EQ(0, host.Key("a")) << "cycle " << cycle;
        host.Synchronize();
        host.Unload();
    }
    const Figures end = Measure();
    printf("load cycles: %d; after %d and at the end: free TLS indexes %d -> %d, handles %ld -> %ld, "
           "private memory %ld KB -> %ld KB\n",
           cycles, kWarmUpCycles, warm.freeTlsIndexes, end.freeTlsIndexes, warm.handles, end.handles,
           warm.privateKb, end.privateKb);
    // More free than at the start would be as wrong: an index given back twice may be the host's.
    EXPECT_EQ(warm.freeTlsIndexes, end.freeTlsIndexes);
    EXPECT_LE(end.handles - warm.handles, kHandlesLeft);
    EXPECT_LE(end.privateKb - warm.privateKb, kPrivateKbPerCycle * (cycles - kWarmUpCycles));
}
