#include <gtest/gtest.h>

#include "support/files.h"
#include "support/host.h"

namespace {
const char kEngines[] =
    "[Engines]\r\nCount=2\r\nName0=SimEngine\r\nName1=OtherEngine\r\n"
    "[Languages]\r\nCount=3\r\nName0=Deutsch\r\nName1=Leer\r\nName2=Viele\r\n"
    "[Voices.Deutsch]\r\nCount=2\r\nName0=Anna\r\nName1=Petra\r\n"
    "[Voices.Leer]\r\nCount=0\r\n"
    "[Voices.Viele]\r\nCount=12\r\nName0=V0\r\nName1=V1\r\nName2=V2\r\nName3=V3\r\nName4=V4\r\nName5=V5\r\n"
    "Name6=V6\r\nName7=V7\r\nName8=V8\r\nName9=V9\r\nName10=V10\r\nName11=V11\r\n";

const char kSimple[] =
    "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n"
    "[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n";

std::vector<std::string> WithText(const std::vector<std::string>& lines, const std::string& prefix) {
    return LinesStartingWith(lines, prefix);
}
}  // namespace

TEST(Lifecycle, FirstLoadFillsTheProfileAndRegistersEveryVoice) {
    Host host("first-profile", "[Default]\r\nDEBUG=4\r\n", kEngines);
    host.Load();
    EXPECT_EQ(11000, host.Initialize());
    EXPECT_EQ("nalvoapi.dll", host.Profile("Default", "Api"));
    EXPECT_EQ("Nalvo Deutsch Anna", host.Profile("Nalvo Deutsch Anna", "Name"));
    EXPECT_EQ("0", host.Profile("Nalvo Deutsch Anna", "Lang"));
    EXPECT_EQ("0", host.Profile("Nalvo Deutsch Anna", "CodePage"));
    EXPECT_EQ("0", host.Profile("Gender", "Nalvo Deutsch Anna"));
    EXPECT_EQ("Nalvo Viele V11", host.Profile("Nalvo Viele V11", "Name"));

    // VoiceIds: language index * 10 + voice index; the empty language takes none,
    // and the 11th and 12th voices of a language share the next language's numbers.
    KalVoiceDescriptor** list = host.ListVoices(nullptr);
    std::vector<std::string> names;
    for (int i = 0; list[i]; ++i) names.push_back(list[i]->name);
    ASSERT_EQ(14u, names.size());
    EXPECT_EQ("Nalvo Deutsch Anna", names[0]);
    EXPECT_EQ("Nalvo Viele V11", names[13]);
    struct Row {
        const char* name;
        int voiceId;
    } rows[] = {{"Nalvo Deutsch Petra", 1}, {"Nalvo Viele V0", 20}, {"Nalvo Viele V9", 29}, {"Nalvo Viele V11", 31}};
    for (const Row& row : rows) {
        host.SetVoiceByName(row.name);
        std::vector<std::string> lines = WithText(host.Protocol(), "KAL : SetVoice ");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("KAL : SetVoice " + std::to_string(row.voiceId), lines.back()) << row.name;
    }
    host.Unload();
}

TEST(Lifecycle, StartupProtocolAtLevelFour) {
    Host host("startup-lines", "[Default]\r\nDEBUG=4\r\n", kEngines);
    host.Load();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(2u, WithText(lines, "KAL : Engine ").size());
    EXPECT_EQ(14u, WithText(lines, "KAL : GoInit Nalvo ").size());
    EXPECT_EQ(1u, WithText(lines, "KAL : GoInitSpeech()").size());
    EXPECT_EQ(1u, WithText(lines, "KAL : init NALVO. " + host.folder).size());
    // The first engine is the one opened.
    std::vector<std::string> journal = host.Journal();
    EXPECT_EQ(1u, WithText(journal, "Open engine=SimEngine result=0").size());
    EXPECT_EQ(1u, WithText(journal, "Initialize folder=" + JournalEscape(host.folder) + " result=0").size());
}

TEST(Lifecycle, EachStartupFailureHasItsLineAndALaterSuccessGivesTheRate) {
    struct Row {
        const char* label;
        std::string kalIni;
        std::string engineIni;
        const char* engineFile;
        const char* line;
    } rows[] = {
        {"missing library", "[Default]\r\nDEBUG=4\r\nApi=nothere.dll\r\n", kSimple, "simengine/nalvoapi.dll",
         "ERR:: Konnte die Datei nicht finden: "},
        {"missing entry", "[Default]\r\nDEBUG=4\r\n", kSimple, "simengine/nalvoapi_missing.dll",
         "KAL : LoadSpeech fehlgeschlagen"},
        {"not a library", "[Default]\r\nDEBUG=4\r\n", kSimple, "simengine/notalib.dll", "ERR:: Fehlercode: "},
        {"initialise", "[Default]\r\nDEBUG=4\r\n", std::string(kSimple) + "[Script]\r\nFail.Initialize=3\r\n",
         "simengine/nalvoapi.dll", "KAL : init NALVO failed."},
        {"engine list", "[Default]\r\nDEBUG=4\r\n", "[Engines]\r\nCount=0\r\n", "simengine/nalvoapi.dll",
         "KAL : GetEngineList failed."},
        {"open", "[Default]\r\nDEBUG=4\r\n", std::string(kSimple) + "[Script]\r\nFail.Open=4\r\n",
         "simengine/nalvoapi.dll", "KAL : ttsOpen failed."},
        {"output device", "[Default]\r\nDEBUG=4\r\n", std::string(kSimple) + "[Script]\r\nFail.SetOutDevice=5\r\n",
         "simengine/nalvoapi.dll", "KAL : ttsSetOutDevice failed."},
        {"language list", "[Default]\r\nDEBUG=4\r\n",
         "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=0\r\n", "simengine/nalvoapi.dll",
         "KAL : ttsGetLanguageList failed."},
    };
    for (const Row& row : rows) {
        Host host("startup-failure", row.kalIni, row.engineIni, row.engineFile);
        host.Load();
        EXPECT_EQ(-1, host.Initialize()) << row.label;
        std::vector<std::string> lines = host.Protocol();
        EXPECT_EQ(2u, WithText(lines, row.line).size()) << row.label;  // attach and kal_Initialize
        EXPECT_TRUE(WithText(lines, "KAL : GoInitSpeech()").empty()) << row.label;
        // A class or instance the engine gave is given back before the failure returns.
        std::vector<std::string> journal = host.Journal();
        size_t initialised = 0, opened = 0;
        for (const std::string& line : journal) {
            if (line.find("Initialize folder=") == 0 && line.find("result=0") != std::string::npos) ++initialised;
            if (line.find("Open ") == 0 && line.find("result=0") != std::string::npos) ++opened;
        }
        EXPECT_EQ(initialised, WithText(journal, "UnInitialize").size()) << row.label;
        EXPECT_EQ(opened, WithText(journal, "Close").size()) << row.label;

        // Mend the cause; the next kal_Initialize starts the engine.
        host.SetProfile("Default", "Api", "nalvoapi.dll");
        CopyFileTo(BuildPath("simengine/nalvoapi.dll"), host.folder + "good.dll");
        host.SetProfile("Default", "Api", "good.dll");
        host.WriteEngineIni(kSimple);
        EXPECT_EQ(11000, host.Initialize()) << row.label;
        host.Unload();
    }
}

TEST(Lifecycle, TerminateAndInitializeAgain) {
    Host host("terminate", "[Default]\r\nDEBUG=4\r\nFreq=22\r\n", kSimple);
    host.Load();
    EXPECT_EQ(11000, host.Initialize());  // no voice activated yet: code 11
    host.SetVoiceByName("Nalvo Deutsch Anna");
    EXPECT_EQ(22050, host.Initialize());
    const size_t startups = WithText(host.Protocol(), "KAL : GoInitSpeech()").size();
    EXPECT_EQ(1u, startups);
    EXPECT_EQ(0, host.Terminate());
    EXPECT_EQ(0, host.Terminate());
    std::vector<std::string> journal = host.Journal();
    EXPECT_EQ(1u, WithText(journal, "Close").size());
    EXPECT_EQ(1u, WithText(journal, "UnInitialize").size());
    // The library stays loaded, the engine is started again in full.
    EXPECT_EQ(22050, host.Initialize());
    EXPECT_EQ(2u, WithText(host.Protocol(), "KAL : GoInitSpeech()").size());
    KalVoiceDescriptor** list = host.ListVoices(nullptr);
    int count = 0;
    while (list[count]) ++count;
    EXPECT_EQ(1, count);  // each voice once, not once per start-up
    host.SetProfile("Default", "Freq", "12");
    host.SetVoiceByName("Nalvo Deutsch Anna");
    EXPECT_EQ(0, host.Initialize());
    host.Unload();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(2u, WithText(lines, "KAL_: Terminate").size());
    EXPECT_EQ(4u, WithText(lines, "KAL_: kal_Initialize").size());
    EXPECT_EQ("KAL : zorUnloadSpeech()", lines[lines.size() - 5]);
}

TEST(Lifecycle, StuckBusyEngineGivesTenStatusLinesAndShutdownStillEnds) {
    Host host("stuck", "[Default]\r\nDEBUG=4\r\n", std::string(kSimple) + "[Script]\r\nStuckBusy=1\r\n");
    host.Load();
    host.Stop();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(10u, WithText(lines, "ERR:: Status nach Stop: ").size());
    EXPECT_TRUE(WithText(lines, "KAL_: Hier stimmt etwas nicht!").empty());  // Idle after the stop, nothing queued
    const DWORD started = GetTickCount();
    host.Unload();  // shut-down gives up waiting for idle after a bounded time
    EXPECT_LT(GetTickCount() - started, 10000u);
    EXPECT_EQ(1u, WithText(host.Journal(), "UnInitialize").size());
}
