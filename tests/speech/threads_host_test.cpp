// The driver as a screen reader uses it: several host threads, a process that
// ends without kal_Terminate, an engine that reports begin from inside Speak.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kit/process.h"
#include "support/files.h"
#include "support/host.h"

namespace {
const char kOneVoice[] =
    "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
    "[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n";

std::string EngineIni(const std::string& script) { return std::string(kOneVoice) + "[Script]\r\n" + script; }

// The whole run of a host that speaks and ends. In isolated mode its first
// call also waits for the helper's start, a Wine process start (about 0.4 s).
constexpr DWORD kExitRunMs = 2000;
constexpr DWORD kHelperStartAllowanceMs = 1000;
}  // namespace

// The process ends (return from main) while the engine's worker speaks, the
// protocol is at its most detailed and three other threads are in the driver:
// process detach must wait for none of them.
TEST(HostThreads, ProcessEndsWithoutTerminateWithinTwoSeconds) {
    Host host("exit-without-terminate", "[Default]\r\nDEBUG=4\r\n", EngineIni("MsPerChar=20\r\n"));
    CopyFileTo(BuildPath("tests/kal_exit_host.exe"), host.folder + "kal_exit_host.exe");
    const std::wstring command = L"\"" + std::wstring(host.folder.begin(), host.folder.end()) +
                                 L"kal_exit_host.exe\" \"" + std::wstring(host.folder.begin(), host.folder.end()) + L".\"";
    for (int run = 0; run < 20; ++run) {
        ProcessResult result = RunProcess(command, host.folder, "", 10000);
        ASSERT_TRUE(result.started) << "run " << run;
        ASSERT_FALSE(result.timedOut) << "run " << run << ": the process did not end";
        EXPECT_EQ(0u, result.exitCode) << "run " << run;
        EXPECT_LT(result.elapsedMs, kExitRunMs + (IsolatedRun() ? kHelperStartAllowanceMs : 0)) << "run " << run;
    }
    // The protocol was written up to the end (its footer only when no vanished
    // thread held its lock, so that is not looked for).
    EXPECT_FALSE(host.Protocol().empty());
}

// Two host threads queue a short text every 5 ms for 5 s while the engine ends
// texts on its own thread: no call is held by the other thread's texts, and no
// text reaches the engine twice.
TEST(HostThreads, TwoThreadsQueueingAreNeverHeldAndNoTextIsSpokenTwice) {
    Host host("two-threads", "[Default]\r\nDEBUG=0\r\n", EngineIni("MsPerChar=1\r\n"));
    host.Load();
    host.UseCallback();
    std::atomic<DWORD> longest{0};
    auto speaker = [&](char name) {
        const DWORD end = GetTickCount() + 5000;
        for (int i = 0; GetTickCount() < end; ++i) {
            const std::wstring text = std::wstring(1, wchar_t(name)) + std::to_wstring(i);
            const DWORD before = GetTickCount();
            host.Synth(text.c_str(), i);
            const DWORD took = GetTickCount() - before;
            for (DWORD seen = longest.load(); took > seen && !longest.compare_exchange_weak(seen, took);) {
            }
            Sleep(5);
        }
    };
    std::thread a(speaker, 'a'), b(speaker, 'b');
    a.join();
    b.join();
    host.Synchronize();
    EXPECT_LT(longest.load(), 150u) << "a kal_Synth call was held in the driver";
    std::vector<SpokenText> spoken = host.Spoken();
    ASSERT_GT(spoken.size(), 20u);
    std::set<std::string> seen;
    for (const SpokenText& text : spoken) EXPECT_TRUE(seen.insert(text.text).second) << text.text << " spoken twice";
    host.Unload();
}

// The engine reports begin from inside ssft_ttsSpeak, which the end notification
// of the text before calls on the engine's thread: every callback must still
// carry its own notification's message.
TEST(HostThreads, BeginInsideSpeakGivesOneBeginAndOneEndPerText) {
    // Each text lasts longer than the wait after a start, so all but the first are
    // started by the end notification of the text before.
    Host host("begin-in-speak", "[Default]\r\nDEBUG=0\r\n", EngineIni("MsPerChar=2\r\nBeginInSpeak=1\r\n"));
    host.Load();
    host.UseCallback();
    const int kTexts = 100;
    for (int i = 0; i < kTexts; ++i) {
        // At most twelve ahead of the engine, so the ring overwrites nothing.
        const DWORD giveUp = GetTickCount() + 10000;
        auto begins = [&] {
            int n = 0;
            for (const HostEvent& event : host.Events()) n += event.message == KAL_MSG_BEGIN;
            return n;
        };
        while (i - begins() >= 12 && GetTickCount() < giveUp) Sleep(1);
        host.Synth((L"Text number " + std::to_wstring(1000 + i) + L", spoken in turn.").c_str(), i);
    }
    host.Synchronize();
    const size_t spoken = host.Spoken().size();
    EXPECT_EQ(static_cast<size_t>(kTexts), spoken);
    size_t begins = 0, ends = 0;
    for (const HostEvent& event : host.Events()) (event.message == KAL_MSG_BEGIN ? begins : ends)++;
    EXPECT_EQ(spoken, begins);
    EXPECT_EQ(spoken, ends);
    host.Unload();
}
