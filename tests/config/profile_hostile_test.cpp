// kal.ini as other programs treat it while the driver starts: held open without
// sharing (an editor saving, a backup, a virus scanner), or on a disk with no
// room left. The user's values survive both. The threaded engine library plays
// the engine; the start-up is kal_Initialize's.
#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include <atomic>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "kal_drv.h"
#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "support/engine_library.h"
#include "support/files.h"

namespace {
// What the user set, over the defaults a first start-up wrote (Windows only: the
// test that needs it holds files without sharing).
[[maybe_unused]] void SetUsersValues(const std::string& folder) {
    WriteProfileValue(folder, "Default", "Rate", "65");
    WriteProfileValue(folder, "Default", "Freq", "22");
    WriteProfileValue(folder, "Nalvo Deutsch Anna", "Name", "Anna");
}

class ProfileHostileTest : public EngineLibraryTest {};
}  // namespace

// Another process holds kal.ini without sharing, again and again, while the
// driver starts: afterwards the file is exactly as the user left it, and the
// user's voice name is found. Before, the start-up took the file for one without
// keys and wrote the defaults over the user's values.
TEST_F(ProfileHostileTest, AProfileHeldByAnotherProgramKeepsTheUsersValues) {
#if !defined(_WIN32)
    GTEST_SKIP() << "files are held without sharing only on Windows";
#else
    const struct {
        const char* label;
        uint32_t heldMs, freeMs;
        bool voiceFound;  // the start-up could read the file
    } rows[] = {{"held 20 ms at a time", 20, 5, true}, {"held through the whole start-up", 3000, 0, false}};
    for (const auto& row : rows) {
        ASSERT_TRUE(Start()) << row.label;
        kal_Terminate();
        SetUsersValues(folder);
        ASSERT_TRUE(Start()) << row.label;  // writes the keys the user's values call for
        kal_Terminate();
        const std::string path = folder + "kal.ini", before = ReadFileText(path);
        std::atomic<bool> stop{false}, held{false};
        std::thread holder([&] {
            const uint32_t started = PlatformTickCount();
            while (!stop.load() && PlatformTickCount() - started < 5000) {
                HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
                held = true;
                Sleep(row.heldMs);
                if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
                Sleep(row.freeMs);
            }
        });
        while (!held.load()) Sleep(1);
        kal_Initialize();
        stop = true;
        holder.join();
        EXPECT_EQ(before, ReadFileText(path)) << row.label;
        if (row.voiceFound) {
            EXPECT_EQ(0, kal_SetVoiceByName("Anna")) << row.label;
            EXPECT_STREQ("Anna", kal_GetCurrentVoice()->name) << row.label;
        }
        kal_Terminate();
    }
#endif
}

// The start-up's rewrite of kal.ini (it adds the keys it found missing) on a disk
// with no room, or room for a few bytes: the user's file is left as it was, and
// nothing else is left beside it. Before, the file was cut short.
TEST_F(ProfileHostileTest, ARewriteWithoutRoomLeavesTheProfileAsItWas) {
    const struct {
        const char* label;
        int64_t room;
    } rows[] = {{"no room", 0}, {"room for 40 bytes", 40}};
    for (const auto& row : rows) {
        const std::string path = folder + "kal.ini";
        const std::string users = "[Default]\r\nRate=65\r\nFreq=22\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\n";
        WriteFileText(path, users);
        PlatformTestingSetWriteRoom(folder.c_str(), row.room);
        const bool started = kal_Initialize() != -1;
        PlatformTestingSetWriteRoom(nullptr, -1);
        EXPECT_TRUE(started) << row.label;
        EXPECT_EQ(users, ReadFileText(path)) << row.label;
        EXPECT_FALSE(FileExists(path + ".neu")) << row.label;
        kal_Terminate();
    }
    // With room again, the next start-up writes the missing keys and keeps the user's.
    ASSERT_TRUE(Start());
    EXPECT_EQ("65", ReadProfileValue(folder, "Default", "Rate"));
    EXPECT_EQ("nalvoapi.dll", ReadProfileValue(folder, "Default", "Api"));
    EXPECT_EQ("0", ReadProfileValue(folder, "Gender", "Anna"));
}
