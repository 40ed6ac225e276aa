// The module's own path and its folder, as the core cuts it: in the system's
// own form, so that the protocol shows a path its user knows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

TEST(ModulePath, IsAbsoluteInTheSystemsFormAndHasAFolder) {
    char path[4096];
    ASSERT_GT(PlatformOwnModuleFileName(path, sizeof path), 0u);
#if defined(_WIN32)
    EXPECT_EQ(path[1], ':') << path;
    EXPECT_EQ(strchr(path, '/'), nullptr) << path;
#else
    EXPECT_EQ(path[0], '/') << path;
    EXPECT_EQ(strchr(path, '\\'), nullptr) << path << ": Windows separators in a native path";
#endif
    char* last = PlatformLastSeparator(path);
    ASSERT_NE(last, nullptr) << path;
    EXPECT_NE(std::string(last + 1).find("kal_unit_tests"), std::string::npos) << path;
}

TEST(ModulePath, TheLastSeparatorIsTheSystems) {
    struct Row {
        const char* path;
        int at;  // -1: none
    } rows[] = {
        {"C:\\a\\b.dll", 4},
        {"noseparator", -1},
        {"", -1},
#if !defined(_WIN32)
        {"/usr/lib/kal/libkal_drv.so", 12},
        {"/a\\b/c", 4},  // a Windows-style name read as a folder, as the routines here read it
        {"/a/b\\c", 4},
#endif
    };
    for (const Row& row : rows) {
        std::string text = row.path;
        char* last = PlatformLastSeparator(&text[0]);
        EXPECT_EQ(last ? static_cast<int>(last - &text[0]) : -1, row.at) << row.path;
    }
}
