#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "simengine/sim_harness.h"
#include "support/files.h"

namespace {

TEST(SimJournal, ExactLinesOfASession) {
    SimEngine sim("session", "[Script]\nSync=1\nDictionaryHandle=7\n[Errors]\n5=Five  ; comment\n");
    ASSERT_NE(sim.module, nullptr);
    ASSERT_EQ(sim.api.initialize("C:\\v\n", &sim.cls), 0);
    sim.opened = true;
    uint32_t c0 = sim.cls.first, c1 = sim.cls.second;
    EngineEntry engines[20];
    int32_t count = 20;
    sim.api.getEngineList(c0, c1, 1, engines, &count);
    LanguageEntry languages[1];
    count = 1;
    sim.api.getLanguageList(c0, c1, &engines[0], languages, &count);
    VoiceEntry voices[80];
    count = 80;
    sim.api.getVoiceList(c0, c1, &engines[0], &languages[0], voices, &count);
    ASSERT_EQ(sim.api.open(c0, c1, &engines[0], &sim.inst, 0), 0);
    uint32_t i0 = sim.inst.first, i1 = sim.inst.second;
    ParamRecord params[3] = {{kParamRate, {60, 0, 'z'}}, {kParamLanguage, "Deutsch"}, {kParamVoice, "Anna"}};
    sim.api.setParamList(i0, i1, params, 3);
    EngineDictionaryHandle d1{}, d2{};
    sim.api.loadDictionary(i0, i1, 1, "a", 1, &d1);  // FNV-1a of "a" is e40c292c
    sim.api.loadDictionary(i0, i1, 1, "", 0, &d2);
    EXPECT_EQ(sim.api.unloadDictionary(i0, i1, d1.first, d1.second), 0);
    EXPECT_NE(sim.api.unloadDictionary(i0, i1, d1.first, d1.second), 0) << "unloaded twice";
    EXPECT_STREQ(sim.api.errorGetString(5), "Five");
    EXPECT_STREQ(sim.api.errorGetString(9), "sim error 9");
    sim.api.getSpeechDBList();
    OutDeviceRecord device{0, nullptr};
    sim.api.setOutDevice(i0, i1, &device);
    EXPECT_EQ(sim.say(std::string("H\\i\x01", 4)), 0);
    sim.api.stop(i0, i1);
    sim.api.close(i0, i1);
    sim.api.unInitialize(c0, c1);
    sim.opened = false;
    std::vector<std::string> expected = {
        "Attach cwd=" + JournalEscape(CurrentFolder()),
        "Initialize folder=C:\\x5cv\\x0a result=0",
        "GetEngineList capacity=20 count=1 result=0",
        "GetLanguageList engine=SimEngine capacity=1 count=1 result=0",
        "GetVoiceList language=Deutsch capacity=80 count=2 result=0",
        "Open engine=SimEngine result=0",
        "SetParamList id=4 value=60 count=3 result=0",
        "SetParamList id=64 text=Deutsch count=3 result=0",
        "SetParamList id=128 text=Anna count=3 result=0",
        "LoadDictionary size=1 sum=e40c292c handle=7,53703 result=0",
        "LoadDictionary size=0 sum=811c9dc5 handle=8,53703 result=0",
        "UnloadDictionary handle=7,53703",
        "UnloadDictionary handle=7,53703 result=513",
        "ErrorGetString code=5",
        "ErrorGetString code=9",
        "GetSpeechDBList",
        "SetOutDevice result=0",
        "SetText length=4 text=H\\x5ci\\x01 result=0",
        "Speak result=0",  // no notify set: no Notify lines
        "Stop speaking=0 result=0",
        "Close",
        "UnInitialize",
    };
    EXPECT_EQ(sim.journal(), expected);
}

struct ForcedRow {
    const char* label;
    const char* key;  // Fail.<key>=0x105
    std::function<int32_t(SimEngine&)> call;
    const char* line;  // the call's journal line
};
void PrintTo(const ForcedRow& row, std::ostream* os) { *os << row.label; }

class Forced : public ::testing::TestWithParam<ForcedRow> {};

TEST_P(Forced, ResultIsAppliedAndJournaled) {
    const ForcedRow& row = GetParam();
    SimEngine sim(row.label, std::string("[Script]\nSync=1\nFail.") + row.key + "=0x105 ; forced\n");
    ASSERT_NE(sim.module, nullptr);
    if (std::string(row.key) != "Initialize") { ASSERT_NO_FATAL_FAILURE(sim.open()); }
    EXPECT_EQ(row.call(sim), 0x105);
    EXPECT_EQ(sim.journal().back(), row.line);
    EXPECT_TRUE(sim.notices().empty()) << "a failed call had effects";
}

INSTANTIATE_TEST_SUITE_P(Sim, Forced, ::testing::Values(
    ForcedRow{"initialize", "Initialize", [](SimEngine& s) { return s.api.initialize("x", &s.cls); },
              "Initialize folder=x result=261"},
    ForcedRow{"set_text", "SetText", [](SimEngine& s) { return s.say("Hi"); },
              "SetText length=2 text=Hi result=261"},
    ForcedRow{"speak", "Speak", [](SimEngine& s) { return s.say("Hi"); }, "Speak result=261"},
    ForcedRow{"status", "GetInstStatus",
              [](SimEngine& s) { int32_t st = 0; return s.api.getInstStatus(s.inst.first, s.inst.second, &st); },
              "GetInstStatus status=0 result=261"},
    ForcedRow{"engine_list", "GetEngineList",
              [](SimEngine& s) { EngineEntry e[2]; int32_t n = 2;
                                 return s.api.getEngineList(s.cls.first, s.cls.second, 1, e, &n); },
              "GetEngineList capacity=2 count=2 result=261"},
    ForcedRow{"unused_entry", "Backward", [](SimEngine& s) { return s.api.backward(); },
              "Backward result=261"}),
    [](const auto& info) { return std::string(info.param.label); });

struct StatusRow {
    const char* label;
    const char* script;
    std::vector<int32_t> expected;  // successive GetInstStatus while idle
};
void PrintTo(const StatusRow& row, std::ostream* os) { *os << row.label; }

class Status : public ::testing::TestWithParam<StatusRow> {};

TEST_P(Status, ScriptedValuesThenTheRealOne) {
    const StatusRow& row = GetParam();
    SimEngine sim(row.label, std::string("[Script]\n") + row.script);
    ASSERT_NO_FATAL_FAILURE(sim.open());
    auto reload = sim.bind<int32_t(ENGINE_CALL*)()>("sim_Reload");
    for (int pass = 0; pass < 2; ++pass) {  // sim_Reload starts the script again
        std::vector<int32_t> seen;
        for (size_t i = 0; i < row.expected.size(); ++i) seen.push_back(sim.status());
        EXPECT_EQ(seen, row.expected) << "pass " << pass;
        reload();
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, Status, ::testing::Values(
    StatusRow{"none", "", {0, 0}},
    StatusRow{"script", "StatusScript=0,1,0x7\n", {0, 1, 7, 0, 0}},
    StatusRow{"stuck", "StuckBusy=1\n", {1, 1, 1}},
    StatusRow{"stuck_after_script", "StatusScript=2\nStuckBusy=1\n", {2, 1, 1}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SimJournal, NoLineLostOrTornUnderConcurrentCalls) {
    SimEngine sim("concurrent", "");
    ASSERT_NO_FATAL_FAILURE(sim.open());
    const int kThreads = 4, kCalls = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                ParamRecord p{uint32_t(1000 + t), {uint8_t(i), 0}};
                sim.api.setParamList(sim.inst.first, sim.inst.second, &p, 1);
            }
        });
    for (int i = 0; i < 5; ++i) sim.say("speaking meanwhile"), sim.waitFor(2 * (i + 1));
    for (std::thread& t : threads) t.join();
    std::vector<std::string> lines = sim.journal();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kCalls; ++i) {
            std::string line = "SetParamList id=" + std::to_string(1000 + t) + " value=" +
                               std::to_string(i) + " count=1 result=0";
            EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
        }
    EXPECT_EQ(LinesStartingWith(lines, "Notify code=").size(), 10u);
    EXPECT_EQ(lines.size(), 1 + 3 + kThreads * kCalls + 5 * 2 + 10u) << "stray or torn lines";
}

TEST(SimErrors, TextsStayValidAcrossReload) {
    SimEngine sim("errors", "[Errors]\n0x105=old text\n");
    ASSERT_NO_FATAL_FAILURE(sim.open());
    const char* old = sim.api.errorGetString(0x105);
    EXPECT_STREQ(old, "old text");
    WriteFileText(sim.folder + "simengine.ini", "[Errors]\n261=new text\n");
    sim.bind<int32_t(ENGINE_CALL*)()>("sim_Reload")();
    EXPECT_STREQ(sim.api.errorGetString(0x105), "new text");
    EXPECT_STREQ(old, "old text");
}

}  // namespace
