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

// Loads the driver beside the threaded engine (whose close leaves its thread),
// unloads it while the host's slow callback runs, and waits for the callback
// to return.
void UnloadWhileASlowCallbackRuns(Host& host) {
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
}

// The child's whole run; a crash of the engine's thread ends it with another code.
[[noreturn]] void UnloadDuringSlowCallback() {
    Host host("unload-slow-callback", "[Default]\r\nDEBUG=1\r\n", "", THREADED_ENGINE_FILE);
    UnloadWhileASlowCallbackRuns(host);
    Sleep(kAfterReturnMs);  // the engine's thread is back in the engine, or the process is gone
    const std::string line = "ERR:: Benachrichtigung laeuft noch: Treiber und Sprachausgabe bleiben geladen";
    EndChild(LinesStartingWith(ReadLines(host.folder + "kal.pro"), line).size() == 1, "no line saying the driver stays");
}
}  // namespace

TEST(Unload, WhileASlowCallbackRunsNothingIsUnmappedUnderIt) {
    SKIP_WHEN_ISOLATED("the engine it controls runs in the helper, out of this process; the client's unload under "
                       "a slow callback is the bridge's unload host's (tests/bridge/unload_host.cpp)");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(UnloadDuringSlowCallback(), ::testing::ExitedWithCode(0), "");
}

namespace {
HMODULE driverModule = nullptr;
std::atomic<bool> unloadedInside{false};
int KAL_CDECL UnloadingCallback(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN && !unloadedInside.load()) {
        FreeLibrary(driverModule);
        unloadedInside = true;
    }
    return 0;
}

// The child's whole run: FreeLibrary from inside the host's callback.
[[noreturn]] void UnloadFromInsideTheCallback(const char* engineFile) {
    Host host("unload-in-callback", "[Default]\r\nDEBUG=1\r\n", "", engineFile);
    host.Load();
    // The host's own reference goes in the callback, as a host that drops the driver there.
    driverModule = GetModuleHandleA((host.folder + kHostDriverFile).c_str());
    host.SetSynthCallback(UnloadingCallback);
    host.Key("h0n1");
    if (!WaitFor(unloadedInside)) EndChild(false, "the callback never unloaded the driver");
    Sleep(kAfterReturnMs);  // the engine's thread is back in the driver and the engine, or the process is gone
    // Isolated, the engine is the helper's, which is told to end.
    const std::string line = IsolatedRun()
                                 ? "ERR:: Entladen im Callback: Treiber bleibt geladen, Sprachausgabe-Prozess wird beendet"
                                 : "ERR:: Entladen im Callback: Treiber und Sprachausgabe bleiben geladen";
    if (LinesStartingWith(ReadLines(host.folder + "kal.pro"), line).size() != 1) EndChild(false, "no line saying the driver stays");
    // Loaded again, the driver speaks as after a fresh load, without kal_Initialize.
    host.Load();
    host.UseCallback();
    host.Key("h0n2");
    if (!host.WaitForEvents(2, kEventLimitMs)) EndChild(false, "no begin and end after the reload");
    if (host.Initialize() == -1) EndChild(false, "kal_Initialize after the reload gave -1");
    host.Key("h0n3");
    EndChild(host.WaitForEvents(4, kEventLimitMs), "no begin and end after kal_Initialize");
}
}  // namespace

// FreeLibrary from inside the host's callback: the thread it runs on returns
// through the driver into the engine, so neither is unmapped, and a new load
// speaks. Before, the unload returned into unmapped code and the host crashed.
TEST(Unload, FromInsideTheCallbackNothingIsUnmappedUnderIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(UnloadFromInsideTheCallback("simengine/nalvoapi.dll"), ::testing::ExitedWithCode(0), "")
        << "the simulated engine";
    EXPECT_EXIT(UnloadFromInsideTheCallback(THREADED_ENGINE_FILE), ::testing::ExitedWithCode(0), "")
        << "the threaded engine";
}

namespace {
// The child's whole run: an unload that pins the driver (a slow callback, an
// engine whose close leaves its thread), then a new load that speaks.
[[noreturn]] void LoadAgainAfterAPinnedUnload() {
    Host host("reload-after-pin", "[Default]\r\nDEBUG=1\r\n", "", THREADED_ENGINE_FILE);
    UnloadWhileASlowCallbackRuns(host);
    host.Load();
    host.UseCallback();
    const int rate = host.Initialize();
    if (rate == -1) EndChild(false, "kal_Initialize after the reload gave -1");
    host.Key("h0n2");
    if (!host.WaitForEvents(2, kEventLimitMs)) EndChild(false, "no begin and end after the reload");
    EndChild(true, "");
}
}  // namespace

// A load after an unload that had to pin the driver starts the engine and
// speaks. Before, the start-up faulted on records the runtime had destroyed at
// the pinned unload.
TEST(Unload, ALoadAfterAPinnedUnloadStartsAndSpeaks) {
    SKIP_WHEN_ISOLATED("the engine whose close it controls runs in the helper, out of this process");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LoadAgainAfterAPinnedUnload(), ::testing::ExitedWithCode(0), "");
}
