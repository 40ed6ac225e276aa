// Voice activation, lookup and parameters through the real DLL, checked
// against the simulated engine's journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/files.h"
#include "support/host.h"
#include "support/sim_ini.h"

namespace {
// Language i has voices L<i>V0...; the counts per language are given.
std::string EngineIni(const std::vector<int>& voicesPerLanguage, const std::vector<std::string>& names = {}) {
    std::vector<SimLanguage> languages;
    for (size_t l = 0; l < voicesPerLanguage.size(); ++l) {
        const std::string language = l < names.size() ? names[l] : "L" + std::to_string(l);
        languages.push_back({language, SimNames(language + "V", voicesPerLanguage[l])});
    }
    return SimEngineIni(languages);
}

std::vector<std::string> Params(const Host& host) { return LinesStartingWith(host.Journal(), "SetParamList"); }

// Voices are registered under their section names unless the profile names them.
const char* Section(const std::string& language, int voice) {
    static std::string text;
    text = "Nalvo " + language + " " + language + "V" + std::to_string(voice);
    return text.c_str();
}
}  // namespace

TEST(VoicesHost, FirstActivationSendsLanguageVoiceAndParametersEachAlone) {
    Host host("activation", "[Default]\r\nDEBUG=4\r\n", EngineIni({2}, {"Deutsch"}));
    host.Load();
    const size_t before = host.Journal().size();
    host.SetVoiceByName(Section("Deutsch", 1));
    std::vector<std::string> journal = host.Journal();
    std::vector<std::string> params = LinesStartingWith(
        std::vector<std::string>(journal.begin() + before, journal.end()), "SetParamList");
    std::vector<std::string> expected = {
        "SetParamList id=64 text=Deutsch count=1 result=0", "SetParamList id=128 text=DeutschV1 count=1 result=0",
        "SetParamList id=2 value=100 count=1 result=0",     "SetParamList id=4 value=50 count=1 result=0",
        "SetParamList id=1 value=11 count=1 result=0",      "SetParamList id=512 value=10491 count=1 result=0",
        "SetParamList id=2048 value=15 count=1 result=0"};
    EXPECT_EQ(expected, params);
    EXPECT_EQ("100", host.Profile("Default", "Volume"));
    EXPECT_EQ("50", host.Profile("Default", "Rate"));
    EXPECT_EQ("11", host.Profile("Default", "Freq"));
    EXPECT_EQ("1", host.Profile(Section("Deutsch", 1), "DCBon"));
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL : Select Language Deutsch").size());
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL : Select Voice DeutschV1").size());
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL : v:100 r:50").size());
    EXPECT_EQ("KAL : Fehler beim oeffnen des DCB-Files " + host.folder + "Speech\\Nalvo00.bdc", lines.back());
}

TEST(VoicesHost, LanguageSelectionFollowsTheVoiceId) {
    Host host("voice-ids", "[Default]\r\nDEBUG=4\r\n", EngineIni({2, 4, 5}));
    host.Load();
    struct Row {
        int voice;           // VoiceId
        bool languageSent;   // parameter 64 expected
        const char* voiceText;
    } rows[] = {{12, true, "L1V2"}, {12, false, "L1V2"}, {13, true, "L1V3"}, {23, true, "L2V3"}};
    for (const Row& row : rows) {
        const size_t before = Params(host).size();
        host.SetVoiceByName(Section("L" + std::to_string(row.voice / 10), row.voice % 10));
        std::vector<std::string> params = Params(host);
        std::vector<std::string> sent(params.begin() + before, params.end());
        ASSERT_EQ(row.languageSent ? 7u : 6u, sent.size()) << row.voice;
        if (row.languageSent) {
            EXPECT_EQ("SetParamList id=64 text=L" + std::to_string(row.voice / 10) + " count=1 result=0", sent[0]);
        }
        EXPECT_EQ("SetParamList id=128 text=" + std::string(row.voiceText) + " count=1 result=0",
                  sent[row.languageSent ? 1 : 0])
            << row.voice;
    }
    std::vector<std::string> lines = LinesStartingWith(host.Protocol(), "KAL : SetVoice ");
    EXPECT_EQ((std::vector<std::string>{"KAL : SetVoice 12", "KAL : SetVoice 12", "KAL : SetVoice 13",
                                        "KAL : SetVoice 23"}),
              lines);
}

TEST(VoicesHost, ProfileValuesWinAtEveryActivation) {
    Host host("rate", "[Default]\r\nDEBUG=4\r\nRate=70\r\n", EngineIni({1}));
    host.Load();
    host.SetParameter(1, 30, 0);
    EXPECT_EQ(30, host.GetParameter(1, 1));
    host.SetVoiceByName(Section("L0", 0));
    EXPECT_EQ(70, host.GetParameter(1, 1));
    std::vector<std::string> params = Params(host);
    EXPECT_EQ(1u, std::count(params.begin(), params.end(), "SetParamList id=4 value=30 count=1 result=0"));
    EXPECT_EQ(1u, std::count(params.begin(), params.end(), "SetParamList id=4 value=70 count=1 result=0"));
    EXPECT_EQ(1u, LinesStartingWith(host.Protocol(), "KAL : v:100 r:70").size());
}

TEST(VoicesHost, ParameterSetters) {
    Host host("parameters", "[Default]\r\nDEBUG=4\r\n", EngineIni({1}));
    host.Load();
    struct Row {
        int parameter, value, relative;
        int rate, volume;      // expected afterwards
        const char* engine;    // expected SetParamList line, or null for none
    } rows[] = {{1, 70, 0, 70, 100, "id=4 value=70"}, {2, 101, 0, 70, 100, nullptr},
                {2, 100, 0, 70, 100, "id=2 value=100"}, {2, -5, 0, 70, 0, "id=2 value=0"},
                {1, 10, 1, 10, 0, "id=4 value=10"},  {3, 50, 0, 10, 0, nullptr}};
    for (const Row& row : rows) {
        const size_t before = Params(host).size();
        EXPECT_EQ(0, host.SetParameter(row.parameter, row.value, row.relative));
        EXPECT_EQ(row.rate, host.GetParameter(1, 1)) << row.parameter << " " << row.value;
        EXPECT_EQ(row.volume, host.GetParameter(2, 1)) << row.parameter << " " << row.value;
        std::vector<std::string> params = Params(host);
        if (row.engine) {
            ASSERT_EQ(before + 1, params.size()) << row.value;
            EXPECT_EQ("SetParamList " + std::string(row.engine) + " count=1 result=0", params.back());
        } else {
            EXPECT_EQ(before, params.size()) << row.value;
        }
    }
    EXPECT_EQ(50, host.GetParameter(1, 0));
    EXPECT_EQ(100, host.GetParameter(2, 0));
    EXPECT_EQ(50, host.GetParameter(7, 1));
    EXPECT_EQ(50, host.GetParameter(7, 0));
    const wchar_t list[] = {L'.', L',', 0x141, L'?', 0};
    host.SetPunctuationList(list);
    host.SetPunctuationList(nullptr);
    const std::wstring longList(400, L'!');
    host.SetPunctuationList(longList.c_str());
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL_: SetParameter Para:2 Val:-5 Relativ:0").size());
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL_: GetParameter P:7 C:0").size());
    std::vector<std::string> punctuation = LinesStartingWith(lines, "KAL_: SetPunctuationList");
    EXPECT_EQ((std::vector<std::string>{"KAL_: SetPunctuationList .,A?", "KAL_: SetPunctuationList ",
                                        "KAL_: SetPunctuationList " + std::string(259, '!')}),
              punctuation);
}

TEST(VoicesHost, DictionaryFiles) {
    Host host("dictionary", "[Default]\r\nDEBUG=4\r\n", EngineIni({3, 1}));
    host.SetProfile(Section("L0", 0), "Lang", "49");
    host.SetProfile(Section("L0", 1), "Lang", "1");
    host.SetProfile(Section("L0", 2), "DCBon", "0");
    host.SetProfile(Section("L1", 0), "Lang", "7");
    CreateDirectoryA((host.folder + "Speech").c_str(), nullptr);
    WriteFileText(host.folder + "Speech\\Nalvo49.bdc", std::string("dict\0bytes\xff", 11));
    WriteFileText(host.folder + "Speech\\Nalvo01.bdc", "");
    host.Load();
    host.SetVoiceByName(Section("L0", 0));
    host.SetVoiceByName(Section("L0", 1));
    host.SetVoiceByName(Section("L0", 2));  // DCBon 0: nothing
    host.SetVoiceByName(Section("L1", 0));  // no Nalvo07.bdc
    std::vector<std::string> loads = LinesStartingWith(host.Journal(), "LoadDictionary");
    ASSERT_EQ(2u, loads.size());
    // FNV-1a of the eleven bytes: the file reached the engine unchanged.
    uint32_t hash = 2166136261u;
    for (char c : std::string("dict\0bytes\xff", 11)) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    char sum[16];
    snprintf(sum, sizeof sum, "%08x", hash);
    EXPECT_EQ(0u, loads[0].find("LoadDictionary size=11 sum=" + std::string(sum) + " handle="));
    EXPECT_EQ(0u, loads[1].find("LoadDictionary size=0 "));
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ((std::vector<std::string>{"KAL : Dictionary erfolgreich gelesen " + host.folder + "Speech\\Nalvo49.bdc",
                                        "KAL : Dictionary erfolgreich gelesen " + host.folder + "Speech\\Nalvo01.bdc"}),
              LinesStartingWith(lines, "KAL : Dictionary"));
    EXPECT_EQ((std::vector<std::string>{"KAL : Fehler beim oeffnen des DCB-Files " + host.folder + "Speech\\Nalvo07.bdc"}),
              LinesStartingWith(lines, "KAL : Fehler beim"));
    // Each dictionary is unloaded once, by the next activation (the second by
    // the voice with DCBon 0); the engine never holds two, nor one the current
    // voice does not have.
    auto handleOf = [](const std::string& load) {
        const std::string handle = load.substr(load.find("handle=") + 7);
        return "UnloadDictionary handle=" + handle.substr(0, handle.find(' '));
    };
    std::vector<std::string> unloads = LinesStartingWith(host.Journal(), "UnloadDictionary");
    ASSERT_EQ(2u, unloads.size());
    EXPECT_EQ(handleOf(loads[0]), unloads[0]);
    EXPECT_EQ(handleOf(loads[1]), unloads[1]);
    host.Unload();
    EXPECT_EQ(2u, LinesStartingWith(host.Journal(), "UnloadDictionary").size());
}

TEST(VoicesHost, LookupByNameIdentifierAndProperties) {
    Host host("lookup", "[Default]\r\nDEBUG=4\r\n", EngineIni({2, 2}, {"Deutsch", "English"}));
    // Two voices share a name; languages 49 and 44.
    host.SetProfile(Section("Deutsch", 0), "Name", "Anna");
    host.SetProfile(Section("Deutsch", 0), "Lang", "49");
    host.SetProfile(Section("Deutsch", 1), "Name", "Petra");
    host.SetProfile(Section("Deutsch", 1), "Lang", "49");
    host.SetProfile(Section("English", 0), "Name", "Anna");
    host.SetProfile(Section("English", 0), "Lang", "44");
    host.SetProfile(Section("English", 1), "Name", "Tom");
    host.SetProfile(Section("English", 1), "Lang", "44");
    host.Load();
    auto current = [&] { return std::string(host.GetCurrentVoice()->identifier); };
    EXPECT_EQ("0049-Anna", current());  // before any selection: VoiceId 0
    host.SetVoiceByName("Anna");
    EXPECT_EQ("0044-Anna", current());  // the last of equal names wins
    host.SetVoiceByName("0049-Anna");
    EXPECT_EQ("0049-Anna", current());
    host.SetVoiceByName("0044-Tom");
    EXPECT_EQ("0044-Tom", current());
    host.SetVoiceByName("12");  // looked up among identifiers, found nowhere: the first voice
    EXPECT_EQ("0049-Anna", current());
    host.SetVoiceByName(nullptr);  // no selection at all
    EXPECT_EQ("0049-Anna", current());

    char de[] = "de";
    KalVoiceFilter filter{nullptr, de, nullptr, 2, 32, 0};
    KalVoiceDescriptor** list = host.ListVoices(&filter);
    EXPECT_EQ("0049", host.Profile("L-Trans", "de"));
    EXPECT_STREQ("de", de);  // "0049" does not fit the host's two characters: left as it was
    std::vector<std::string> found;
    for (int i = 0; list[i]; ++i) found.push_back(list[i]->identifier);
    EXPECT_EQ((std::vector<std::string>{"0049-Anna", "0049-Petra"}), found);

    char deutsch[] = "Deutsch";
    char tom[] = "Tom";
    KalVoiceFilter both{tom, deutsch, nullptr, 0, 0, 0};
    list = host.ListVoices(&both);
    EXPECT_STREQ("0049", deutsch);  // fits: written over the host's text
    found.clear();
    for (int i = 0; list[i]; ++i) found.push_back(list[i]->identifier);
    EXPECT_EQ((std::vector<std::string>{"0049-Anna", "0049-Petra", "0044-Tom"}), found);
    host.SetVoiceByProperties(&both);
    EXPECT_EQ("0044-Tom", current());  // the last match wins

    KalVoiceFilter none{nullptr, nullptr, nullptr, 0, 0, 0};
    EXPECT_EQ(nullptr, host.ListVoices(&none)[0]);
    host.SetVoiceByProperties(nullptr);
    EXPECT_EQ("0044-Tom", current());
    EXPECT_EQ(host.ListVoices(nullptr), host.ListVoices(&none));

    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(1u, LinesStartingWith(lines, "KAL_: SetVoiceByProperties Gender: 0, Age: 0").size());
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL_: Name: Tom").size());
    // "de" and "Deutsch" are translated; the "0049" written over "Deutsch" is not.
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL_: L-Trans: 0049").size());
}

TEST(VoicesHost, AFullCatalogueStillEndsItsList) {
    Host host("full", "[Default]\r\nDEBUG=0\r\n", EngineIni(std::vector<int>(21, 10)));
    host.Load();
    KalVoiceDescriptor** list = host.ListVoices(nullptr);
    int count = 0;
    while (list[count]) ++count;
    EXPECT_EQ(200, count);
}

// A dictionary of 4 GiB or more does not fit the engine's 32-bit size: it is
// refused with its line, never handed over as its size modulo 2^32 (sparse files).
TEST(VoicesHost, DictionariesOfFourGibAndMoreAreRefused) {
    Host host("big-dictionaries", "[Default]\r\nDEBUG=4\r\n", EngineIni({2}));
    struct Row {
        int lang;
        ULONGLONG size;
    } rows[] = {{49, 1ull << 32}, {50, (1ull << 32) + 16}};
    CreateDirectoryA((host.folder + "Speech").c_str(), nullptr);
    for (const Row& row : rows) {
        host.SetProfile(Section("L0", row.lang - 49), "Lang", std::to_string(row.lang).c_str());
        const std::string path = host.folder + "Speech\\Nalvo" + std::to_string(row.lang) + ".bdc";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << row.lang;
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(row.size);
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)) << row.lang;
        CloseHandle(file);
    }
    host.Load();
    for (const Row& row : rows) {
        host.SetVoiceByName(Section("L0", row.lang - 49));
        const std::string path = host.folder + "Speech\\Nalvo" + std::to_string(row.lang) + ".bdc";
        EXPECT_EQ(1u, LinesStartingWith(host.Protocol(), "KAL : Dictionary zu gross " + path).size()) << row.lang;
    }
    EXPECT_EQ(0u, LinesStartingWith(host.Journal(), "LoadDictionary").size());
    EXPECT_EQ(0u, LinesStartingWith(host.Protocol(), "KAL : Dictionary erfolgreich").size());
    host.Unload();
    for (const Row& row : rows) DeleteFileA((host.folder + "Speech\\Nalvo" + std::to_string(row.lang) + ".bdc").c_str());
}
