#include <climits>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "support/driver_fixture.h"
#include "support/files.h"
#include "voices/voices.h"

using CatalogueTest = DriverTest;

TEST_F(CatalogueTest, CodesAndIdentifiers) {
    struct Row {
        const char* name;
        int32_t language;
        const char* code;
        const char* identifier;
    } rows[] = {{"Anna", 49, "0049", "0049-Anna"},
                {"Zero", 0, "0000", "0000-Zero"},
                {"Neg", -7, "-007", "-007-Neg"},
                {"Big", 12345, "12345", "12345-Big"},
                {"Min", INT_MIN, "-2147483648", "-2147483648-Min"}};
    int i = 0;
    for (const Row& row : rows) {
        RegisterVoice(row.name, row.language, 10 + i, 1250);
        const VoiceRecord& record = Voices.records[i];
        const VoiceDescriptor& descriptor = Voices.descriptors[i];
        EXPECT_STREQ(row.code, record.languageCode) << row.name;
        EXPECT_STREQ(row.identifier, record.identifier) << row.name;
        EXPECT_STREQ(record.name, descriptor.name) << row.name;
        EXPECT_STREQ(record.languageCode, descriptor.language) << row.name;
        EXPECT_STREQ(record.identifier, descriptor.identifier) << row.name;
        EXPECT_EQ(10 + i, record.voiceId);
        EXPECT_EQ(1250, record.codePage);
        EXPECT_EQ(row.language, record.languageNumber);
        ++i;
    }
    EXPECT_EQ(i, Voices.catalogueCount);
}

TEST_F(CatalogueTest, GenderBytesAndAge) {
    struct Row {
        const char* name;
        const char* gender;  // profile value, or null for none
        uint8_t bytes[4];
    } rows[] = {{"None", nullptr, {0, 32, 0, 0}},
                {"Two", "2", {2, 32, 0, 0}},
                {"TwoFiftyEight", "258", {2, 32, 0, 0}},
                {"High", "65538", {2, 32, 1, 0}},
                {"Negative", "-1", {255, 32, 255, 255}}};
    for (const Row& row : rows) {
        if (row.gender) SetProfile("Gender", row.name, row.gender);
        RegisterVoice(row.name, 49, 0, 0);
        const VoiceDescriptor& d = Voices.descriptors[Voices.catalogueCount - 1];
        uint8_t bytes[4];
        memcpy(bytes, reinterpret_cast<const uint8_t*>(&d) + offsetof(VoiceDescriptor, gender), 4);  // 12 in the 32-bit driver
        EXPECT_EQ(0, memcmp(row.bytes, bytes, 4))
            << row.name << ": " << int(bytes[0]) << " " << int(bytes[1]) << " " << int(bytes[2]) << " " << int(bytes[3]);
    }
    EXPECT_EQ("0", Profile("Gender", "None"));  // a new name gains its key
}

TEST_F(CatalogueTest, LongNamesAreCutAndTheCapacityHolds) {
    const std::string longName(60, 'n');
    RegisterVoice(longName.c_str(), 49, 3, 0);
    EXPECT_EQ(std::string(39, 'n'), Voices.records[0].name);
    EXPECT_EQ("0049-" + std::string(39, 'n'), Voices.records[0].identifier);
    EXPECT_STREQ("0049", Voices.records[0].languageCode);
    EXPECT_EQ("0", Profile("Gender", longName.c_str()));  // looked up with the name as passed

    LogSetLevel(0);
    for (int i = 1; i < 205; ++i) RegisterVoice("V", 1, i, 0);
    EXPECT_EQ(kCatalogueCapacity, Voices.catalogueCount);
    EXPECT_STREQ(Voices.records[0].name, Voices.descriptors[0].name);
    EXPECT_EQ(199, Voices.records[199].voiceId);
    VoiceCatalogueClear();
    EXPECT_EQ(0, Voices.catalogueCount);
}

// A language text that cannot be a plain key is matched as given and never
// written: host input must not add sections or keys to the profile.
TEST_F(CatalogueTest, LanguageTextsThatAreNoPlainKeyLeaveTheProfileAlone) {
    SetProfile("L-Trans", "de", "0049");
    const std::string before = ReadFileText(folder + "kal.ini");
    const std::string hostile[] = {"x\r\n[Default]\r\nApi=evil.dll", "a=b", "[Default]", "; comment", "x]",
                                   std::string(256, 'k')};
    for (const std::string& text : hostile) {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        VoiceFilter filter{};
        filter.language = buffer.data();
        EXPECT_EQ(text, TranslateLanguage(&filter)) << text;
        EXPECT_EQ(text, std::string(buffer.data())) << text;
        EXPECT_EQ(before, ReadFileText(folder + "kal.ini")) << text;
    }
    // A plain key still gets its default written when it is missing.
    std::vector<char> plain = {'f', 'r', '\0'};
    VoiceFilter filter{};
    filter.language = plain.data();
    EXPECT_STREQ("0049", TranslateLanguage(&filter));
    EXPECT_EQ("0049", Profile("L-Trans", "fr"));
}

// The list is cleared behind its last entry only as far as a longer list
// filled it: every list must still read as if the whole array were cleared.
TEST_F(CatalogueTest, EachListEndsWithNullsWhateverListCameBefore) {
    const char* names[] = {"Anna", "Petra", "Daniel", "Tom", "Ewa"};
    for (int i = 0; i < 5; ++i) RegisterVoice(names[i], 49, i, 0);
    char daniel[] = "Daniel";
    VoiceFilter byName{};
    byName.name = daniel;
    struct Row {
        const char* label;
        VoiceFilter* filter;
        int listed;
    } rows[] = {{"all", nullptr, 5}, {"by name after all", &byName, 1}, {"all again", nullptr, 5},
                {"by name again", &byName, 1}};
    for (const Row& row : rows) {
        VoiceDescriptor** list = VoicesList(row.filter);
        for (int i = 0; i < row.listed; ++i) EXPECT_NE(nullptr, list[i]) << row.label << " entry " << i;
        for (int i = row.listed; i <= kCatalogueCapacity; ++i)
            ASSERT_EQ(nullptr, list[i]) << row.label << " entry " << i;
    }
}

// Protocol lines of the parameter calls, which format their details only when
// the protocol is on, per level.
TEST_F(CatalogueTest, ParameterLinesOnlyFromTheHostLevelOn) {
    struct Row {
        int level;
        size_t lines;
    } rows[] = {{0, 0}, {2, 0}, {3, 2}, {4, 2}};
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        LogSetLevel(row.level);
        ParamSet(1, 30, 0);
        EXPECT_EQ(30, ParamGet(1, 1)) << "level " << row.level;
        std::vector<std::string> lines = Protocol();
        ASSERT_EQ(row.lines, lines.size()) << "level " << row.level;
        if (row.lines == 0) continue;
        EXPECT_EQ("KAL_: SetParameter Para:1 Val:30 Relativ:0", lines[0]);
        EXPECT_EQ("KAL_: GetParameter P:1 C:1", lines[1]);
    }
}
