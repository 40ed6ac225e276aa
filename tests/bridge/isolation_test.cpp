// The host survives its helper: a helper killed mid-text, a host that ends
// without unloading, a peer that answers with malformed messages, and a bridge
// that sends them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "bridge/connection.h"
#include "support/files.h"
#include "support/host.h"
#include "bridge/bridge_support.h"
#include "tests/bridge/helper_process.h"

namespace {
constexpr DWORD kEndMs = 20000;           // a process's end, or a Wine start, on a loaded machine
constexpr auto kCallReturns = std::chrono::seconds(20);

const char kKalIni[] = "[Default]\r\nDEBUG=1\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\n";
// Slow enough that a text is still spoken when the helper is killed.
const char kSlowEngine[] =
    "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
    "[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n[Script]\r\nMsPerChar=200\r\n";
const char kFastEngine[] =
    "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
    "[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n[Script]\r\nMsPerChar=0\r\n";

bool Has(const std::vector<HostEvent>& events, int message, int mark) {
    for (const HostEvent& event : events)
        if (event.message == message && event.mark == mark) return true;
    return false;
}

std::vector<std::string> BridgeProtocol(const std::string& folder) { return SplitLines(ReadFileText(folder + "kal64.pro")); }
}  // namespace

TEST(Isolation, AKilledHelperLeavesTheHostRunningAndANewOneTakesOverWithoutAHostCall) {
    Host host("killed", kKalIni, kSlowEngine);
    ASSERT_NO_FATAL_FAILURE(StartSpeaking(host));
    host.Synth(L"Ein Text, der lange dauert, weil jeder Buchstabe zweihundert Millisekunden braucht.", 1);
    ASSERT_TRUE(host.WaitForEvents(1));
    ASSERT_EQ(1, host.IsPlaying());
    const DWORD helper = FindHelper();
    ASSERT_NE(0u, helper);

    // A host thread waiting in Synchronize when the helper dies comes back,
    // and the text being spoken has its end.
    std::future<int> waiting = std::async(std::launch::async, [&] { return host.Synchronize(); });
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, helper);
    ASSERT_NE(nullptr, process);
    TerminateProcess(process, 9);
    WaitForSingleObject(process, kEndMs);
    CloseHandle(process);
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(kCallReturns));
    EXPECT_EQ(0, waiting.get());
    ASSERT_TRUE(host.WaitForEvents(2));
    EXPECT_TRUE(Has(host.Events(), KAL_MSG_END, 1));

    // A new helper runs without kal_Initialize, with the voice the host chose
    // and the callback it registered once.
    host.ClearEvents();
    host.WriteEngineIni(kFastEngine);
    host.Synth(L"Wieder da.", 7);
    host.Synchronize();
    const DWORD second = FindHelper();
    EXPECT_NE(0u, second);
    EXPECT_NE(helper, second);
    ASSERT_NE(nullptr, host.GetCurrentVoice()->name);
    EXPECT_STREQ("Anna", host.GetCurrentVoice()->name);
    const std::vector<HostEvent> events = host.Events();
    EXPECT_TRUE(Has(events, KAL_MSG_BEGIN, 7));
    EXPECT_TRUE(Has(events, KAL_MSG_END, 7));
    EXPECT_EQ("Wieder da.", host.Spoken().back().text);
    const std::string protocol = ReadFileText(host.folder + "kal.pro");
    EXPECT_NE(std::string::npos, protocol.find("Sprachausgabe-Prozess unerwartet beendet (Code 9)")) << protocol;
    EXPECT_NE(std::string::npos, protocol.find("Text 0001 beendet, wird nicht wiederholt")) << protocol;
    // kal_Initialize on a running helper starts no other.
    EXPECT_EQ(11000, host.Initialize());
    EXPECT_EQ(second, FindHelper());
    host.Unload();
    EXPECT_TRUE(ProcessEnds(second, kEndMs)) << "unloading the bridge ends its helper";
}

TEST(Isolation, TheHostsEndEndsTheHelperAndDoesNotWaitForIt) {
    Host host("host-exit", kKalIni, kSlowEngine);
    std::string commandLine = "\"" + BuildPath("tests/bridge_exit_host.exe") + "\" " + host.folder;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, host.folder.c_str(),
                               &startup, &child));
    const bool childEnded = WaitForSingleObject(child.hProcess, 3 * kEndMs) == WAIT_OBJECT_0;
    DWORD exitCode = 99;
    GetExitCodeProcess(child.hProcess, &exitCode);
    if (!childEnded) TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(childEnded) << "the host's ExitProcess waited for something";
    ASSERT_EQ(0u, exitCode) << "the exit host's text never began";
    const DWORD helper = std::stoul(ReadFileText(host.folder + "helper.pid"));
    ASSERT_NE(0u, helper);
    EXPECT_TRUE(ProcessEnds(helper, kEndMs)) << "the helper outlived its host";
}

TEST(Isolation, MalformedAnswersAreRefusedAndEveryExportAnswersAsWithoutAnEngine) {
    Host host("hostile-answers", "[Default]\r\nDEBUG=1\r\n", "", nullptr);
    CopyFileTo(BuildPath("hostile/kal_host32.exe"), host.folder + "kal_host32.exe");
    host.Load();

    char language[16];
    memset(language, 0xCD, sizeof language);
    memcpy(language, "Deutsch", 8);
    KalVoiceFilter filter{nullptr, language, nullptr, 0, 0, 0};
    EXPECT_EQ(-1, host.Initialize());
    EXPECT_EQ(0, host.IsPlaying());
    EXPECT_STREQ("", host.Info());
    EXPECT_EQ(nullptr, host.ListVoices(&filter)[0]);
    EXPECT_EQ(0, memcmp(language, "Deutsch", 8)) << "a refused answer writes nothing into the host's filter";
    EXPECT_EQ(static_cast<char>(0xCD), language[8]);
    KalVoiceDescriptor* current = host.GetCurrentVoice();
    ASSERT_NE(nullptr, current);
    EXPECT_EQ(nullptr, current->name);
    EXPECT_EQ(100, host.GetParameter(KAL_PARAM_VOLUME, 0));
    EXPECT_EQ(0, host.Synth(L"Hallo", 1));
    EXPECT_EQ(0, host.Synchronize());
    const size_t calls = 8;
    EXPECT_NE(0u, FindHelper()) << "refusing an answer does not end the helper";
    host.Unload();
    // One line per refused answer (the unload's own request may add one).
    const size_t refused = LinesStartingWith(BridgeProtocol(host.folder), "ERR:: bridge refused answer: ").size();
    EXPECT_LE(calls, refused);
    EXPECT_GE(calls + 1, refused);
}

TEST(Isolation, ARingClaimingMoreEventsThanItHoldsEndsTheHelper) {
    Host host("hostile-ring", "[Default]\r\nDEBUG=1\r\n", "", nullptr);
    CopyFileTo(BuildPath("hostile/kal_host32.exe"), host.folder + "kal_host32.exe");
    WriteFileText(host.folder + "hostile.txt", "ring\n");
    host.Load();
    host.UseCallback();  // the first export: the helper starts, answers, and claims its events
    const DWORD helper = FindHelper();
    if (helper) {  // it may be gone already
        EXPECT_TRUE(ProcessEnds(helper, kEndMs)) << "a helper whose ring makes no sense is ended";
    }
    EXPECT_EQ(0, host.IsPlaying());
    EXPECT_EQ(0, host.Synchronize());
    host.Unload();
    // Each helper started in its place does the same: it is ended each time,
    // and restarted only after a growing pause.
    EXPECT_LE(1u, LinesStartingWith(BridgeProtocol(host.folder), "ERR:: bridge refused events: write count beyond the ring").size());
    const std::string protocol = ReadFileText(host.folder + "kal.pro");
    EXPECT_NE(std::string::npos, protocol.find("Sprachausgabe-Prozess sofort wieder beendet: Neustart in 250 ms")) << protocol;
    EXPECT_TRUE(host.Events().empty()) << "no event of the bogus ring reached the host";
}

TEST(Isolation, TheHelperRefusesMalformedRequestsAndServesTheNext) {
    Host host("hostile-requests", kKalIni, kFastEngine);
    std::string error;
    std::shared_ptr<bridge::Connection> helper = bridge::Connection::Start(std::wstring(host.folder.begin(), host.folder.end()), 1, bridge::ConnectionHooks(), error);
    ASSERT_NE(nullptr, helper) << error;
    struct Row {
        const char* label;
        std::vector<uint8_t> message;
    } rows[] = {
        {"empty", {}},
        {"size word beyond the slot", {0xFF, 0xFF, 0xFF, 0xFF, 19, 0, 0, 0}},
        {"header only, unknown operation", std::vector<uint8_t>{32, 0, 0, 0, 99, 0, 0, 0}},
        {"a key whose text runs past the message", [] {
             std::vector<uint8_t> m(40, 0);
             m[0] = 40;
             m[4] = static_cast<uint8_t>(bridge::Op::Key);
             memset(&m[24], 0xFF, 8);  // texts 1 and 2 absent
             m[20] = 200;              // text 0: 200 bytes in an 8-byte body
             return m;
         }()},
    };
    for (Row& row : rows) {
        if (row.message.size() >= 4 && row.message.size() < 32) row.message.resize(32, 0);
        std::vector<uint8_t> answer;
        ASSERT_TRUE(helper->SendRaw(row.message, answer)) << row.label << ": the helper died";
        ASSERT_GE(answer.size(), 12u) << row.label;
        uint32_t status;
        memcpy(&status, &answer[8], 4);
        EXPECT_EQ(bridge::kRefused, status) << row.label;
    }
    // Still serving: a well-formed call is answered by the driver.
    bridge::Request request;
    request.op = bridge::Op::Initialize;
    int result = 0;
    EXPECT_TRUE(helper->Call(request, [&](const bridge::Response& response) { result = response.result; }));
    EXPECT_EQ(11000, result);
    helper->Quit();
    const size_t refused = LinesStartingWith(BridgeProtocol(host.folder), "ERR:: helper refused request").size();
    EXPECT_EQ(std::size(rows), refused);
}

TEST(Isolation, WithoutAHelperEveryExportAnswersAndInitializeTriesAgain) {
    Host host("no-helper", kKalIni, kFastEngine);
    DeleteFileA((host.folder + "kal_host32.exe").c_str());
    host.Load();
    host.UseCallback();  // the first call: the helper cannot start
    EXPECT_EQ(-1, host.Initialize());
    EXPECT_EQ(0, host.Synth(L"niemand", 1));
    EXPECT_EQ(0, host.IsPlaying());
    EXPECT_EQ(0, host.Synchronize());
    EXPECT_EQ(nullptr, host.ListVoices(nullptr)[0]);
    EXPECT_EQ(50, host.GetParameter(KAL_PARAM_RATE, 0));
    EXPECT_EQ(0, host.GetParameter(KAL_PARAM_RATE, 1));
    EXPECT_STREQ("", host.Info());
    // Once the helper is there, the next kal_Initialize starts it.
    CopyFileTo(BuildPath("host32/kal_host32.exe"), host.folder + "kal_host32.exe");
    ASSERT_EQ(11000, host.Initialize());
    host.SetVoiceByName("Anna");
    host.Synth(L"jetzt", 2);
    host.Synchronize();
    EXPECT_TRUE(Has(host.Events(), KAL_MSG_END, 2)) << "the callback registered before the helper existed";
    host.Unload();
}
