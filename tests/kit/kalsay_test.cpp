// kalsay as a user runs it: a child process with piped input, under a timeout.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "kit/kit.h"
#include "kit/process.h"

namespace {

// Anna gets a display name, a language and a code page; the rest keep defaults.
const char kProfile[] =
    "[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\nDCBon=0\r\n"
    "[Gender]\r\nAnna=2\r\n";

struct Event {
    std::string kind;  // begin or end
    int mark;
    long long ms;
    size_t line;  // position in the output
};

std::vector<Event> Events(const std::vector<std::string>& lines) {
    std::vector<Event> events;
    for (size_t i = 0; i < lines.size(); ++i) {
        char kind[16] = {};
        int mark = 0;
        long long ms = 0;
        if (sscanf(lines[i].c_str(), "event %15s mark=%d ms=%lld", kind, &mark, &ms) == 3)
            events.push_back(Event{kind, mark, ms, i});
    }
    return events;
}

std::vector<int> Marks(const std::vector<Event>& events, const std::string& kind) {
    std::vector<int> marks;
    for (const Event& e : events)
        if (e.kind == kind) marks.push_back(e.mark);
    return marks;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == text) return i;
    return std::string::npos;
}

ProcessResult Kalsay(const std::string& folder, const std::wstring& arguments, const std::string& input) {
    const std::wstring exe(folder.begin(), folder.end());
    return RunProcess(L"\"" + exe + L"kalsay.exe\" " + arguments, folder, input, 15000);
}

int VoiceSections(const std::string& profile) {
    int count = 0;
    for (const std::string& section : ProfileSectionNames(profile))
        if (section.compare(0, 6, "Nalvo ") == 0) ++count;
    return count;
}

}  // namespace

TEST(KalsayInteractive, ListsVoicesSpeaksTypedLinesAndWaits) {
    const std::string folder = KitFolder("kalsay-interactive");
    WriteFileText(folder + "kal.ini", kProfile);
    ProcessResult run = Kalsay(folder, L"", "/list\neins\nzwei\n/wait\n/quit\nnever spoken\n");
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::vector<std::string> lines = SplitLines(run.output);

    // One line per voice of the engine: as many as the driver gave sections in kal.ini.
    int listed = -1;
    size_t at = 0;
    for (; at < lines.size(); ++at)
        if (sscanf(lines[at].c_str(), "voices: %d", &listed) == 1) break;
    ASSERT_GT(listed, 0) << run.output;
    EXPECT_EQ(listed, VoiceSections(folder + "kal.ini"));
    ASSERT_LT(at + 1 + listed, lines.size());
    bool sawAnna = false;
    for (int i = 0; i < listed; ++i) {
        std::istringstream words(lines[at + 2 + i]);
        std::vector<std::string> columns;
        for (std::string w; words >> w;) columns.push_back(w);
        if (columns == std::vector<std::string>{"Anna", "0049", "0049-Anna", "2"}) sawAnna = true;
    }
    EXPECT_TRUE(sawAnna) << run.output;

    // Both texts begin in order and end; the last end carries the last mark,
    // and /wait returns only after it was printed.
    const std::vector<Event> events = Events(lines);
    EXPECT_EQ(Marks(events, "begin"), (std::vector<int>{1, 2})) << run.output;
    const std::vector<int> ends = Marks(events, "end");
    ASSERT_EQ(ends.size(), 2u) << run.output;
    EXPECT_EQ(ends.back(), 2);
    const size_t spoken = IndexOf(lines, "all spoken");
    ASSERT_NE(spoken, std::string::npos) << run.output;
    EXPECT_GT(spoken, events.back().line);
    // /quit ends the input: the line after it is never queued.
    EXPECT_EQ(run.output.find("never spoken"), std::string::npos);
    EXPECT_NE(IndexOf(lines, "kal_drv unloaded"), std::string::npos);
}

TEST(KalsayInteractive, StopCutsTheSpokenTextAndLaterLinesStillSpeak) {
    const std::string folder = KitFolder("kalsay-stop");
    // At rate 1 the simulated engine needs 100 ms per character: 6 s for this text.
    const std::string longText(60, 'a');
    ProcessResult run = Kalsay(folder, L"", "/rate 1\n" + longText + "\n/stop\n/rate 50\nweiter\n/wait\n");
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::vector<std::string> lines = SplitLines(run.output);
    EXPECT_NE(IndexOf(lines, "rate: 1"), std::string::npos) << run.output;
    EXPECT_NE(IndexOf(lines, "stopped: queue cleared"), std::string::npos) << run.output;

    const std::vector<Event> events = Events(lines);
    EXPECT_EQ(Marks(events, "begin"), (std::vector<int>{1, 2})) << run.output;
    EXPECT_EQ(Marks(events, "end"), (std::vector<int>{2})) << run.output;
    ASSERT_FALSE(events.empty());
    EXPECT_LT(events.back().ms, 4000) << "the stop did not cut the long text";
    // End of input waited for the last text, then unloaded.
    EXPECT_LT(events.back().line, IndexOf(lines, "kal_drv unloaded"));
}

TEST(KalsayOneShot, SpeaksUtf16ArgumentsWithTheChosenVoiceAndShowsTheProtocol) {
    const std::string folder = KitFolder("kalsay-oneshot");
    WriteFileText(folder + "kal.ini", kProfile);
    ProcessResult run = Kalsay(folder, L"--debug 4 --show-protocol --voice Anna Gr\u00FC\u00DFe zwei", "");
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::vector<std::string> lines = SplitLines(run.output);
    EXPECT_NE(IndexOf(lines, "current voice: Anna (0049-Anna)"), std::string::npos) << run.output;
    const std::vector<Event> events = Events(lines);
    EXPECT_EQ(Marks(events, "begin"), (std::vector<int>{1, 2})) << run.output;
    ASSERT_FALSE(Marks(events, "end").empty());
    EXPECT_EQ(Marks(events, "end").back(), 2);

    // The level was written before loading, so this run's protocol has every level.
    char level[16];
    GetPrivateProfileStringA("Default", "DEBUG", "", level, sizeof level, (folder + "kal.ini").c_str());
    EXPECT_STREQ(level, "4");
    const std::string protocol = ReadFileText(folder + "kal.pro");
    // The text reached the driver as UTF-16 and was converted into Anna's code page 1252.
    EXPECT_NE(protocol.find("kal_Synth  0001 Gr\xFC\xDF" "e"), std::string::npos) << protocol;
    EXPECT_NE(protocol.find("SetVoiceByName Anna"), std::string::npos);
    const size_t shown = IndexOf(lines, "---- kal.pro ----");
    ASSERT_NE(shown, std::string::npos);
    EXPECT_GT(shown, IndexOf(lines, "kal_drv unloaded"));
    EXPECT_NE(IndexOf(lines, "DLL : DLL_PROCESS_DETACH"), std::string::npos) << run.output;
}

TEST(KalsayOneShot, ReportsBadUsageAndAMissingDriver) {
    const std::string folder = KitFolder("kalsay-errors");
    ProcessResult usage = Kalsay(folder, L"--rate 500 text", "");
    EXPECT_EQ(usage.exitCode, 2u) << usage.output;
    EXPECT_NE(usage.output.find("--rate takes a number from 0 to 100"), std::string::npos) << usage.output;
    EXPECT_FALSE(FileExists(folder + "kal.ini")) << "the driver must not be loaded on bad usage";

    DeleteFileA((folder + "kal_drv.dll").c_str());
    ProcessResult missing = Kalsay(folder, L"text", "");
    EXPECT_EQ(missing.exitCode, 1u) << missing.output;
    EXPECT_NE(missing.output.find("kal_drv.dll: there is no such file"), std::string::npos) << missing.output;

    ProcessResult help = Kalsay(folder, L"-h", "");
    EXPECT_EQ(help.exitCode, 0u) << help.output;
    EXPECT_EQ(help.output.find("usage: kalsay"), 0u) << help.output;
}

// A voice or a language the driver does not offer is the user's mistake: an
// error and a failing exit, nothing spoken, and nothing written into kal.ini
// (the driver would take its first voice, and keep an unknown language name
// in [L-Trans] for good). Without an engine nothing claims to be unloaded.
TEST(KalsayOneShot, RefusesUnknownVoicesAndLanguagesAndSaysWhenNoEngineStarted) {
    const std::string folder = KitFolder("kalsay-unknown");
    WriteFileText(folder + "kal.ini", kProfile);
    struct Row {
        const wchar_t* arguments;
        const char* message;
    } rows[] = {
        {L"--voice Nobody Hallo", "kalsay: no voice Nobody"},
        {L"--language xx Hallo", "kalsay: no voice for the language xx"},
        {L"--language 0099 Hallo", "kalsay: no voice for the language 0099"},
    };
    for (const Row& row : rows) {
        ProcessResult run = Kalsay(folder, row.arguments, "");
        ASSERT_FALSE(run.timedOut) << run.output;
        EXPECT_EQ(run.exitCode, 1u) << run.output;
        EXPECT_NE(run.output.find(row.message), std::string::npos) << run.output;
        EXPECT_TRUE(Events(SplitLines(run.output)).empty()) << run.output;
    }
    char translated[16];
    GetPrivateProfileStringA("L-Trans", "xx", "missing", translated, sizeof translated, (folder + "kal.ini").c_str());
    EXPECT_STREQ(translated, "missing");

    // Known ones still select: the code, and a name [L-Trans] translates.
    WritePrivateProfileStringA("L-Trans", "deutsch", "0049", (folder + "kal.ini").c_str());
    ProcessResult known = Kalsay(folder, L"--language deutsch Hallo", "");
    EXPECT_EQ(known.exitCode, 0u) << known.output;
    EXPECT_NE(known.output.find("language deutsch means 0049"), std::string::npos) << known.output;

    DeleteFileA((folder + "nalvoapi.dll").c_str());
    ProcessResult noEngine = Kalsay(folder, L"--debug 1 Hallo", "");
    EXPECT_EQ(noEngine.exitCode, 1u) << noEngine.output;
    EXPECT_NE(noEngine.output.find("the speech engine did not start; kal.pro says: Konnte die Datei nicht finden"),
              std::string::npos)
        << noEngine.output;
    EXPECT_EQ(noEngine.output.find("unloaded"), std::string::npos) << noEngine.output;
}
