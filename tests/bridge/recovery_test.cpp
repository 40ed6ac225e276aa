// The engine fails inside its helper: it aborts, faults, hangs or takes memory
// without end on one text. The host lives on without calling anything: the
// text gets its end, the texts behind it are spoken by a new helper with the
// host's settings, and the protocol says what happened. Run by the 64-bit
// bridge's tests and, with kal_drv.dll in isolated mode, by the 32-bit host tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/host.h"
#include "tests/bridge/helper_process.h"

namespace {
constexpr auto kCallReturns = std::chrono::seconds(60);  // a restart under a loaded Wine included
constexpr DWORD kEventsMs = 30000;

// DEBUG=1: the error lines only, which the recovery's lines are. The helper's
// watch has short bounds here (the shipped ones are seconds and a gigabyte).
const char kKalIni[] =
    "[Default]\r\nDEBUG=1\r\nIsolationCallLimit=1000\r\nIsolationMemoryLimit=160\r\n"
    "[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\n";

std::string EngineIni(const std::string& fault, uint32_t msPerChar) {
    return "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
           "[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n[Script]\r\nMsPerChar=" +
           std::to_string(msPerChar) + "\r\nFault=" + fault + "\r\nFaultText=BOOM\r\nLeakMB=256\r\n";
}

// The driver's events carry the mark of the text it took last (an end may
// carry the next text's mark), so texts are counted, not matched by mark.
struct Counts {
    int begins = 0, ends = 0;
    bool balanced = true;  // never more begins than texts ended plus one being spoken
};

Counts Count(const std::vector<HostEvent>& events) {
    Counts c;
    for (const HostEvent& event : events) {
        if (event.message == KAL_MSG_BEGIN) {
            ++c.begins;
            if (c.begins > c.ends + 1) c.balanced = false;
        } else {
            ++c.ends;
        }
    }
    return c;
}

bool ProtocolHas(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

int SpokenCount(const Host& host, const std::string& text) {
    int n = 0;
    for (const SpokenText& spoken : host.Spoken()) n += spoken.text == text ? 1 : 0;
    return n;
}

// Starts the host with the fault scripted and its settings made.
void Start(Host& host) {
    host.Isolate();
    host.Load();
    host.UseCallback();
    ASSERT_EQ(11000, host.Initialize());
    ASSERT_EQ(0, host.SetVoiceByName("Anna"));
    host.SetParameter(KAL_PARAM_RATE, 70, 0);
    host.SetParameter(KAL_PARAM_VOLUME, 80, 0);
}

struct FaultRow {
    const char* fault;
    const char* protocolLine;  // what the helper or the client writes about it
};
}  // namespace

class Recovery : public testing::TestWithParam<FaultRow> {};

TEST_P(Recovery, TheFaultingTextEndsAndTheTextsBehindItAreSpokenByANewHelper) {
    const FaultRow row = GetParam();
    Host host(std::string("recovery-") + row.fault, kKalIni, EngineIni(row.fault, 20));
    ASSERT_NO_FATAL_FAILURE(Start(host));
    const DWORD first = FindHelper();
    ASSERT_NE(0u, first);

    // The first text is still spoken when the others are queued behind it.
    host.Synth(L"Der erste Text dauert.", 1);
    host.Synth(L"BOOM", 2);
    host.Synth(L"Drei.", 3);
    host.Synth(L"Vier.", 4);
    std::future<int> waiting = std::async(std::launch::async, [&] { return host.Synchronize(); });
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(kCallReturns)) << "kal_Synchronize did not return";
    ASSERT_TRUE(host.WaitForEvents(7, kEventsMs));

    // Four texts: four ends; a begin for each spoken one (the faulting one may
    // have begun); the last event an end.
    const std::vector<HostEvent> all = host.Events();
    const Counts counts = Count(all);
    EXPECT_EQ(4, counts.ends) << row.fault;
    EXPECT_GE(counts.begins, 3) << row.fault;
    EXPECT_LE(counts.begins, 4) << row.fault;
    EXPECT_TRUE(counts.balanced) << row.fault;
    EXPECT_EQ(KAL_MSG_END, all.back().message) << row.fault;
    // Failing as the text before it ended, it may be tried once more, never again.
    EXPECT_LE(SpokenCount(host, "BOOM"), 2) << row.fault;
    EXPECT_EQ(1, SpokenCount(host, "Drei.")) << row.fault;
    EXPECT_EQ(1, SpokenCount(host, "Vier.")) << row.fault;

    // A new helper runs, with the host's settings, and the next text is heard.
    const DWORD second = FindHelper();
    EXPECT_NE(0u, second);
    EXPECT_NE(first, second);
    EXPECT_EQ(70, host.GetParameter(KAL_PARAM_RATE, 1)) << row.fault;
    EXPECT_EQ(80, host.GetParameter(KAL_PARAM_VOLUME, 1)) << row.fault;
    ASSERT_NE(nullptr, host.GetCurrentVoice()->name);
    EXPECT_STREQ("Anna", host.GetCurrentVoice()->name);
    host.ClearEvents();
    host.Synth(L"Wieder da.", 5);
    host.Synchronize();
    std::vector<HostEvent> events = host.Events();
    ASSERT_EQ(2u, events.size()) << row.fault;
    EXPECT_EQ(KAL_MSG_BEGIN, events[0].message);
    EXPECT_EQ(KAL_MSG_END, events[1].message);
    EXPECT_EQ(5, events[1].mark);

    const std::vector<std::string> protocol = host.Protocol();
    EXPECT_TRUE(ProtocolHas(protocol, row.protocolLine)) << row.fault << ":\n" << Joined(protocol);
    EXPECT_TRUE(ProtocolHas(protocol, "Sprachausgabe-Prozess unerwartet beendet")) << Joined(protocol);
    EXPECT_TRUE(ProtocolHas(protocol, "Sprachausgabe-Prozess neu gestartet: 2 Texte wieder eingereiht") ||
                ProtocolHas(protocol, "Sprachausgabe-Prozess neu gestartet: 3 Texte wieder eingereiht"))
        << Joined(protocol);
    host.Unload();
    EXPECT_TRUE(ProcessEnds(second, kEventsMs)) << "unloading ends the new helper";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Recovery,
    testing::Values(FaultRow{"abort", "(Code 3)"},
                    FaultRow{"fault", "(Code C0000005)"},
                    FaultRow{"hang", "Sprachausgabe haengt in ft_ttsSpeak seit"},
                    FaultRow{"leak", "ueber der Grenze von 160 MB: Prozess wird beendet"}),
    [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.fault); });

TEST(RecoveryBackoff, AHelperThatDiesAtOnceIsRestartedAfterAGrowingPauseAndTheNextTextIsHeard) {
    Host host("recovery-backoff", kKalIni, EngineIni("abort", 0));
    ASSERT_NO_FATAL_FAILURE(Start(host));
    // Each of these kills the helper that speaks it right after its start.
    for (int mark = 1; mark <= 3; ++mark) {
        host.Synth(L"BOOM", mark);
        std::future<int> waiting = std::async(std::launch::async, [&] { return host.Synchronize(); });
        ASSERT_EQ(std::future_status::ready, waiting.wait_for(kCallReturns)) << mark;
    }
    host.Synth(L"Danach.", 9);
    host.Synchronize();
    ASSERT_TRUE(host.WaitForEvents(5, kEventsMs));
    const std::vector<HostEvent> events = host.Events();
    const Counts counts = Count(events);
    EXPECT_EQ(4, counts.ends);
    EXPECT_EQ(1, counts.begins) << "only the last text is spoken";
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(KAL_MSG_BEGIN, events[events.size() - 2].message);
    EXPECT_EQ(9, events.back().mark);
    const std::vector<std::string> protocol = host.Protocol();
    EXPECT_TRUE(ProtocolHas(protocol, "sofort wieder beendet: Neustart in 250 ms")) << Joined(protocol);
    EXPECT_TRUE(ProtocolHas(protocol, "sofort wieder beendet: Neustart in 500 ms")) << Joined(protocol);
}

TEST(RecoveryBackoff, AStopForgetsTheTextsSoNoneIsSpokenAfterARestart) {
    Host host("recovery-stop", kKalIni, EngineIni("abort", 20));
    ASSERT_NO_FATAL_FAILURE(Start(host));
    host.Synth(L"Ein langer Text, der noch laeuft.", 1);
    host.Synth(L"Gestoppt.", 2);
    host.Stop();
    host.Synth(L"BOOM", 3);
    host.Synth(L"Danach.", 4);
    host.Synchronize();
    ASSERT_TRUE(host.WaitForEvents(3, kEventsMs));
    EXPECT_EQ(0, SpokenCount(host, "Gestoppt.")) << "a stopped text came back after the restart";
    EXPECT_EQ(1, SpokenCount(host, "Danach."));
}

// The watchdog is set far off here: the client's own bound on an answer
// (kAnswerMs, 20 s) ends the helper that hangs in the host's kal_Synth.
TEST(RecoveryAnswerBound, AHelperThatDoesNotAnswerACallIsEndedAndReplaced) {
    const char kalIni[] =
        "[Default]\r\nDEBUG=1\r\nIsolationCallLimit=600000\r\n"
        "[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\n";
    Host host("recovery-answer", kalIni, EngineIni("hang", 0));
    ASSERT_NO_FATAL_FAILURE(Start(host));
    const DWORD first = FindHelper();
    // The engine is idle: the call itself hands the text over and hangs in Speak.
    std::future<int> synth = std::async(std::launch::async, [&] { return host.Synth(L"BOOM", 1); });
    ASSERT_EQ(std::future_status::ready, synth.wait_for(kCallReturns)) << "kal_Synth did not return";
    EXPECT_EQ(0, synth.get());
    host.Synth(L"Danach.", 2);
    host.Synchronize();
    ASSERT_TRUE(host.WaitForEvents(3, kEventsMs));
    const Counts counts = Count(host.Events());
    EXPECT_EQ(2, counts.ends);
    EXPECT_EQ(1, counts.begins);
    EXPECT_EQ(1, SpokenCount(host, "Danach."));
    EXPECT_NE(first, FindHelper());
    const std::vector<std::string> protocol = host.Protocol();
    EXPECT_TRUE(ProtocolHas(protocol, "Sprachausgabe-Prozess antwortet nicht: wird beendet")) << Joined(protocol);
}

// A helper that cannot start: the host's calls answer as without an engine,
// and the protocol says why (before, nothing was written at any DEBUG level).
struct StartRow {
    const char* name;
    void (*prepare)(const std::string& folder);
    const char* reason;
};

TEST(RecoveryStart, AFailedStartSaysWhyInTheProtocol) {
    const StartRow rows[] = {
        {"no-helper", [](const std::string& folder) { DeleteFileA((folder + "kal_host32.exe").c_str()); },
         "Sprachausgabe-Prozess nicht gestartet: cannot start kal_host32.exe (error 2)"},
        {"broken-helper",
         [](const std::string& folder) { WriteFileText(folder + "kal_host32.exe", "kein Programm"); },
         "Sprachausgabe-Prozess nicht gestartet: cannot start kal_host32.exe (error"},
#ifdef KAL_TEST_BRIDGE
        // The 64-bit bridge's helper loads the 32-bit kal_drv.dll beside it.
        {"no-driver", [](const std::string& folder) { DeleteFileA((folder + "kal_drv.dll").c_str()); },
         "Sprachausgabe-Prozess nicht gestartet: the helper cannot load the driver beside it"},
#endif
    };
    for (const StartRow& row : rows) {
        Host host(std::string("start-") + row.name, kKalIni, EngineIni("none", 0));
        host.Isolate();
        row.prepare(host.folder);
        host.Load();
        EXPECT_EQ(-1, host.Initialize()) << row.name;
        EXPECT_EQ(0, host.Synth(L"niemand", 1)) << row.name;
        const std::vector<std::string> protocol = host.Protocol();
        EXPECT_TRUE(ProtocolHas(protocol, row.reason)) << row.name << ":\n" << Joined(protocol);
        host.Unload();
    }
}
