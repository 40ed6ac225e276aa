// Loads the built simulated engine DLL: Windows only.
#if defined(_WIN32)
#include <windows.h>

#include <regex>

#include "engine/engine.h"
#include "support/driver_fixture.h"
#include "support/files.h"

namespace {
std::string CurrentFolder() {
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

class LoaderTest : public DriverTest {
protected:
    void TearDown() override {
        ReleaseEngineLibrary();
        DriverTest::TearDown();
    }
    std::string Copy(const char* built, const char* as) {
        CopyFileTo(BuildPath(built), folder + as);
        return folder + as;
    }
};
}  // namespace

TEST_F(LoaderTest, MissingFileLeavesTheFolderAlone) {
    const std::string before = CurrentFolder();
    const std::string path = folder + "nalvoapi.dll";
    EXPECT_EQ(-1, LoadSpeech(path.c_str()));
    EXPECT_EQ(nullptr, Engine.engineLibrary);
    EXPECT_EQ(before, CurrentFolder());
    std::vector<std::string> expected = {"KAL : LoadSpeech " + path, "ERR:: Konnte die Datei nicht finden: " + path};
    EXPECT_EQ(expected, Protocol());
}

TEST_F(LoaderTest, AFileThatIsNoLibraryGivesTheErrorCode) {
    const std::string before = CurrentFolder();
    const std::string path = Copy("simengine/notalib.dll", "nalvoapi.dll");
    EXPECT_EQ(-1, LoadSpeech(path.c_str()));
    EXPECT_EQ(nullptr, Engine.engineLibrary);
    EXPECT_EQ(before, CurrentFolder());
    std::vector<std::string> lines = Protocol();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("DLL : " + before + " " + folder, lines[1]);  // no ModuleFolder set: the fixture's folder
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("ERR:: Fehlercode: [0-9A-F]{4,}"))) << lines[2];
}

TEST_F(LoaderTest, ALibraryLackingOneNameStaysLoadedWithThatSlotEmpty) {
    const std::string path = Copy("simengine/nalvoapi_missing.dll", "nalvoapi.dll");
    EXPECT_EQ(-2, LoadSpeech(path.c_str()));
    EXPECT_NE(nullptr, Engine.engineLibrary);
    EXPECT_EQ(nullptr, Engine.api.getSpeechDBList);
    // Every other name was still looked up.
    void** slots = reinterpret_cast<void**>(&Engine.api);
    int bound = 0;
    for (int i = 0; i < kEngineApiSlots; ++i) bound += slots[i] != nullptr;
    EXPECT_EQ(kEngineApiSlots - 1, bound);
    EXPECT_EQ("KAL : Addressen zuweisen", Protocol().back());
}

TEST_F(LoaderTest, TheFullEngineLoadsFromItsOwnFolder) {
    const std::string before = CurrentFolder();
    const std::string path = Copy("simengine/nalvoapi.dll", "nalvoapi.dll");
    EXPECT_EQ(0, LoadSpeech(path.c_str()));
    EXPECT_EQ(before, CurrentFolder());
    void** slots = reinterpret_cast<void**>(&Engine.api);
    for (int i = 0; i < kEngineApiSlots; ++i) EXPECT_NE(nullptr, slots[i]) << kEngineEntryNames[i];
    // The engine saw its own folder as the current one while it loaded.
    std::string engineFolder = folder.substr(0, folder.size() - 1);
    std::vector<std::string> attach = LinesStartingWith(SplitLines(ReadFileText(folder + "simengine.journal")), "Attach");
    ASSERT_EQ(1u, attach.size());
    EXPECT_EQ("Attach cwd=" + JournalEscape(engineFolder), attach[0]);
}

TEST_F(LoaderTest, ASecondLoadFreesTheFirstLibrary) {
    const std::string first = Copy("simengine/nalvoapi.dll", "first.dll");
    const std::string second = Copy("simengine/nalvoapi.dll", "second.dll");
    ASSERT_EQ(0, LoadSpeech(first.c_str()));
    ASSERT_NE(nullptr, GetModuleHandleA(first.c_str()));
    EXPECT_EQ(-1, LoadSpeech((folder + "gone.dll").c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleA(first.c_str()));
    ASSERT_EQ(0, LoadSpeech(first.c_str()));
    ASSERT_EQ(0, LoadSpeech(second.c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleA(first.c_str()));
    EXPECT_NE(nullptr, GetModuleHandleA(second.c_str()));
}

TEST(EngineSessionStart, StartValues) {
    EngineSessionReset();
    EXPECT_EQ(100, Engine.volume);
    EXPECT_EQ(50, Engine.rate);
    EXPECT_EQ(11, Engine.frequencyCode);
    EXPECT_EQ(-1, Engine.languageVoiceId);
    EXPECT_EQ(20, Engine.engineCount);
    EXPECT_EQ(0, Engine.initialised.load());
    void** slots = reinterpret_cast<void**>(&Engine.api);
    for (int i = 0; i < kEngineApiSlots; ++i) EXPECT_EQ(nullptr, slots[i]);
}

#endif  // _WIN32
