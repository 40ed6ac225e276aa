// What a 64-bit host sees of kal_drv64.dll beyond the shared host tests: its
// image, loading without a helper, the lifetimes of what it hands out, the
// order and timing of events, concurrent calls, and long texts cut so that the
// driver comes to the same result as with the whole text.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/host.h"
#include "bridge/bridge_support.h"
#include "support/pe.h"
#include "tests/bridge/helper_process.h"

namespace {
const char kKalIni[] =
    "[Default]\r\nDEBUG=4\r\n"
    "[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\nDCBon=0\r\n"
    "[Nalvo Deutsch Petra]\r\nName=Petra\r\nLang=49\r\nCodePage=1252\r\nDCBon=0\r\n";
std::string EngineIni(int msPerChar) {
    return "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
           "[Voices.Deutsch]\r\nCount=2\r\nName0=Anna\r\nName1=Petra\r\n[Script]\r\nSync=0\r\nMsPerChar=" +
           std::to_string(msPerChar) + "\r\n";
}
}  // namespace

TEST(Bridge, ExportsTheTwentyNamesAndImportsOnlySystemDlls) {
    HMODULE dll = LoadLibraryExA(BuildPath("bridge/kal_drv64.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, dll);
    EXPECT_EQ(std::set<std::string>(std::begin(kExportNames), std::end(kExportNames)), ExportedNames(dll));
    EXPECT_EQ((std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL"}), ImportedDlls(dll));
    FreeLibrary(dll);
}

TEST(Bridge, LoadingStartsNoHelperAndUnloadingEndsIt) {
    Host host("lazy", kKalIni, EngineIni(0));
    for (int round = 0; round < 3; ++round) {
        host.Load();
        EXPECT_EQ(0u, FindHelper()) << "round " << round << ": LoadLibrary waited for nothing";
        EXPECT_EQ(11000, host.Initialize()) << "round " << round;
        const DWORD helper = FindHelper();
        EXPECT_NE(0u, helper) << "round " << round;
        host.Unload();
        EXPECT_TRUE(ProcessEnds(helper, 10000)) << "round " << round;
        // The driver was unloaded as a host unloads it: its protocol says so.
        EXPECT_FALSE(LinesStartingWith(host.Protocol(), "DLL : ").empty()) << "round " << round;
    }
}

TEST(Bridge, WhatTheDriverHandsOutStaysAtItsAddressAndIsUpdatedInPlace) {
    Host host("lifetimes", kKalIni, EngineIni(0));
    host.Load();
    ASSERT_EQ(11000, host.Initialize());

    const char* info = host.Info();
    ASSERT_NE(nullptr, info);
    EXPECT_NE(std::string(), info);
    EXPECT_EQ(info, host.Info());

    KalVoiceDescriptor** list = host.ListVoices(nullptr);
    ASSERT_NE(nullptr, list[0]);
    ASSERT_NE(nullptr, list[1]);
    EXPECT_EQ(nullptr, list[2]);
    KalVoiceDescriptor* anna = list[0];
    KalVoiceDescriptor* petra = list[1];
    EXPECT_STREQ("Anna", anna->name);
    EXPECT_STREQ("0049", anna->language);
    EXPECT_STREQ("0049-Petra", petra->identifier);
    EXPECT_EQ(32, anna->age);

    // The next list is the same array, rewritten; the descriptors stay put.
    char petraName[] = "Petra";
    KalVoiceFilter byName{petraName, nullptr, nullptr, 0, 0, 0};
    EXPECT_EQ(list, host.ListVoices(&byName));
    EXPECT_EQ(petra, list[0]);
    EXPECT_EQ(nullptr, list[1]);
    host.SetVoiceByName("Petra");
    EXPECT_EQ(petra, host.GetCurrentVoice());
    host.SetVoiceByName("Anna");
    EXPECT_EQ(anna, host.GetCurrentVoice());
    EXPECT_EQ(list, host.ListVoices(nullptr));
    EXPECT_EQ(anna, list[0]);

    // A language text the driver translates: written over the host's text when
    // it fits, nothing beyond its terminator touched.
    struct Row {
        const char* label;
        const char* language;
        const char* after;
    } rows[] = {{"translated, fits", "Deutsch", "0049"}, {"translated, too long for the host's text", "de", "de"},
                {"digits, left alone", "0049", "0049"}};
    for (const Row& row : rows) {
        char buffer[32];
        memset(buffer, 0xCD, sizeof buffer);
        const size_t length = strlen(row.language);
        memcpy(buffer, row.language, length + 1);
        KalVoiceFilter filter{nullptr, buffer, nullptr, 0, 0, 0};
        host.ListVoices(&filter);
        EXPECT_STREQ(row.after, buffer) << row.label;
        for (size_t i = length + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(static_cast<char>(0xCD), buffer[i]) << row.label << " byte " << i;
        memcpy(buffer, row.language, length + 1);
        host.SetVoiceByProperties(&filter);
        EXPECT_STREQ(row.after, buffer) << row.label << " (SetVoiceByProperties)";
    }
    host.Unload();
}

TEST(Bridge, SynchronizeReturnsAfterTheLastEndHasReachedTheCallback) {
    Host host("synchronize", kKalIni, EngineIni(20));
    ASSERT_NO_FATAL_FAILURE(StartSpeaking(host));
    for (int round = 0; round < 3; ++round) {
        host.ClearEvents();
        host.Synth(L"eins", 1);
        host.Synth(L"zwei", 2);
        host.Synth(L"drei", 3);
        EXPECT_EQ(0, host.Synchronize());
        // No waiting here: the events are already in. The engine is still
        // speaking the first text when the others arrive, so each end event
        // carries the mark of the text the driver has just started.
        const std::vector<HostEvent> events = host.Events();
        const std::vector<std::pair<int, int>> expected = {{1, 1}, {2, 2}, {1, 2}, {2, 3}, {1, 3}, {2, 3}};
        ASSERT_EQ(expected.size(), events.size()) << "round " << round;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].first, events[i].message) << "round " << round << " event " << i;
            EXPECT_EQ(expected[i].second, events[i].mark) << "round " << round << " event " << i;
        }
        EXPECT_EQ(0, host.IsPlaying());
    }
    host.Unload();
}

TEST(Bridge, AStopFromAnotherThreadEndsAWaitingSynchronize) {
    Host host("concurrent", kKalIni, EngineIni(100));
    ASSERT_NO_FATAL_FAILURE(StartSpeaking(host));
    host.Synth(L"Ein langer Text, den ein Stopp von einem anderen Faden abbricht.", 1);
    ASSERT_TRUE(host.WaitForEvents(1));
    std::future<int> waiting = std::async(std::launch::async, [&] { return host.Synchronize(); });
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(300)));
    // Meanwhile other calls are answered: the bridge serves more than one at a time.
    EXPECT_EQ(1, host.IsPlaying());
    EXPECT_EQ(0, host.Stop());
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ(0, waiting.get());
    EXPECT_EQ(0, host.IsPlaying());
    host.Unload();
}

TEST(Bridge, LongTextsReachTheEngineAsTheirFirstPartWould) {
    // Beyond what the bridge sends whole, a text is cut where the driver stops
    // reading: the engine gets what the same host call with a shorter text gives.
    Host host("long-texts", "[Default]\r\nDEBUG=0\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\nCodePage=1252\r\n",
              EngineIni(0) + "Fail.Speak=9\r\n");
    host.Load();
    ASSERT_EQ(11000, host.Initialize());
    host.SetVoiceByName("Anna");
    std::string text;
    for (int i = 0; text.size() < 40000; ++i) text += "Wort" + std::to_string(i) + " ";
    auto withMarker = [&](size_t at, const std::string& marker) {
        std::string t = text;
        t.replace(at, marker.size(), marker);
        return t;
    };
    const std::string longMarker(20000, '#');
    struct Row {
        const char* label;
        std::string text, marker;
        size_t shortLength;  // a prefix the bridge sends whole, which the driver reads all of
    } rows[] = {
        {"no marker", text, "", 9000},
        {"marker not in the text", text, "@@", 9000},
        {"marker early", withMarker(100, "@@"), "@@", 9000},
        {"marker where the window still fits", withMarker(4000, "@@"), "@@", 12000},
        {"marker ending past position 4096", withMarker(4095, "@@"), "@@", 12000},
        {"marker far out", withMarker(14000, "@@"), "@@", 15000},
        {"marker longer than the bridge sends", text, longMarker, 9000},
    };
    for (const Row& row : rows) {
        host.SynthMark(row.text.c_str(), row.marker.empty() ? nullptr : row.marker.c_str(), 1);
        const std::string whole = host.Spoken().back().text;
        const std::string prefix = row.text.substr(0, row.shortLength);
        const std::string shortMarker = row.marker.size() > 16384 ? "" : row.marker;
        host.SynthMark(prefix.c_str(), shortMarker.empty() ? nullptr : shortMarker.c_str(), 1);
        EXPECT_EQ(host.Spoken().back().text, whole) << row.label;
    }
    // kal_Synth: UTF-16 texts far beyond 4095 units, and kal_Key.
    std::wstring wide(30000, L'a');
    host.Synth(wide.c_str(), 1);
    EXPECT_EQ(std::string(4095, 'a'), host.Spoken().back().text);
    host.Key(text.c_str());
    EXPECT_EQ(text.substr(0, 4095), host.Spoken().back().text);
    host.Unload();
}
