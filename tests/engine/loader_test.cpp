// Loads the built simulated engine DLL: Windows only.
#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <regex>

#include "engine/engine.h"
#include "support/driver_fixture.h"
#include "support/files.h"

namespace {
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
    EXPECT_EQ(Outcome::LibraryMissing, LoadSpeech(path.c_str()));
    EXPECT_EQ(nullptr, Engine.engineLibrary);
    EXPECT_EQ(before, CurrentFolder());
    std::vector<std::string> expected = {"KAL : LoadSpeech " + path, "ERR:: Konnte die Datei nicht finden: " + path};
    EXPECT_EQ(expected, Protocol());
}

// The host's current folder is given back whatever its length: the ANSI calls
// fail beyond 259 characters (hosts were seen in folders of 265 to 1,526).
TEST_F(LoaderTest, TheHostsCurrentFolderIsGivenBackWhateverItsLength) {
    const std::string path = Copy("simengine/nalvoapi.dll", "nalvoapi.dll");
    std::wstring original(32768, L'\0');
    original.resize(GetCurrentDirectoryW(static_cast<DWORD>(original.size()), &original[0]));
    for (size_t length : {200u, 265u, 600u}) {
        // Folders of 50-character names below the test's own, to about that length.
        std::wstring hostFolder(folder.begin(), folder.end());
        while (hostFolder.size() < length) {
            hostFolder += std::wstring(std::min<size_t>(50, length - hostFolder.size() + 1), L'd') + L"\\";
            CreateDirectoryW((L"\\\\?\\" + hostFolder).c_str(), nullptr);
        }
        hostFolder.pop_back();  // as the system gives it: no closing backslash
        ASSERT_TRUE(SetCurrentDirectoryW(hostFolder.c_str())) << length;
        EXPECT_EQ(Outcome::Ok, LoadSpeech(path.c_str())) << length;
        ReleaseEngineLibrary();
        std::wstring after(32768, L'\0');
        after.resize(GetCurrentDirectoryW(static_cast<DWORD>(after.size()), &after[0]));
        EXPECT_TRUE(after == hostFolder) << "a folder of " << hostFolder.size() << " characters was not given back";
    }
    SetCurrentDirectoryW(original.c_str());
}

TEST_F(LoaderTest, AFileThatIsNoLibraryGivesTheErrorCode) {
    const std::string before = CurrentFolder();
    const std::string path = Copy("simengine/notalib.dll", "nalvoapi.dll");
    EXPECT_EQ(Outcome::LibraryNotLoadable, LoadSpeech(path.c_str()));
    EXPECT_EQ(nullptr, Engine.engineLibrary);
    EXPECT_EQ(before, CurrentFolder());
    std::vector<std::string> lines = Protocol();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("DLL : " + before + " " + folder, lines[1]);  // no ModuleFolder set: the fixture's folder
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("ERR:: Fehlercode: [0-9A-F]{4,}"))) << lines[2];
}

TEST_F(LoaderTest, ALibraryLackingOneNameStaysLoadedWithThatSlotEmpty) {
    const std::string path = Copy("simengine/nalvoapi_missing.dll", "nalvoapi.dll");
    EXPECT_EQ(Outcome::EntryPointMissing, LoadSpeech(path.c_str()));
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
    EXPECT_EQ(Outcome::Ok, LoadSpeech(path.c_str()));
    EXPECT_EQ(before, CurrentFolder());
    void** slots = reinterpret_cast<void**>(&Engine.api);
    for (int i = 0; i < kEngineApiSlots; ++i) EXPECT_NE(nullptr, slots[i]) << kEngineEntryNames[i];
    // The engine saw its own folder as the current one while it loaded.
    std::string engineFolder = folder.substr(0, folder.size() - 1);
    std::vector<std::string> attach = LinesStartingWith(SplitLines(ReadFileText(folder + "simengine.journal")), "Attach");
    ASSERT_EQ(1u, attach.size());
    EXPECT_EQ("Attach cwd=" + JournalEscape(engineFolder), attach[0]);
}

TEST_F(LoaderTest, EachSlotHoldsTheEntryPointOfItsOwnName) {
    const std::string path = Copy("simengine/nalvoapi.dll", "nalvoapi.dll");
    ASSERT_EQ(Outcome::Ok, LoadSpeech(path.c_str()));
    HMODULE module = static_cast<HMODULE>(Engine.engineLibrary);
    auto entry = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    const void* const* slots = reinterpret_cast<const void* const*>(&Engine.api);
    for (int i = 0; i < kEngineApiSlots; ++i) EXPECT_EQ(entry(kEngineEntryNames[i]), slots[i]) << kEngineEntryNames[i];
    // By field: a row whose name and field disagree (pause bound to the resume
    // name) would pass the positional check above.
    struct Row {
        const char* name;
        void* slot;
    };
    const Row rows[] = {
        {"ssft_ttsInitialize", reinterpret_cast<void*>(Engine.api.initialize)},
        {"ssft_ttsOpen", reinterpret_cast<void*>(Engine.api.open)},
        {"ssft_ttsClose", reinterpret_cast<void*>(Engine.api.close)},
        {"ssft_ttsStop", reinterpret_cast<void*>(Engine.api.stop)},
        {"ssft_ttsPause", reinterpret_cast<void*>(Engine.api.pause)},
        {"ssft_ttsResume", reinterpret_cast<void*>(Engine.api.resume)},
        {"ssft_ttsSetText", reinterpret_cast<void*>(Engine.api.setText)},
        {"ssft_ttsSpeak", reinterpret_cast<void*>(Engine.api.speak)},
        {"ssft_ttsGetVoiceList", reinterpret_cast<void*>(Engine.api.getVoiceList)},
        {"ssft_ttsUnloadDictionary", reinterpret_cast<void*>(Engine.api.unloadDictionary)},
    };
    for (const Row& row : rows) {
        EXPECT_NE(nullptr, row.slot) << row.name;
        EXPECT_EQ(entry(row.name), row.slot) << row.name;
    }
}

TEST_F(LoaderTest, ASecondLoadFreesTheFirstLibrary) {
    const std::string first = Copy("simengine/nalvoapi.dll", "first.dll");
    const std::string second = Copy("simengine/nalvoapi.dll", "second.dll");
    ASSERT_EQ(Outcome::Ok, LoadSpeech(first.c_str()));
    ASSERT_NE(nullptr, GetModuleHandleA(first.c_str()));
    EXPECT_EQ(Outcome::LibraryMissing, LoadSpeech((folder + "gone.dll").c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleA(first.c_str()));
    ASSERT_EQ(Outcome::Ok, LoadSpeech(first.c_str()));
    ASSERT_EQ(Outcome::Ok, LoadSpeech(second.c_str()));
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

// A host whose current folder is longer than the driver's paths gets it back all the same.
TEST_F(LoaderTest, ALongCurrentFolderIsRestored) {
    const std::string path = Copy("simengine/nalvoapi.dll", "nalvoapi.dll");
    const std::string before = CurrentFolder();
    std::string deep = folder;
    while (deep.size() < 230) {
        deep += std::string(std::min<size_t>(20, 249 - deep.size()), 'd') + "\\";
        CreateDirectoryA(deep.c_str(), nullptr);
    }
    for (size_t length : {255u, 258u}) {
        std::string current = deep + std::string(length - deep.size(), 'x');
        ASSERT_TRUE(CreateDirectoryA(current.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(SetCurrentDirectoryA(current.c_str())) << length;
        char buffer[1024];
        ASSERT_EQ(length, GetCurrentDirectoryA(sizeof buffer, buffer));
        EXPECT_EQ(Outcome::Ok, LoadSpeech(path.c_str())) << length;
        GetCurrentDirectoryA(sizeof buffer, buffer);
        EXPECT_EQ(current, std::string(buffer)) << length;
    }
    SetCurrentDirectoryA(before.c_str());
}

#endif  // _WIN32
