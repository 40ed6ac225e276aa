#include <gtest/gtest.h>

#include "support/files.h"
#include "support/host.h"
#include "support/sim_ini.h"

namespace {
const std::string kEngines =
    SimEngineIni({{"Deutsch", {"Anna", "Petra"}}, {"Leer", {}}, {"Viele", SimNames("V", 12)}}, "",
                 {"SimEngine", "OtherEngine"});

const std::vector<SimLanguage> kAnna = {{"Deutsch", {"Anna"}}};
const std::string kSimple = SimEngineIni(kAnna);
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
        std::vector<std::string> lines = LinesStartingWith(host.Protocol(), "KAL : SetVoice ");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("KAL : SetVoice " + std::to_string(row.voiceId), lines.back()) << row.name;
    }
    host.Unload();
}

TEST(Lifecycle, StartupProtocolAtLevelFour) {
    SKIP_WHEN_ISOLATED("loading starts no engine there: the start-up's lines come with the first call, from the "
                       "helper's driver");
    Host host("startup-lines", "[Default]\r\nDEBUG=4\r\n", kEngines);
    host.Load();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL : Engine ").size());
    EXPECT_EQ(14u, LinesStartingWith(lines, "KAL : GoInit Nalvo ").size());
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL : GoInitSpeech()").size());
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL : init NALVO. " + host.folder).size());
    // The first engine is the one opened.
    std::vector<std::string> journal = host.Journal();
    EXPECT_EQ(1u, LinesStartingWith(journal, "Open engine=SimEngine result=0").size());
    EXPECT_EQ(1u, LinesStartingWith(journal, "Initialize folder=" + JournalEscape(host.folder) + " result=0").size());
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
        {"initialise", "[Default]\r\nDEBUG=4\r\n", SimEngineIni(kAnna, "Fail.Initialize=3\r\n"),
         "simengine/nalvoapi.dll", "KAL : init NALVO failed."},
        {"engine list", "[Default]\r\nDEBUG=4\r\n", "[Engines]\r\nCount=0\r\n", "simengine/nalvoapi.dll",
         "KAL : GetEngineList failed."},
        {"open", "[Default]\r\nDEBUG=4\r\n", SimEngineIni(kAnna, "Fail.Open=4\r\n"),
         "simengine/nalvoapi.dll", "KAL : ttsOpen failed."},
        {"output device", "[Default]\r\nDEBUG=4\r\n", SimEngineIni(kAnna, "Fail.SetOutDevice=5\r\n"),
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
        EXPECT_EQ(2u, LinesStartingWith(lines, row.line).size()) << row.label;  // attach and kal_Initialize
        // An engine step that failed says so at the error level too, with the engine's text.
        const std::string line = row.line;
        if (line.compare(0, 6, "KAL : ") == 0 && line != "KAL : LoadSpeech fehlgeschlagen") {
            EXPECT_EQ(2u, LinesStartingWith(lines, "ERR:: Sprachausgabe nicht gestartet: " + line.substr(6)).size())
                << row.label;
        }
        EXPECT_TRUE(LinesStartingWith(lines, "KAL : GoInitSpeech()").empty()) << row.label;
        // A class or instance the engine gave is given back before the failure returns.
        std::vector<std::string> journal = host.Journal();
        size_t initialised = 0, opened = 0;
        for (const std::string& line : journal) {
            if (line.find("Initialize folder=") == 0 && line.find("result=0") != std::string::npos) ++initialised;
            if (line.find("Open ") == 0 && line.find("result=0") != std::string::npos) ++opened;
        }
        EXPECT_EQ(initialised, LinesStartingWith(journal, "UnInitialize").size()) << row.label;
        EXPECT_EQ(opened, LinesStartingWith(journal, "Close").size()) << row.label;

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
    const size_t startups = LinesStartingWith(host.Protocol(), "KAL : GoInitSpeech()").size();
    EXPECT_EQ(1u, startups);
    EXPECT_EQ(0, host.Terminate());
    EXPECT_EQ(0, host.Terminate());
    std::vector<std::string> journal = host.Journal();
    EXPECT_EQ(1u, LinesStartingWith(journal, "Close").size());
    EXPECT_EQ(1u, LinesStartingWith(journal, "UnInitialize").size());
    // The library stays loaded, the engine is started again in full.
    EXPECT_EQ(22050, host.Initialize());
    EXPECT_EQ(2u, LinesStartingWith(host.Protocol(), "KAL : GoInitSpeech()").size());
    KalVoiceDescriptor** list = host.ListVoices(nullptr);
    int count = 0;
    while (list[count]) ++count;
    EXPECT_EQ(1, count);  // each voice once, not once per start-up
    host.SetProfile("Default", "Freq", "12");
    host.SetVoiceByName("Nalvo Deutsch Anna");
    EXPECT_EQ(0, host.Initialize());
    host.Unload();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL_: Terminate").size());
    EXPECT_EQ(4u, LinesStartingWith(lines, "KAL_: kal_Initialize").size());
    EXPECT_EQ("KAL : zorUnloadSpeech()", lines[lines.size() - 5]);
}

TEST(Lifecycle, StuckBusyEngineGivesTenStatusLinesAndShutdownStillEnds) {
    Host host("stuck", "[Default]\r\nDEBUG=4\r\n", SimEngineIni(kAnna, "StuckBusy=1\r\n"));
    host.Load();
    host.Stop();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(10u, LinesStartingWith(lines, "ERR:: Status nach Stop: ").size());
    EXPECT_TRUE(LinesStartingWith(lines, "KAL_: Hier stimmt etwas nicht!").empty());  // Idle after the stop, nothing queued
    const DWORD started = GetTickCount();
    host.Unload();  // shut-down gives up waiting for idle after a bounded time
    EXPECT_LT(GetTickCount() - started, 10000u);
    EXPECT_EQ(1u, LinesStartingWith(host.Journal(), "UnInitialize").size());
}
