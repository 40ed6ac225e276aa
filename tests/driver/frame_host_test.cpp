#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "support/files.h"
#include "support/host.h"
#include "support/pe.h"
#include "support/sim_ini.h"

namespace {
const std::string kOneVoice = SimEngineIni({{"Deutsch", {"Anna", "Petra"}}});

// The level a protocol line was written at, from its label; -1 for header and footer.
int LineLevel(const std::string& line) {
    static const std::pair<const char*, int> labels[] = {{"ERR:: ", 0}, {"DLL : ", 1}, {"KAL_: ", 2},
                                                         {"KAL : ", 3}, {"Buf : ", 3}};
    for (const auto& label : labels)
        if (line.compare(0, 6, label.first) == 0) return label.second;
    return -1;
}
}  // namespace

TEST(Frame, FirstLoadWritesDebugZeroAndNoProtocol) {
    SKIP_WHEN_ISOLATED("loading starts no engine there: the engine's keys are written by the helper's driver, "
                       "which starts with the first call");
    Host host("first-load", "", kOneVoice);
    host.Load();
    EXPECT_EQ("0", host.Profile("Default", "DEBUG"));
    EXPECT_EQ("nalvoapi.dll", host.Profile("Default", "Api"));
    host.Unload();
    EXPECT_FALSE(FileExists(host.folder + "kal.pro"));
}

TEST(Frame, EachLevelShowsExactlyItsLines) {
    const std::string header = "Protokolldatei ";
    std::vector<std::string> full;
    for (int level : {4, 3, 2, 1, -1}) {
        Host host("levels", "[Default]\r\nDEBUG=" + std::to_string(level) + "\r\n", kOneVoice);
        host.Load();
        host.SetSynthCallback(nullptr);
        host.Unload();
        std::vector<std::string> lines = host.Protocol();
        ASSERT_GE(lines.size(), 9u) << "level " << level;
        // Header: four lines and an empty one; footer: an empty line and three.
        EXPECT_EQ(0u, lines[0].find(header)) << level;
        EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"( angelegt am  \d\d/\d\d/\d\d)"))) << lines[1];
        EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"( angelegt um  \d\d:\d\d:\d\d)"))) << lines[2];
        EXPECT_EQ(std::string(48, '='), lines[3]);
        EXPECT_EQ("", lines[4]);
        const size_t n = lines.size();
        EXPECT_EQ("", lines[n - 4]);
        EXPECT_EQ(std::string(48, '='), lines[n - 3]);
        EXPECT_TRUE(std::regex_match(lines[n - 2], std::regex(R"( abgeschlossen am  \d\d/\d\d/\d\d)")));
        EXPECT_TRUE(std::regex_match(lines[n - 1], std::regex(R"( abgeschlossen um  \d\d:\d\d:\d\d)")));
        std::vector<std::string> body(lines.begin() + 5, lines.end() - 4);
        if (level == 4) {
            const std::string f = host.folder;
            full = {"KAL : LoadSpeech " + f + "nalvoapi.dll",
                    "DLL : " + CurrentFolder() + " " + f,
                    "KAL : Addressen zuweisen",
                    "KAL : init NALVO. " + f,
                    "KAL : Engine SimEngine",
                    "KAL : GoInit Nalvo Deutsch Anna",
                    "KAL : GoInit Nalvo Deutsch Petra",
                    "KAL : GoInitSpeech()",
                    "KAL_: SetSynthCallback",
                    "DLL : DLL_PROCESS_DETACH",
                    "KAL : zorUnloadSpeech()"};
            for (std::string& line : full) {  // each test folder differs; compare the shape
                size_t at = line.find(f);
                if (at != std::string::npos) line.replace(at, f.size(), "<folder>");
            }
        }
        std::vector<std::string> expected;
        for (const std::string& line : full)
            if (LineLevel(line) < level) expected.push_back(line);
        for (std::string& line : body) {
            size_t at = line.find(host.folder);
            if (at != std::string::npos) line.replace(at, host.folder.size(), "<folder>");
        }
        EXPECT_EQ(expected, body) << "level " << level;
    }
}

TEST(Frame, InfoAndCallbacks) {
    Host host("info", "[Default]\r\nDEBUG=3\r\n", kOneVoice);
    host.Load();
    const char* info = host.Info();
    EXPECT_EQ(info, host.Info());
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Date: [A-Z][a-z]{2} \d{2} \d{4} Time: \d{2}:\d{2}:\d{2}$)")))
        << info;
    int marker = 0;
    EXPECT_EQ(static_cast<int>(reinterpret_cast<intptr_t>(&marker)),
              host.SetSynthCallback(reinterpret_cast<KalSynthCallback>(&marker)));
    EXPECT_EQ(0, host.SetSynthCallback(nullptr));
    EXPECT_EQ(&marker, host.SetUriCallback(&marker));
    EXPECT_EQ(nullptr, host.SetUriCallback(nullptr));
    host.Unload();
    std::vector<std::string> lines = host.Protocol();
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL_: SetSynthCallback").size());
    EXPECT_EQ(2u, LinesStartingWith(lines, "KAL_: SetUriCallback").size());
}

TEST(Frame, BadDebugValuesAndLongPathsNeverFailAttach) {
    {
        Host host("debug-junk", "[Default]\r\nDEBUG=abc\r\n", kOneVoice);
        host.Load();
        EXPECT_EQ("abc", host.Profile("Default", "DEBUG"));  // present: not rewritten
        EXPECT_NE(nullptr, host.Info());
        host.Unload();
        EXPECT_FALSE(FileExists(host.folder + "kal.pro"));
    }
    {
        // The protocol cannot be created: a folder stands where the file would be.
        Host host("pro-blocked", "[Default]\r\nDEBUG=4\r\n", kOneVoice);
        CreateDirectoryA((host.folder + "kal.pro").c_str(), nullptr);
        host.Load();
        host.UseCallback();
        host.Synth(L"trotzdem", 1);
        host.Synchronize();
        EXPECT_EQ(2u, host.Events().size());
        host.Unload();
    }
    {
        // A folder whose DLL path is just below the system's limit: the profile
        // and protocol paths then run past 255 characters and are cut.
        Host host("p", "", kOneVoice);
        std::string deep = host.folder;
        while (deep.size() < 236) {
            deep += std::string(std::min<size_t>(40, 236 - deep.size()), 'd') + "\\";
            CreateDirectoryA(deep.c_str(), nullptr);
        }
        CopyFileTo(host.folder + "kal_drv.dll", deep + "kal_drv.dll");
        CopyFileTo(host.folder + "nalvoapi.dll", deep + "nalvoapi.dll");
        HMODULE dll = LoadLibraryA((deep + "kal_drv.dll").c_str());
        ASSERT_NE(nullptr, dll) << deep.size();
        auto info = reinterpret_cast<decltype(&kal_Info)>(reinterpret_cast<void*>(GetProcAddress(dll, "kal_Info")));
        EXPECT_NE(nullptr, info());
        FreeLibrary(dll);
    }
}

TEST(Frame, ExportsAreTheTwentyNamesAndImportsOnlySystemDlls) {
    MappedImage dll(BuildPath("driver/kal_drv.dll"));
    ASSERT_TRUE(dll.valid());
    EXPECT_EQ(std::set<std::string>(std::begin(kExportNames), std::end(kExportNames)), ExportedNames(dll.module()));
    // The compiler's runtime is linked in: nothing but the system's own DLLs.
    EXPECT_EQ((std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL"}), ImportedDlls(dll.module()));
}
