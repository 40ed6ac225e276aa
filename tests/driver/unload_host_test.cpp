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

// Ends the child with the result; no detach of what stays loaded.
[[noreturn]] void EndChild(bool ok, const char* what) {
    if (!ok) fprintf(stderr, "%s\n", what);
    TerminateProcess(GetCurrentProcess(), ok ? 0 : 1);
    ExitProcess(1);
}

// The child's whole run; a crash of the engine's thread ends it with another code.
[[noreturn]] void UnloadDuringSlowCallback() {
    Host host("unload-slow-callback", "[Default]\r\nDEBUG=1\r\n", "", THREADED_ENGINE_FILE);
    host.Load();
    HMODULE engine = GetModuleHandleA((host.folder + "nalvoapi.dll").c_str());
    auto controlOf = reinterpret_cast<ThreadedEngineControlFn>(
        reinterpret_cast<void*>(GetProcAddress(engine, "threaded_engine_control")));
    if (!controlOf) EndChild(false, "no engine control");
    controlOf()->closeLeavesThreads = 1;
    host.SetSynthCallback(SlowCallback);
    host.Key("h0n1");
    if (!WaitFor(entered)) EndChild(false, "the callback was never called");
    host.Unload();
    if (!WaitFor(returned)) EndChild(false, "the callback never returned");
    Sleep(kAfterReturnMs);  // the engine's thread is back in the engine, or the process is gone
    const std::string line = "ERR:: Benachrichtigung laeuft noch: Treiber und Sprachausgabe bleiben geladen";
    EndChild(LinesStartingWith(ReadLines(host.folder + "kal.pro"), line).size() == 1, "no line saying the driver stays");
}
}  // namespace

TEST(Unload, WhileASlowCallbackRunsNothingIsUnmappedUnderIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(UnloadDuringSlowCallback(), ::testing::ExitedWithCode(0), "");
}
