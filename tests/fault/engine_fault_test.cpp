// The engine misbehaving, a row per fault: an entry point failing with a result,
// or throwing an unsigned 32-bit value (in-process), status stuck busy, its
// thread dying, ends missing or doubled, a begin from inside Speak, an end after
// a stop. For every row: no host call is held longer than its bound, no
// exception reaches the host, the protocol names the failure where the driver
// has a line for it, and the driver speaks again after the next kal_Stop (or,
// for start-up and shut-down faults, the next kal_Initialize).
#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "support/engine_library.h"
#include "support/files.h"

namespace {
// The longest a host call may take here: the driver's own bounded waits with
// the test's short polls are far below it.
constexpr uint32_t kHostCallLimitMs = 3000;
// How long a held call gets to return after the recovery released it.
constexpr uint32_t kReleaseLimitMs = 10000;
constexpr uint32_t kThrown = 0xE1;

std::atomic<int> begins{0}, ends{0};
int KAL_CDECL CountEvents(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN) ++begins;
    if (event->message == KAL_MSG_END) ++ends;
    return 0;
}

// In-process replacements that throw, for the throwing rows.
int32_t ENGINE_CALL ThrowInstance(uint32_t, uint32_t) { throw kThrown; }
int32_t ENGINE_CALL ThrowStatus(uint32_t, uint32_t, int32_t*) { throw kThrown; }
int32_t ENGINE_CALL ThrowSetText(uint32_t, uint32_t, const TextRecord*) { throw kThrown; }
int32_t ENGINE_CALL ThrowSpeak(uint32_t, uint32_t, int32_t) { throw kThrown; }
int32_t ENGINE_CALL ThrowParam(uint32_t, uint32_t, const ParamRecord*, int32_t) { throw kThrown; }
const char* ENGINE_CALL ThrowErrorText(uint32_t) { throw kThrown; }
int32_t ENGINE_CALL FailSetText(uint32_t, uint32_t, const TextRecord*) { return 7; }

int32_t SlotOf(size_t offset) { return static_cast<int32_t>(offset / sizeof(void*)); }
#define SLOT(field) SlotOf(offsetof(EngineApi, field))

enum class Action {
    Speak,          // kal_Key, kal_Synchronize
    SpeakNoEnd,     // kal_Key, kal_IsPlaying: the engine never ends, so no kal_Synchronize
    SpeakPause,     // kal_Key, kal_Pause twice, kal_IsPlaying
    SpeakThenStop,  // kal_Key, kal_Stop, kal_Key, kal_Synchronize
    SelectVoice,    // kal_SetVoiceByName, kal_Key, kal_Synchronize
    Restart,        // kal_Terminate, kal_Initialize
};

struct Row {
    const char* label;
    std::function<void(ThreadedEngineControl&)> fault;  // applied after a clean start
    Action action;
    const char* protocol;  // a line that names the failure, or null where the driver has none
    bool eventsPaired;     // the host must hear one begin and one end per text spoken
};

class EngineFaultTest : public EngineLibraryTest {
protected:
    // Runs the action on a host thread; false when it was held past the limit.
    bool RunBounded(Action action, std::string& escaped, std::thread& host, std::atomic<bool>& done);
    // One row: the fault, the host's calls, the checks, the recovery.
    void RunRow(const Row& row, const std::string& faultFile);
    // A row's check: the row runs in a child process, whose test output the
    // parent does not show, so a failure is also written to standard error.
    static void Expect(bool ok, const std::string& what) {
        if (ok) return;
        ADD_FAILURE() << what;
        fprintf(stderr, "%s\n", what.c_str());
    }
};

bool EngineFaultTest::RunBounded(Action action, std::string& escaped, std::thread& host, std::atomic<bool>& done) {
    host = std::thread([action, &escaped, &done] {
        try {
            switch (action) {
            case Action::Speak:
                kal_Key("h0n1");
                kal_Synchronize();
                break;
            case Action::SpeakNoEnd:
                kal_Key("h0n1");
                kal_IsPlaying();
                break;
            case Action::SpeakPause:
                kal_Key("h0n1");
                kal_Pause(1);
                kal_Pause(0);
                kal_IsPlaying();
                break;
            case Action::SpeakThenStop:
                kal_Key("h0n1");
                kal_Stop();
                kal_Key("h0n2");
                kal_Synchronize();
                break;
            case Action::SelectVoice:
                kal_SetVoiceByName("Petra");
                kal_Key("h0n1");
                kal_Synchronize();
                break;
            case Action::Restart:
                kal_Terminate();
                kal_Initialize();
                break;
            }
        } catch (uint32_t value) {
            escaped = "uint32_t " + std::to_string(value);
        } catch (...) {
            escaped = "another exception";
        }
        done = true;
    });
    const uint32_t started = PlatformTickCount();
    while (!done.load() && PlatformTickCount() - started < kHostCallLimitMs) PlatformSleep(1);
    return done.load();
}
void EngineFaultTest::RunRow(const Row& row, const std::string& faultFile) {
    SCOPED_TRACE(row.label);
    if (!Start()) {
        Expect(false, std::string(row.label) + ": no clean start");
        return;
    }
    const EngineApi clean = Engine.api;
    std::remove((folder + "kal.pro").c_str());
    begins = 0;
    ends = 0;
    kal_SetSynthCallback(CountEvents);
    row.fault(*control);

    std::string escaped;
    std::thread host;
    std::atomic<bool> done{false};
    const bool free = RunBounded(row.action, escaped, host, done);
    Expect(free, std::string(row.label) + ": a host call was held past " + std::to_string(kHostCallLimitMs) + " ms");
    Expect(escaped.empty(), std::string(row.label) + ": an engine exception reached the host (" + escaped + ")");
    if (row.protocol) {
        const std::vector<std::string> lines = Protocol();
        bool named = false;
        for (const std::string& line : lines) named = named || line == row.protocol;
        Expect(named, std::string(row.label) + ": no line \"" + row.protocol + "\" in\n" + ReadFileText(folder + "kal.pro"));
    }
    if (row.eventsPaired && row.action == Action::Speak && escaped.empty() && free) {
        Expect(begins.load() == ends.load(), std::string(row.label) + ": begins and ends differ");
    }

    // Recovery: the engine behaves again; the host stops (or starts again).
    std::remove(faultFile.c_str());
    if (row.action == Action::Restart) {
        Bind();  // the restart loaded the library anew
    } else {
        Engine.api = clean;
    }
    if (control) {
        ThreadedEngineControl& c = *control;
        c.failSlot = kNoFault;
        c.stuckBusy = 0;
        c.dropBegin = 0;
        c.dropEnd = 0;
        c.doubleEnd = 0;
        c.beginInsideSpeak = 0;
        c.endAfterStop = 0;
        c.throwSlot = kNoFault;
        c.noStopMessage = 0;
    }
    if (row.action == Action::Restart) {
        Expect(kal_Initialize() != -1, std::string(row.label) + ": no start after the fault");
    } else {
        kal_Stop();
    }
    const uint32_t released = PlatformTickCount();
    while (!done.load() && PlatformTickCount() - released < kReleaseLimitMs) PlatformSleep(1);
    if (!done.load()) {
        Expect(false, std::string(row.label) + ": the held host call never returned; the run cannot go on");
        std::_Exit(1);  // the held thread is still inside the driver
    }
    host.join();
    if (!Start()) {
        Expect(false, std::string(row.label) + ": no start after the fault");
        return;
    }
    kal_Key("h0n9");
    std::atomic<bool> synchronized{false};
    std::thread waiter([&] {
        kal_Synchronize();
        synchronized = true;
    });
    const uint32_t waitFrom = PlatformTickCount();
    while (!synchronized.load() && PlatformTickCount() - waitFrom < kHostCallLimitMs) PlatformSleep(1);
    Expect(synchronized.load(), std::string(row.label) + ": kal_Synchronize held after recovery");
    if (!synchronized.load()) {
        kal_Stop();
        Engine.initialised = 0;  // lets the waiting loop end
    }
    waiter.join();
    Expect(LastText() == "h0n9", std::string(row.label) + ": not speaking again after recovery, last text \"" + LastText() + "\"");
    kal_SetSynthCallback(nullptr);
    kal_Terminate();
}
}  // namespace

TEST_F(EngineFaultTest, EveryFaultLeavesTheHostFreeAndTheDriverSpeakingAgain) {
    auto fail = [](int32_t slot, int32_t result) {
        return [slot, result](ThreadedEngineControl& c) {
            c.failSlot = slot;
            c.failResult = result;
        };
    };
    // A start-up fault: the restart loads the library anew, which reads it from a file.
    const std::string faultFile = folder + THREADED_ENGINE_FAULT_FILE;
    auto failAtStart = [&faultFile](int32_t slot, int32_t result) {
        return [&faultFile, slot, result](ThreadedEngineControl&) {
            WriteFileText(faultFile, std::to_string(slot) + " " + std::to_string(result));
        };
    };
    auto throwAtStart = [&faultFile](int32_t slot) {
        return [&faultFile, slot](ThreadedEngineControl&) {
            WriteFileText(faultFile, "throw " + std::to_string(slot));
        };
    };
    const Row rows[] = {
        // Start-up: kal_Initialize reports -1 and names the step.
        {"initialize fails", failAtStart(SLOT(initialize), 3), Action::Restart, "KAL : init NALVO failed.", true},
        {"engine list fails", failAtStart(SLOT(getEngineList), 3), Action::Restart, "KAL : GetEngineList failed.", true},
        {"open fails", failAtStart(SLOT(open), 3), Action::Restart, "KAL : ttsOpen failed.", true},
        {"output device fails", failAtStart(SLOT(setOutDevice), 3), Action::Restart, "KAL : ttsSetOutDevice failed.", true},
        {"language list fails", failAtStart(SLOT(getLanguageList), 3), Action::Restart, "KAL : ttsGetLanguageList failed.", true},
        {"voice list fails", failAtStart(SLOT(getVoiceList), 3), Action::Restart, nullptr, true},
        // Start-up, throwing from the engine library: a failed start-up like the
        // rows above (the engine's own throw passes no frame of the driver's
        // compiler, so only the driver's guard stands between it and the host).
        {"initialize throws", throwAtStart(SLOT(initialize)), Action::Restart, "KAL : init NALVO failed.", true},
        {"engine list throws", throwAtStart(SLOT(getEngineList)), Action::Restart, "KAL : GetEngineList failed.", true},
        {"open throws", throwAtStart(SLOT(open)), Action::Restart, "KAL : ttsOpen failed.", true},
        {"output device throws", throwAtStart(SLOT(setOutDevice)), Action::Restart, "KAL : ttsSetOutDevice failed.",
         true},
        {"language list throws", throwAtStart(SLOT(getLanguageList)), Action::Restart,
         "KAL : ttsGetLanguageList failed.", true},
        {"voice list throws", throwAtStart(SLOT(getVoiceList)), Action::Restart, nullptr, true},
        // Shut-down: results are not looked at; the next start-up works.
        {"close fails", fail(SLOT(close), 3), Action::Restart, nullptr, true},
        {"uninitialize fails", fail(SLOT(unInitialize), 3), Action::Restart, nullptr, true},
        // Speaking.
        {"set text fails", fail(SLOT(setText), 0x1234), Action::Speak,
         "KAL : -3 ft_ttsSetText failed: 0x1234 simulierter Fehler", true},
        {"speak fails", fail(SLOT(speak), 0x2345), Action::Speak, "KAL : -4 ft_ttsSpeak failed: 0x2345: simulierter Fehler",
         true},
        {"error text missing", [](ThreadedEngineControl& c) {
             c.failSlot = SLOT(errorGetString);
             Engine.api.setText = FailSetText;
         },
         Action::Speak, "KAL : -3 ft_ttsSetText failed: 0x7 ", true},
        {"status call fails", fail(SLOT(getInstStatus), 5), Action::Speak, nullptr, true},
        {"stop fails", fail(SLOT(stop), 5), Action::SpeakThenStop, nullptr, false},
        {"pause fails", fail(SLOT(pause), 5), Action::SpeakPause, nullptr, false},
        {"resume fails", fail(SLOT(resume), 5), Action::SpeakPause, nullptr, false},
        {"voice parameter fails", fail(SLOT(setParamList), 9), Action::SelectVoice,
         "KAL : Select Voice  Fehlercode: 9 9 0", false},
        // Throwing, in-process.
        {"speak throws", [](ThreadedEngineControl&) { Engine.api.speak = ThrowSpeak; }, Action::Speak,
         "KAL : ft_ttsSpeak failed EX: E1: ", true},
        {"status throws", [](ThreadedEngineControl&) { Engine.api.getInstStatus = ThrowStatus; }, Action::Speak,
         nullptr, true},
        {"set text throws", [](ThreadedEngineControl&) { Engine.api.setText = ThrowSetText; }, Action::Speak,
         nullptr, true},
        {"error text throws", [](ThreadedEngineControl& c) {
             c.failSlot = SLOT(speak);
             c.failResult = 4;
             Engine.api.errorGetString = ThrowErrorText;
         },
         Action::Speak, nullptr, true},
        {"stop throws", [](ThreadedEngineControl&) { Engine.api.stop = ThrowInstance; }, Action::SpeakThenStop,
         nullptr, false},
        {"parameter throws", [](ThreadedEngineControl&) { Engine.api.setParamList = ThrowParam; },
         Action::SelectVoice, nullptr, false},
        // Misbehaving notifications.
        {"status stuck busy", [](ThreadedEngineControl& c) { c.stuckBusy = 1; }, Action::SpeakNoEnd,
         "KAL : Fehler Speak...-1 sta", true},
        {"engine thread died", [](ThreadedEngineControl& c) { c.dropBegin = 1, c.dropEnd = 1; },
         Action::SpeakNoEnd, nullptr, true},
        {"no end notification", [](ThreadedEngineControl& c) { c.dropEnd = 1; }, Action::SpeakNoEnd, nullptr, false},
        {"two end notifications", [](ThreadedEngineControl& c) { c.doubleEnd = 1; }, Action::Speak, nullptr, false},
        {"begin from inside Speak", [](ThreadedEngineControl& c) { c.beginInsideSpeak = 1; }, Action::Speak, nullptr,
         true},
        {"end after a stop", [](ThreadedEngineControl& c) { c.endAfterStop = 1; }, Action::SpeakThenStop, nullptr,
         false},
    };
    // Each row runs in a child process of its own: a fault that wedges the
    // driver must not carry into the next row, nor into other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int faults = 0;
    for (const Row& row : rows) {
        ++faults;
        EXPECT_EXIT(
            {
                RunRow(row, faultFile);
                std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "")
            << row.label;
    }
    printf("fault matrix: faults=%d\n", faults);
}
