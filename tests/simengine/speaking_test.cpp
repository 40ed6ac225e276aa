#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "simengine/sim_harness.h"
#include "support/files.h"
#include "support/wait.h"

namespace {

enum class Act { Stop, Pause, Resume, SpeakAgain };

struct FlowRow {
    const char* label;
    const char* script;          // extra [Script] lines
    std::map<uint32_t, Act> on;  // what the driver does inside a notification
    std::vector<uint32_t> expected;
};
void PrintTo(const FlowRow& row, std::ostream* os) { *os << row.label; }

// Each row runs with notifications from the worker (false) and in the call (true).
class Flow : public ::testing::TestWithParam<std::tuple<FlowRow, bool>> {};

TEST_P(Flow, NotificationOrderAndThread) {
    const FlowRow& row = std::get<0>(GetParam());
    bool sync = std::get<1>(GetParam());
    std::string ini = std::string("[Script]\nMsPerChar=1\nSync=") + (sync ? "1\n" : "0\n") + row.script;
    SimEngine sim(std::string(row.label) + (sync ? "-sync" : "-worker"), ini);
    ASSERT_NO_FATAL_FAILURE(sim.open());
    sim.probeStatus = true;
    bool spokeAgain = false;
    sim.onNotify = [&](uint32_t code) {
        auto it = row.on.find(code);
        if (it == row.on.end()) return;
        uint32_t i0 = sim.inst.first, i1 = sim.inst.second;
        if (it->second == Act::Stop) { EXPECT_EQ(sim.api.stop(i0, i1), 0); }
        if (it->second == Act::Pause) { EXPECT_EQ(sim.api.pause(i0, i1), 0); }
        if (it->second == Act::Resume) { EXPECT_EQ(sim.api.resume(i0, i1), 0); }
        if (it->second == Act::SpeakAgain && !spokeAgain) {
            spokeAgain = true;
            EXPECT_EQ(sim.say("second"), 0);
        }
    };
    ASSERT_EQ(sim.say("first text"), 0);
    if (sync) { EXPECT_EQ(sim.codes(), row.expected) << "not all delivered inside Speak"; }
    ASSERT_TRUE(sim.waitFor(row.expected.size()));
    Sleep(60);  // longer than the text: nothing may follow
    EXPECT_EQ(sim.codes(), row.expected);
    DWORD expectedThread = sync ? GetCurrentThreadId() : sim.notices()[0].thread;
    for (const Notice& n : sim.notices()) {
        EXPECT_EQ(n.thread, expectedThread) << "code " << n.code;
        if (!sync) { EXPECT_NE(n.thread, GetCurrentThreadId()) << "code " << n.code; }
        if (n.code == kMsgEndProcess || n.code == kMsgStop) { EXPECT_EQ(n.status, 0) << n.code; }
        if (n.code == kMsgBeginProcess || n.code == kMsgPause) { EXPECT_NE(n.status, 0) << n.code; }
        if (n.code == kMsgOutBufDone) { EXPECT_TRUE(n.bufferFilled); }
    }
    // Pause and Resume with nothing to pause or resume send nothing.
    EXPECT_EQ(sim.api.pause(sim.inst.first, sim.inst.second), 0);
    EXPECT_EQ(sim.api.resume(sim.inst.first, sim.inst.second), 0);
    Sleep(30);
    EXPECT_EQ(sim.codes().size(), row.expected.size());
}

const FlowRow kFlows[] = {
    {"plain", "", {}, {kMsgBeginProcess, kMsgEndProcess}},
    {"stop_in_begin", "", {{kMsgBeginProcess, Act::Stop}}, {kMsgBeginProcess, kMsgStop}},
    {"pause_resume", "", {{kMsgBeginProcess, Act::Pause}, {kMsgPause, Act::Resume}},
     {kMsgBeginProcess, kMsgPause, kMsgResume, kMsgEndProcess}},
    {"next_text_from_end", "", {{kMsgEndProcess, Act::SpeakAgain}},
     {kMsgBeginProcess, kMsgEndProcess, kMsgBeginProcess, kMsgEndProcess}},
    {"buffer_messages", "BufferMessages=1\n", {},
     {kMsgBeginProcess, kMsgOutBufRequest, kMsgOutBufDone, kMsgEndProcess}},
};

INSTANTIATE_TEST_SUITE_P(Sim, Flow, ::testing::Combine(::testing::ValuesIn(kFlows), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (std::get<1>(info.param) ? "_sync" : "_worker");
                         });

const std::string kLongText(50, 'a');  // 200 ms at MsPerChar=4
// How long the idle worker may keep the freed DLL loaded.
constexpr uint32_t kReleaseLimitMs = 2000;

TEST(SimTiming, PauseFreezesTheRemainingTime) {
    SimEngine sim("pause-freeze", "[Script]\nMsPerChar=4\n");
    ASSERT_NO_FATAL_FAILURE(sim.open());
    ASSERT_EQ(sim.say(kLongText), 0);
    EXPECT_NE(sim.status(), 0);
    ASSERT_TRUE(sim.waitFor(1));
    ASSERT_EQ(sim.api.pause(sim.inst.first, sim.inst.second), 0);
    Sleep(400);
    EXPECT_NE(sim.status(), 0) << "paused counts as busy";
    ASSERT_TRUE(sim.waitFor(2));
    EXPECT_EQ(sim.codes().size(), 2u) << "ended while paused";
    ASSERT_EQ(sim.api.resume(sim.inst.first, sim.inst.second), 0);
    ASSERT_TRUE(sim.waitFor(4));
    EXPECT_EQ(sim.codes(), (std::vector<uint32_t>{kMsgBeginProcess, kMsgPause, kMsgResume, kMsgEndProcess}));
    EXPECT_EQ(sim.status(), 0);
}

TEST(SimTiming, StopEndsAtOnceWithoutEndMessage) {
    SimEngine sim("stop-timed", "[Script]\nMsPerChar=4\n");
    ASSERT_NO_FATAL_FAILURE(sim.open());
    ASSERT_EQ(sim.say(kLongText), 0);
    ASSERT_TRUE(sim.waitFor(1));
    ASSERT_EQ(sim.api.stop(sim.inst.first, sim.inst.second), 0);
    EXPECT_EQ(sim.status(), 0);
    Sleep(300);
    EXPECT_EQ(sim.codes(), (std::vector<uint32_t>{kMsgBeginProcess, kMsgStop}));
}

// Begin-to-end time of a 20-character text at the given rate.
DWORD speakingTime(uint16_t rate) {
    SimEngine sim("rate-" + std::to_string(rate), "[Script]\nMsPerChar=8\n");
    sim.open();
    ParamRecord param{kParamRate, {uint8_t(rate), uint8_t(rate >> 8)}};
    sim.api.setParamList(sim.inst.first, sim.inst.second, &param, 1);
    DWORD start = GetTickCount();
    sim.say(std::string(20, 'a'));
    sim.waitFor(2);
    return GetTickCount() - start;
}

TEST(SimTiming, LowerRateSpeaksLonger) {
    DWORD normal = speakingTime(50), slow = speakingTime(13);  // 160 ms and about 615 ms
    EXPECT_GE(normal, 140u);  // lower bounds only: a loaded machine is slower, never faster
    EXPECT_GE(slow, 580u);
    EXPECT_LT(normal, slow);
}

TEST(SimWorker, UnInitializeJoinsTheWorker) {
    SimEngine sim("join", "");
    ASSERT_NO_FATAL_FAILURE(sim.open());
    auto workers = sim.bind<int32_t(ENGINE_CALL*)()>("sim_WorkerCount");
    ASSERT_EQ(sim.say("hello"), 0);
    EXPECT_EQ(workers(), 1);
    ASSERT_EQ(sim.api.unInitialize(sim.cls.first, sim.cls.second), 0);
    EXPECT_EQ(workers(), 0);
    EXPECT_EQ(sim.status(), -1) << "instance handle still valid after UnInitialize";
}

TEST(SimWorker, FreeLibraryWhileSpeakingFinishesThenUnloads) {
    auto* sim = new SimEngine("free-while-speaking", "[Script]\nMsPerChar=4\n");
    ASSERT_NO_FATAL_FAILURE(sim->open());
    ASSERT_EQ(sim->say(kLongText), 0);
    std::string path = sim->folder + "nalvoapi.dll";
    FreeLibrary(sim->module);  // no Close: the worker keeps the DLL until it is done
    EXPECT_TRUE(sim->waitFor(2));
    EXPECT_EQ(sim->codes().back(), kMsgEndProcess);
    WaitUntil([&] { return GetModuleHandleA(path.c_str()) == nullptr; }, kReleaseLimitMs);
    EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << "the idle worker never released the DLL";
    sim->module = nullptr;
    sim->opened = false;
    delete sim;  // leaked on failure: the engine may still be loaded
}

}  // namespace

namespace {

// Runs fn on another thread; false if it has not returned within ms (then it leaks).
DWORD WINAPI runCall(void* p) {
    auto* f = static_cast<std::function<void()>*>(p);
    (*f)();
    delete f;
    return 0;
}

bool returnsWithin(DWORD ms, std::function<void()> fn) {
    HANDLE t = CreateThread(nullptr, 0, runCall, new std::function<void()>(std::move(fn)), 0, nullptr);
    bool done = WaitForSingleObject(t, ms) == WAIT_OBJECT_0;
    CloseHandle(t);
    return done;
}

// How long the worker started in DllMain may take to notify.
constexpr uint32_t kNoticesLimitMs = 5000;

struct LoaderLockRow {
    const char* label;
    const char* ini;
    LONG noticesBeforeUnload;  // wait for these before FreeLibrary
};
void PrintTo(const LoaderLockRow& row, std::ostream* os) { *os << row.label; }

class LoaderLock : public ::testing::TestWithParam<LoaderLockRow> {};

// The driver opens the engine and may start speaking inside its DllMain, and
// shuts it down in DllMain again: neither may deadlock on the worker.
TEST_P(LoaderLock, OpenSpeakAndShutDownInsideDllMain) {
    const LoaderLockRow& row = GetParam();
    SimEngine sim(std::string("loader-lock-") + row.label, row.ini);
    CopyFileTo(BuildPath("tests/sim_loader_lock_host.dll"), sim.folder + "host.dll");
    auto host = std::make_shared<HMODULE>(nullptr);
    std::string path = sim.folder + "host.dll";
    ASSERT_TRUE(returnsWithin(5000, [=] { *host = LoadLibraryA(path.c_str()); })) << "deadlock at load";
    ASSERT_NE(*host, nullptr);
    auto count = reinterpret_cast<LONG (*)()>(reinterpret_cast<void*>(GetProcAddress(*host, "host_Notices")));
    WaitUntil([&] { return count() >= row.noticesBeforeUnload; }, kNoticesLimitMs);
    EXPECT_GE(count(), row.noticesBeforeUnload) << "the worker started in DllMain never ran";
    EXPECT_TRUE(returnsWithin(5000, [=] { FreeLibrary(*host); })) << "deadlock at unload";
}

INSTANTIATE_TEST_SUITE_P(Sim, LoaderLock, ::testing::Values(
    LoaderLockRow{"finished", "", 2},
    LoaderLockRow{"still_speaking", "[Script]\nMsPerChar=100\n", 1}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
