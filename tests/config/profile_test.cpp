#include <cstring>

#include "config/config.h"
#include "support/driver_fixture.h"

using ProfileTest = DriverTest;

TEST_F(ProfileTest, MissingAndEmptyKeysGiveTheDefaultAndWriteIt) {
    SetProfile("Default", "Empty", "");
    struct Row {
        const char* key;
        int32_t fallback;
    } rows[] = {{"Missing", 7}, {"Empty", -3}};
    for (const Row& row : rows) {
        int32_t value = 12345;
        EXPECT_EQ(1, ProfileGetInt(row.key, &value, row.fallback, "Default")) << row.key;
        EXPECT_EQ(row.fallback, value) << row.key;
        EXPECT_EQ(std::to_string(row.fallback), Profile("Default", row.key)) << row.key;
    }
}

TEST_F(ProfileTest, PresentKeysAreReadAndNotRewritten) {
    SetProfile("S", "Number", "42");
    SetProfile("S", "Junk", "abc");
    SetProfile("S", "Text", "Hallo Welt");
    int32_t value = 0;
    EXPECT_EQ(0, ProfileGetInt("Number", &value, 7, "S"));
    EXPECT_EQ(42, value);
    // Present but not a number: whatever the system makes of it, and it stays.
    EXPECT_EQ(0, ProfileGetInt("Junk", &value, 7, "S"));
    EXPECT_EQ("abc", Profile("S", "Junk"));
    char text[32];
    EXPECT_EQ(0, ProfileGetString("Text", text, sizeof text, "x", "S"));
    EXPECT_STREQ("Hallo Welt", text);
    EXPECT_EQ(1, ProfileHasKey("Text", "S"));
    EXPECT_EQ(0, ProfileHasKey("Nothing", "S"));
}

TEST_F(ProfileTest, ValuesAreCutToTheCallersBufferAndNothingPastIt) {
    const std::string longValue(3000, 'v');
    SetProfile("S", "Long", longValue.c_str());
    struct Row {
        size_t size;
        size_t expected;
    } rows[] = {{1, 0}, {8, 7}, {80, 79}, {4096, 2047}};
    for (const Row& row : rows) {
        std::string buffer(row.size + 16, '#');
        ProfileGetString("Long", &buffer[0], static_cast<uint32_t>(row.size), "d", "S");
        EXPECT_EQ(row.expected, strlen(buffer.c_str())) << "buffer " << row.size;
        EXPECT_EQ(std::string(16, '#'), buffer.substr(row.size)) << "buffer " << row.size;
    }
    // The default is cut the same way when the key is missing.
    char small[4];
    EXPECT_EQ(1, ProfileGetString("New", small, sizeof small, "nalvoapi.dll", "S"));
    EXPECT_STREQ("nal", small);
    EXPECT_EQ("nalvoapi.dll", Profile("S", "New"));
}

TEST_F(ProfileTest, AnUnwritableProfileStillGivesTheDefault) {
    ProfileSetPath((folder + "no\\such\\folder\\kal.ini").c_str());
    int32_t value = 0;
    EXPECT_EQ(1, ProfileGetInt("DEBUG", &value, 5, "Default"));
    EXPECT_EQ(5, value);
    char text[16];
    EXPECT_EQ(1, ProfileGetString("Api", text, sizeof text, "nalvoapi.dll", "Default"));
    EXPECT_STREQ("nalvoapi.dll", text);
}
