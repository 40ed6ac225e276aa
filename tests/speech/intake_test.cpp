#include <cstring>
#include <random>

#include "config/config.h"
#include "voices/voices.h"
#include "speech_support.h"
#include "support/text16.h"

using IntakeTest = SpeechTest;

namespace {
template <typename Text>
Text Repeat(const Text& unit, size_t times) {
    Text text;
    for (size_t i = 0; i < times; ++i) text += unit;
    return text;
}
std::string Repeat(const char* unit, size_t times) { return Repeat(std::string(unit), times); }
Text16 Repeat(const kal_char16* unit, size_t times) { return Repeat(Text16(unit), times); }

// Long texts: sizes and the first difference instead of the whole texts.
::testing::AssertionResult Same(const std::string& expected, const char* actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << strlen(actual)
                                         << ", first difference at " << at;
}
}  // namespace

// The session is not initialised: every text is taken at once and stays in its slot.
TEST_F(IntakeTest, SynthLogsTheMarkInHexAndQueuesTheText) {
    struct Row { int32_t mark; const char* line; };
    const Row rows[] = {{26, "KAL_: kal_Synth  001A Hallo"}, {-1, "KAL_: kal_Synth  FFFFFFFF Hallo"}};
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        IntakeSynth(T16("Hallo"), row.mark);
        EXPECT_EQ(row.line, Protocol().at(0)) << row.mark;
        EXPECT_STREQ("Hallo", LastSlot().text) << row.mark;
        EXPECT_EQ(row.mark, LastSlot().mark) << row.mark;
    }
    IntakeSynth(T16(""), 12);
    EXPECT_STREQ("", LastSlot().text);
    EXPECT_EQ(12, LastSlot().mark);
    // No text: the call shows in the protocol and nothing is queued.
    IntakeSynth(nullptr, 3);
    EXPECT_EQ(3, Queue.writeIndex);
    EXPECT_EQ(3u, Lines("KAL_: kal_Synth").size());
}

TEST_F(IntakeTest, SynthConvertsIntoTheCurrentCodePage) {
    const std::string big1252 = std::string(4095, 'a');
    char system[16];  // no voice selected yet: the system's ANSI code page
    ASSERT_GT(PlatformWideToCodePage(0, T16("\u00E4\u00DF\u00E9"), -1, system, sizeof system), 0);
    struct Row { const char* label; int32_t codePage; Text16 text; std::string expected; };
    const Row rows[] = {
        {"system", 0, T16("\u00E4\u00DF\u00E9"), system},
        {"1252", 1252, T16("Gr\u00FC\u00DFe \u20AC"), "Gr\xFC\xDF" "e \x80"},
        {"1250", 1250, T16("\u0141\u00F3d\u017A \u0151"), "\xA3\xF3" "d\x9F \xF5"},
        {"1252 lacks it", 1252, T16("a\u3042b"), "a?b"},
        {"932", 932, T16("\u65E5\u672C"), "\x93\xFA\x96\x7B"},
        {"65001", 65001, T16("\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80"},
        {"lone surrogate 1252", 1252, Text16(T16("a")) + kal_char16(0xD800) + T16("b"), "a?b"},
        {"lone surrogate 65001", 65001, Text16(T16("a")) + kal_char16(0xDC00), "a\xEF\xBF\xBD"},
        {"unknown code page", 12345, T16("Hallo"), ""},
        {"fits exactly", 1252, Text16(4095, T16('a')), big1252},
        {"one too many", 1252, Text16(4096, T16('a')), big1252},
        {"long 1252", 1252, Text16(5000, T16('a')), big1252},
        {"932 cut between characters", 932, Repeat(T16("\u65E5"), 2100), Repeat("\x93\xFA", 2047)},
        {"932 odd room", 932, T16("a") + Repeat(T16("\u65E5"), 2100), "a" + Repeat("\x93\xFA", 2047)},
        {"65001 three bytes", 65001, Repeat(T16("\u3042"), 1400), Repeat("\xE3\x81\x82", 1365)},
        // 1023 pairs take 4092 bytes; half a pair would still fit.
        {"65001 pairs kept whole", 65001, Repeat(T16("\U0001F600"), 1100), Repeat("\xF0\x9F\x98\x80", 1023)},
    };
    for (const Row& row : rows) {
        IntakeSetCodePage(row.codePage);
        memset(Queue.slots, 'J', sizeof Queue.slots);
        Queue.writeIndex = 0;
        IntakeSynth(row.text.c_str(), 1);
        ASSERT_NE(nullptr, memchr(Queue.slots[0].text, 0, kTextSize)) << row.label;
        EXPECT_TRUE(Same(row.expected, Queue.slots[0].text)) << row.label;
    }
}

TEST_F(IntakeTest, SynthMarkSpeaksWhatFollowsTheFirstOccurrence) {
    const std::string x4095(4095, 'x');
    struct Row { const char* label; std::string text; const char* marker; int32_t codePage; std::string expected; };
    const Row rows[] = {
        {"found", "Hallo Welt", "Hallo ", 1252, "Welt"},
        {"twice", "a:b:c", ":", 1252, "b:c"},
        {"at the end", "Hallo Welt", "Welt", 1252, ""},
        {"overlaps the end", "abcde", "def", 1252, "abcde"},
        {"not found", "abcde", "X", 1252, "abcde"},
        {"empty marker", "abcde", "", 1252, "abcde"},
        {"null marker", "abcde", nullptr, 1252, "abcde"},
        {"case counts", "Hallo Welt", "hallo ", 1252, "Hallo Welt"},
        {"long, not found", std::string(5000, 'y'), "X", 1252, std::string(4095, 'y')},
        {"ends on 4094", x4095.substr(1) + "M" + "rest", "M", 1252, "re"},
        {"ends on 4095", x4095 + "M" + "rest", "M", 1252, "r"},
        {"ends beyond 4096", x4095 + "MM" + "rest", "MM", 1252, ""},
        {"window", std::string(4000, 'x') + "M" + std::string(200, 'z'), "M", 1252, std::string(96, 'z')},
        {"932 window is odd", "abcM" + Repeat("\x93\xFA", 3000), "M", 932, Repeat("\x93\xFA", 2046)},
        {"65001 window", std::string(3000, 'x') + "M" + Repeat("\xE3\x81\x82", 400), "M", 65001,
         Repeat("\xE3\x81\x82", 365)},
        {"932 long, not found", Repeat("\x93\xFA", 3000), "X", 932, Repeat("\x93\xFA", 2047)},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        IntakeSetCodePage(row.codePage);
        IntakeSynthMark(row.text.c_str(), row.marker, 5);
        EXPECT_TRUE(Same(row.expected, LastSlot().text)) << row.label;
        EXPECT_EQ(5, LastSlot().mark) << row.label;
        if (row.expected.size() < 100) {
            EXPECT_EQ("KAL_: Synth_Mark " + row.expected, Protocol().at(0)) << row.label;
        }
    }
}

TEST_F(IntakeTest, KeyAndCharQueueWithMarkZeroAndCharNamesComeFromTheProfile) {
    IntakeKey("Enter");
    EXPECT_STREQ("Enter", LastSlot().text);
    EXPECT_EQ(0, LastSlot().mark);
    EXPECT_EQ("KAL_: Key Enter", Protocol().at(0));
    IntakeKey(std::string(5000, 'k').c_str());
    EXPECT_TRUE(Same(std::string(4095, 'k'), LastSlot().text));

    struct Row { int32_t code; const char* key; const char* profile; const char* spoken; };  // profile null: no entry
    const Row rows[] = {{0x20, "0020", nullptr, "0020"},
                        {0x7FFF0020, "0020", nullptr, "0020"},  // written by the row before
                        {static_cast<int32_t>(0xFFFF0041), "0041", "Ah", "Ah"},
                        {0x1ABCD, "ABCD", "Zett", "Zett"}};
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        if (row.profile) SetProfile("CharName", row.key, row.profile);
        IntakeChar(row.code);
        EXPECT_STREQ(row.spoken, LastSlot().text) << row.key;
        EXPECT_EQ(0, LastSlot().mark) << row.key;
        EXPECT_EQ(row.profile ? row.profile : row.key, Profile("CharName", row.key)) << row.key;
        EXPECT_EQ(std::string("KAL_: Key ") + row.spoken, Protocol().at(0)) << row.key;
    }
}

// Random texts around the size of TextBuffer: whatever is queued is terminated,
// fits, is a prefix of the full text and never ends inside a character.
TEST_F(IntakeTest, FuzzedTextsAlwaysFitAndEndOnACharacter) {
    LogSetLevel(0);
    std::mt19937 random(20240611);
    const int32_t codePages[] = {0, 1250, 1252, 932, 65001};
    const kal_char16 pool[] = {T16('a'), T16(' '), T16('M'), T16('\u00E4'), T16('\u0151'), T16('\u20AC'), T16('\u3042'), T16('\u65E5'), T16('\uFF76'), 0xD83D, 0xDE00};
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    for (int round = 0; round < 3000; ++round) {
        const int32_t codePage = codePages[pick(5)];
        IntakeSetCodePage(codePage);
        const int lengths[] = {4094, 4095, 4096, 4097, 1365 + pick(20), 2047 + pick(3), pick(50)};
        const int length = lengths[pick(7)];
        Text16 wide;
        const int alphabet = 2 + pick(9);
        for (int i = 0; i < length; ++i) {
            const int at = pick(alphabet + 1);
            if (at < 9) wide += pool[at];
            else if (pick(8)) wide += T16("\U0001F600");
            else wide += pool[9 + pick(2)];  // a lone surrogate now and then
        }
        std::vector<char> full(4 * wide.size() + 8);
        PlatformWideToCodePage(codePage, wide.c_str(), -1, full.data(), static_cast<int32_t>(full.size()));
        std::string source(full.data());
        size_t start = 0;
        const int route = pick(3);
        if (route == 0) {
            IntakeSynth(wide.c_str(), round);
        } else if (route == 1) {
            const size_t at = source.empty() ? 0 : pick(source.size());
            const std::string marker = source.substr(at, 1 + pick(3));
            IntakeSynthMark(source.c_str(), marker.c_str(), round);
            const size_t found = source.find(marker);
            start = marker.empty() || found == std::string::npos ? 0 : found + marker.size();
        } else {
            IntakeKey(source.c_str());
        }
        const std::string label = "round " + std::to_string(round) + " route " + std::to_string(route) +
                                  " code page " + std::to_string(codePage);
        const char* queued = LastSlot().text;
        ASSERT_NE(nullptr, memchr(queued, 0, kTextSize)) << label;
        const size_t size = strlen(queued);
        ASSERT_LE(size, 4095u) << label;
        const std::string rest = start > 4096 ? "" : source.substr(start);
        ASSERT_TRUE(Same(rest.substr(0, size), queued)) << label;
        // The room: 4095 bytes, and for Synth_Mark nothing past position 4096.
        const size_t room = std::min<size_t>(4095, 4097 - std::min<size_t>(start, 4097));
        if (rest.size() <= room) {
            ASSERT_EQ(rest.size(), size) << label;
            continue;
        }
        ASSERT_GE(size + 4, room + 1) << label << ": cut shorter than needed";
        // The cut lies on a character boundary of what follows the start.
        if (codePage == 65001) {
            ASSERT_NE(0x80, rest[size] & 0xC0) << label << ": cut inside a character at " << size;
        } else {
            size_t end = 0;
            while (end < size) end += PlatformIsLeadByte(codePage, static_cast<unsigned char>(rest[end])) ? 2 : 1;
            ASSERT_EQ(size, end) << label << ": cut inside a character";
        }
    }
}
