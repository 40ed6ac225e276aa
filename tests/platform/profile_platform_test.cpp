// The profile routines of the platform layer, one table for both builds: under
// Wine the rows run against the system's own routines, natively against
// posix.cpp, so a row that passes in both pins the POSIX layer to the system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/files.h"

namespace {
class ProfilePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = FreshFolder(std::string("ProfilePlatform.") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = folder + "p.ini";
    }
    std::string folder, path;
};

const char kFile[] =
    "[Default]\r\n"
    "Plain=value\r\n"
    "  Spaced   =   a b c   \r\n"
    "Double=\"quoted text\"\r\n"
    "Single='single'\r\n"
    "Open=\"open\r\n"
    "Empty=\r\n"
    "Equals=a=b=c\r\n"
    "NoValue\r\n"
    ";Comment=x\r\n"
    "Twice=first\r\n"
    "Twice=second\r\n"
    "Long=abcdefghij\r\n"
    "LongQuoted=\"abcdefghij\"\r\n"
    "[ Padded ]\r\n"
    "Key=padded\r\n"
    "[Unix]\n"
    "Lf=only\n"
    "[Numbers]\r\n"
    "Int=42\r\n"
    "Blank=   17\r\n"
    "Negative=-7\r\n"
    "Plus=+5\r\n"
    "Hex=0x10\r\n"
    "Trailing=12abc\r\n"
    "Word=abc\r\n"
    "Nothing=\r\n"
    "Max=4294967295\r\n"
    "Wrap=4294967297\r\n"
    "[default]\r\n"
    "Later=second section of the same name\r\n";
}  // namespace

TEST_F(ProfilePlatformTest, ReadingFollowsTheSystemsRules) {
    WriteFileText(path, kFile);
    struct Row {
        const char* label;
        const char* section;
        const char* key;
        const char* fallback;
        uint32_t size;
        const char* expected;
    } rows[] = {
        {"plain", "Default", "Plain", "d", 64, "value"},
        {"section and key in any case", "DEFAULT", "plain", "d", 64, "value"},
        {"blanks around key and value", "Default", "Spaced", "d", 64, "a b c"},
        {"blanks around the asked names", " Default ", " Plain ", "d", 64, "value"},
        {"double quotes stripped", "Default", "Double", "d", 64, "quoted text"},
        {"single quotes stripped", "Default", "Single", "d", 64, "single"},
        {"an unmatched quote stays", "Default", "Open", "d", 64, "\"open"},
        {"empty value", "Default", "Empty", "d", 64, ""},
        {"value holding =", "Default", "Equals", "d", 64, "a=b=c"},
        {"line without =", "Default", "NoValue", "d", 64, "d"},
        {"comment line is another key", "Default", "Comment", "d", 64, "d"},
        {"first of two keys", "Default", "Twice", "d", 64, "first"},
        {"cut to the buffer", "Default", "Long", "d", 5, "abcd"},
        {"buffer of one", "Default", "Long", "d", 1, ""},
        {"cut quoted value keeps no leading quote", "Default", "LongQuoted", "d", 5, "abcd"},
        {"padded section name", "Padded", "Key", "d", 64, "padded"},
        {"LF line ends", "Unix", "Lf", "d", 64, "only"},
        {"only the first section of a name", "Default", "Later", "d", 64, "d"},
        {"missing key", "Default", "Missing", "fallback", 64, "fallback"},
        {"missing section", "Nowhere", "Plain", "fallback", 64, "fallback"},
        {"fallback loses trailing blanks", "Default", "Missing", "fb  ", 64, "fb"},
        {"fallback cut to the buffer", "Default", "Missing", "nalvoapi.dll", 4, "nal"},
        {"null fallback", "Default", "Missing", nullptr, 64, ""},
    };
    for (const Row& row : rows) {
        char out[80];
        memset(out, '#', sizeof out);
        const uint32_t n = PlatformProfileGetString(row.section, row.key, row.fallback, out, row.size, path.c_str());
        EXPECT_STREQ(row.expected, out) << row.label;
        EXPECT_EQ(strlen(row.expected), n) << row.label;
        for (size_t i = row.size; i < sizeof out; ++i) ASSERT_EQ('#', out[i]) << row.label << " wrote past its buffer";
    }
    char out[16] = "untouched";
    EXPECT_EQ(0u, PlatformProfileGetString("Default", "Plain", "d", out, 0, path.c_str()));
    EXPECT_STREQ("untouched", out);
    EXPECT_EQ(3u, PlatformProfileGetString("Default", "Plain", "abc", out, sizeof out, (folder + "none.ini").c_str()));
    EXPECT_STREQ("abc", out);
}

TEST_F(ProfilePlatformTest, NumbersFollowTheSystemsRules) {
    WriteFileText(path, kFile);
    struct Row {
        const char* label;
        const char* key;
        int32_t expected;
    } rows[] = {
        {"decimal", "Int", 42},          {"leading blanks", "Blank", 17}, {"negative", "Negative", -7},
        {"plus sign", "Plus", 5},        {"hex prefix", "Hex", 16},       {"stops at a letter", "Trailing", 12},
        {"no digits", "Word", 0},        {"empty", "Nothing", 99},        {"missing", "Missing", 99},
        {"all bits", "Max", -1},         {"wraps at 32 bits", "Wrap", 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.expected, PlatformProfileGetInt("Numbers", row.key, 99, path.c_str())) << row.label;
    EXPECT_EQ(-5, PlatformProfileGetInt("Numbers", "Int", -5, (folder + "none.ini").c_str()));
}

TEST_F(ProfilePlatformTest, WritingCreatesOrReplacesAndKeepsTheRest) {
    struct Row {
        const char* label;
        const char* before;  // null: no file
        const char* section;
        const char* key;
        const char* value;
        // Every key=value the file then has, section by section, in order.
        const char* after;
    } rows[] = {
        {"creates the file", nullptr, "Default", "DEBUG", "0", "[Default]|DEBUG=0|"},
        {"adds a section at the end", "[A]\r\nx=1\r\n", "B", "y", "2", "[A]|x=1|[B]|y=2|"},
        {"adds a key to its section", "[A]\r\nx=1\r\n[B]\r\nz=3\r\n", "A", "y", "2", "[A]|x=1|y=2|[B]|z=3|"},
        {"replaces in any case", "[A]\r\nKey=old\r\nz=3\r\n", "a", "KEY", "new", "[A]|Key=new|z=3|"},
        {"replaces the first of two", "[A]\r\nk=1\r\nk=2\r\n", "A", "k", "9", "[A]|k=9|k=2|"},
        {"LF file", "[A]\nx=1\n", "A", "x", "5", "[A]|x=5|"},
    };
    for (const Row& row : rows) {
        if (row.before) WriteFileText(path, row.before);
        else std::remove(path.c_str());
        EXPECT_TRUE(PlatformProfileWriteString(row.section, row.key, row.value, path.c_str())) << row.label;
        std::string shape;
        for (const std::string& line : SplitLines(ReadFileText(path))) {
            std::string compact;
            for (char c : line)
                if (c != ' ') compact += c;
            if (!compact.empty()) shape += compact + "|";
        }
        EXPECT_EQ(row.after, shape) << row.label;
        char out[32];
        PlatformProfileGetString(row.section, row.key, "missing", out, sizeof out, path.c_str());
        EXPECT_STREQ(row.value, out) << row.label;
    }
    EXPECT_FALSE(PlatformProfileWriteString("A", "k", "v", (folder + "no\\such\\folder\\p.ini").c_str()));
}

// How lines split and headers close: a CR alone ends a line, a header is closed
// by its last ']', and a '[' line without one is read as a key.
TEST_F(ProfilePlatformTest, LinesAndHeadersSplitAsTheSystemReadsThem) {
    struct Row {
        const char* label;
        const char* file;
        const char* section;
        const char* key;
        const char* expected;
    } rows[] = {
        {"a lone CR ends a line", "[S]\rK=v\r", "S", "K", "v"},
        {"CR LF after a lone CR", "[S]\rA=1\r\nK=v\r\n", "S", "K", "v"},
        {"the last ] closes the header", "[a]b]\r\nK=v\r\n", "a]b", "K", "v"},
        {"text after the header is dropped", "[S] tail\r\nK=v\r\n", "S", "K", "v"},
        {"an unclosed header is a key of the section before", "[P]\r\n[unclosed\r\nK=v\r\n", "P", "K", "v"},
        {"and opens no section", "[P]\r\n[unclosed\r\nK=v\r\n", "unclosed", "K", "fallback"},
    };
    for (const Row& row : rows) {
        WriteFileText(path, row.file);
        char out[32];
        memset(out, '#', sizeof out);
        PlatformProfileGetString(row.section, row.key, "fallback", out, sizeof out, path.c_str());
        EXPECT_STREQ(row.expected, out) << row.label;
    }
}

// Writing the value a key already has leaves the file's bytes as they are.
TEST_F(ProfilePlatformTest, WritingTheSameValueLeavesTheFileAlone) {
    const char before[] = "[A]\r\n  k =  1\r\n\r\nz=2\r\n";
    WriteFileText(path, before);
    EXPECT_TRUE(PlatformProfileWriteString("A", "k", "1", path.c_str()));
    EXPECT_EQ(before, ReadFileText(path));
    EXPECT_TRUE(PlatformProfileWriteString("A", "k", "3", path.c_str()));
    char out[8];
    PlatformProfileGetString("A", "k", "", out, sizeof out, path.c_str());
    EXPECT_STREQ("3", out);
}
