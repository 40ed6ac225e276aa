// Text intake and playback control through the real DLL and the simulated
// engine, with the engine notifying on its own thread and synchronously.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/host.h"
#include "support/sim_ini.h"

namespace {
std::string EngineIni(bool sync, int msPerChar, const std::string& script = "") {
    return SimEngineIni({{"Deutsch", {"Anna"}}, {"Polski", {"Ewa"}}},
                        "Sync=" + std::string(sync ? "1" : "0") + "\r\nMsPerChar=" + std::to_string(msPerChar) +
                            "\r\n" + script);
}

const char kKalIni[] =
    "[Default]\r\nDEBUG=4\r\n"
    "[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\nDCBon=0\r\n"
    "[Nalvo Polski Ewa]\r\nName=Ewa\r\nLang=48\r\nCodePage=1250\r\nDCBon=0\r\n";

// The texts the engine received.
std::vector<std::string> SpokenTexts(const Host& host) {
    std::vector<std::string> texts;
    for (const SpokenText& spoken : host.Spoken()) texts.push_back(spoken.text);
    return texts;
}

class IntakeHost : public ::testing::TestWithParam<bool> {
protected:
    bool sync() const { return GetParam(); }
};
}  // namespace

TEST_P(IntakeHost, TextsReachTheEngineInTheVoicesCodePage) {
    Host host("codepage", kKalIni, EngineIni(sync(), 0));
    host.Load();
    host.UseCallback();
    struct Row {
        const char* voice;
        const wchar_t* text;
        std::string bytes;
    } rows[] = {
        {"Anna", L"Z\u00fcrich", "Z\xfcrich"},
        {"Anna", L"\u4e2d\u00f3", "?\xf3"},  // a character 1252 lacks: its default character
        {"Ewa", L"Za\u017c\u00f3\u0142\u0107", "Za\xbf\xf3\xb3\xe6"},
        {"Ewa", L"\xD800x", "?x"},  // a lone surrogate becomes the default character
    };
    int mark = 1;
    for (const Row& row : rows) {
        host.SetVoiceByName(row.voice);
        host.Synth(row.text, mark++);
        host.Synchronize();
        EXPECT_EQ(row.bytes, SpokenTexts(host).back()) << row.voice << " " << mark;
    }
    std::vector<std::string> lines = LinesStartingWith(host.Protocol(), "KAL_: kal_Synth  ");
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("KAL_: kal_Synth  0001 Z\xfcrich", lines[0]);
}

TEST_P(IntakeHost, BeginAndEndEventsCarryTheMarks) {
    Host host("marks", kKalIni, EngineIni(sync(), 20));
    host.Load();
    host.UseCallback();
    host.Synth(L"eins", 1);
    host.Synth(L"zwei", 2);
    host.Synth(L"drei", 3);
    host.Synchronize();
    std::vector<HostEvent> events = host.Events();
    std::vector<std::pair<int, int>> seen;
    for (const HostEvent& e : events) seen.push_back({e.message, e.mark});
    // On its own thread the engine is still speaking the first text when the
    // others arrive, so each end event carries the mark of the text it started.
    std::vector<std::pair<int, int>> expected =
        sync() ? std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}}
               : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {1, 2}, {2, 3}, {1, 3}, {2, 3}};
    EXPECT_EQ(expected, seen);
    EXPECT_EQ((std::vector<std::string>{"eins", "zwei", "drei"}), SpokenTexts(host));
    EXPECT_EQ(0, host.IsPlaying());
}

TEST_P(IntakeHost, SynthMarkKeyAndChar) {
    Host host("synth-mark", kKalIni, EngineIni(sync(), 0));
    host.Load();
    host.UseCallback();
    const std::string longText = std::string(5000, 'x');
    const std::string lateMarker = std::string(4100, 'y') + "MARK" + "rest";
    struct Row {
        std::string text;
        const char* marker;
        std::string spoken;
    } rows[] = {
        {"Hallo Welt", "Hallo ", "Welt"},
        {"ab|cd|ef", "|", "cd|ef"},
        {"Ende:", ":", ""},
        {"Hallo We", "Welt", "Hallo We"},  // the marker would run past the end
        {"Hallo Welt", "", "Hallo Welt"},
        {"Hallo Welt", nullptr, "Hallo Welt"},
        {longText, "#", std::string(4095, 'x')},
        {lateMarker, "MARK", ""},
    };
    for (const Row& row : rows) {
        host.SynthMark(row.text.c_str(), row.marker, 5);
        host.Synchronize();
        EXPECT_EQ(row.spoken, SpokenTexts(host).back()) << row.text.substr(0, 20);
    }
    host.SynthMark(nullptr, "x", 5);  // nothing to speak
    host.Key("Escape");
    host.Char(0x100E4);  // only the low 16 bits count
    host.Synchronize();
    EXPECT_EQ("00E4", host.Profile("CharName", "00E4"));
    host.SetProfile("CharName", "00E4", "a Umlaut");
    host.Char(0xE4);
    host.Synchronize();
    std::vector<std::string> texts = SpokenTexts(host);
    ASSERT_EQ(rows[0].spoken, texts[texts.size() - 11]);
    EXPECT_EQ((std::vector<std::string>{"Escape", "00E4", "a Umlaut"}),
              std::vector<std::string>(texts.end() - 3, texts.end()));
    std::vector<std::string> keys = LinesStartingWith(host.Protocol(), "KAL_: Key ");
    EXPECT_EQ((std::vector<std::string>{"KAL_: Key Escape", "KAL_: Key 00E4", "KAL_: Key a Umlaut"}), keys);
    // Every call writes its line, the one with a null text too.
    EXPECT_EQ(9u, LinesStartingWith(host.Protocol(), "KAL_: Synth_Mark").size());
}

INSTANTIATE_TEST_SUITE_P(EngineThread, IntakeHost, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Synchronous, IntakeHost, ::testing::Values(true));

TEST(PlaybackHost, StopWithFivePendingEmptiesTheQueue) {
    Host host("stop", kKalIni, EngineIni(false, 5));
    host.Load();
    host.UseCallback();
    const std::wstring longText(400, L'a');  // about two seconds of speech
    for (int mark = 1; mark <= 6; ++mark) host.Synth(longText.c_str(), mark);
    ASSERT_TRUE(host.WaitForEvents(1));
    EXPECT_EQ(1, host.IsPlaying());
    host.Stop();
    EXPECT_EQ(0, host.IsPlaying());
    Sleep(200);
    std::vector<std::string> lines = host.Protocol();
    EXPECT_TRUE(LinesStartingWith(lines, "KAL_: Hier stimmt etwas nicht!").empty());
    EXPECT_EQ(1u, SpokenTexts(host).size());
    EXPECT_EQ(1u, LinesStartingWith(host.Journal(), "Notify code=32").size());
}

TEST(PlaybackHost, PauseTogglesAndIsPlayingFollowsThePendingTexts) {
    Host host("pause", kKalIni, EngineIni(false, 5));
    host.Load();
    host.UseCallback();
    const std::wstring longText(200, L'a');
    host.Synth(longText.c_str(), 1);
    ASSERT_TRUE(host.WaitForEvents(1));
    host.Pause(7);  // the argument is only logged
    Sleep(100);
    EXPECT_EQ(0, host.IsPlaying());  // paused, nothing pending
    host.Synth(L"danach", 2);
    EXPECT_EQ(1, host.IsPlaying());  // paused, one pending
    host.Pause(0);
    host.Synchronize();
    std::vector<std::string> journal = host.Journal();
    EXPECT_EQ(1u, LinesStartingWith(journal, "Pause result=0").size());
    EXPECT_EQ(1u, LinesStartingWith(journal, "Resume result=0").size());
    EXPECT_EQ((std::vector<std::string>{std::string(200, 'a'), "danach"}), SpokenTexts(host));
    EXPECT_EQ(1u, LinesStartingWith(host.Protocol(), "KAL_: Pause() 7").size());
    std::vector<HostEvent> events = host.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(2, events.back().message);  // Synchronize returned after the last end
}
