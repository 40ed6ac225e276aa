// FreeLibrary while the host's callback is still running on the engine's
// thread, with an engine whose close does not wait for that thread: the driver
// must not be unmapped under it (nor the engine, which the thread returns into).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "support/files.h"
#include "support/host.h"
#include "support/threaded_engine.h"

namespace {
// Longer than every bounded wait of the driver's unload together.
constexpr DWORD kSlowCallbackMs = 6000;
constexpr DWORD kEventLimitMs = 10000;
// Time for a crash of the engine's thread to end the process before the checks.
constexpr DWORD kAfterReturnMs = 3000;

std::atomic<bool> entered{false}, returned{false};
int KAL_CDECL SlowCallback(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN && !entered.exchange(true)) {
        Sleep(kSlowCallbackMs);
        returned = true;
    }
    return 0;
}

bool WaitFor(const std::atomic<bool>& flag) {
    for (DWORD waited = 0; !flag.load(); waited += 10) {
        if (waited >= kEventLimitMs) return false;
        Sleep(10);
    }
    return true;
}

// The child's whole run; a crash of the engine's thread ends it with another code.
[[noreturn]] void UnloadDuringSlowCallback() {
    auto end = [](bool ok, const char* what) {
        if (!ok) fprintf(stderr, "%s\n", what);
        TerminateProcess(GetCurrentProcess(), ok ? 0 : 1);  // no detach of what stays loaded
        ExitProcess(1);
    };
    Host host("unload-slow-callback", "[Default]\r\nDEBUG=1\r\n", "", THREADED_ENGINE_FILE);
    host.Load();
    HMODULE engine = GetModuleHandleA((host.folder + "nalvoapi.dll").c_str());
    auto controlOf = reinterpret_cast<ThreadedEngineControlFn>(
        reinterpret_cast<void*>(GetProcAddress(engine, "threaded_engine_control")));
    if (!controlOf) end(false, "no engine control");
    controlOf()->closeLeavesThreads = 1;
    host.SetSynthCallback(SlowCallback);
    host.Key("h0n1");
    if (!WaitFor(entered)) end(false, "the callback was never called");
    host.Unload();
    if (!WaitFor(returned)) end(false, "the callback never returned");
    Sleep(kAfterReturnMs);  // the engine's thread is back in the engine, or the process is gone
    const std::string line = "ERR:: Benachrichtigung laeuft noch: Treiber und Sprachausgabe bleiben geladen";
    end(LinesStartingWith(ReadLines(host.folder + "kal.pro"), line).size() == 1, "no line saying the driver stays");
}
}  // namespace

TEST(Unload, WhileASlowCallbackRunsNothingIsUnmappedUnderIt) {
    SKIP_WHEN_ISOLATED("the engine it controls runs in the helper, out of this process; the client's unload under "
                       "a slow callback is the bridge's unload host's (tests/bridge/unload_host.cpp)");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(UnloadDuringSlowCallback(), ::testing::ExitedWithCode(0), "");
}
