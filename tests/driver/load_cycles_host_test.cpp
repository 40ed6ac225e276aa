// A host that loads the driver, speaks one text and frees it again, over and
// over (as a screen reader does when the user switches synthesizers): what the
// process holds stays flat. Figures are printed; KAL_LOAD_CYCLES sets the count
// (the 10,000 by hand; the default keeps the run short).
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/host.h"
#include "support/sim_ini.h"

namespace {
constexpr int kDefaultCycles = 300;
// Cycles before the first measurement: the process's own lazy set-up (the
// loader's caches, the heap's first growth) settles there.
constexpr int kWarmUpCycles = 20;
// What a cycle may leave behind, summed over every cycle after the warm-up: no
// TLS index (the process has a fixed number of them, and the host dies when they
// are gone), a few handles and a little heap for the system's own caches.
constexpr int kTlsIndexesLost = 0;
constexpr long kHandlesGained = 16;
constexpr long kPrivateKbGained = 1024;

int Cycles() {
    const char* text = std::getenv("KAL_LOAD_CYCLES");
    const int n = text ? std::atoi(text) : 0;
    return n > kWarmUpCycles ? n : kDefaultCycles;
}

// TLS indexes still free: taken until none is left, then given back.
int FreeTlsIndexes() {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (DWORD index : taken) TlsFree(index);
    return static_cast<int>(taken.size());
}

struct Figures {
    int freeTlsIndexes;
    long handles;
    long privateKb;
};

Figures Measure() {
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    return Figures{FreeTlsIndexes(), static_cast<long>(handles), static_cast<long>(memory.PrivateUsage / 1024)};
}
}  // namespace

TEST(LoadCycles, LoadSpeakUnloadLeavesTlsHandlesAndMemoryFlat) {
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
    EXPECT_LE(warm.freeTlsIndexes - end.freeTlsIndexes, kTlsIndexesLost);
    EXPECT_LE(end.handles - warm.handles, kHandlesGained);
    EXPECT_LE(end.privateKb - warm.privateKb, kPrivateKbGained);
}
