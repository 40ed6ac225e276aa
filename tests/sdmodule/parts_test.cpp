// The module's parts that need no driver: SSML into pieces and marks, voice
// choice, kal.conf and the profile's character names.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sdmodule/settings.h"
#include "sdmodule/ssml.h"
#include "sdmodule/voices.h"

namespace {
std::string Utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '#';
    return out;
}

// A message as "[marks]text|[marks]text|...|[marks after]".
std::string Describe(const SpokenMessage& message) {
    std::string out;
    auto marks = [&](const std::vector<std::string>& names) {
        out += "[";
        for (size_t k = 0; k < names.size(); ++k) out += (k ? "," : "") + names[k];
        out += "]";
    };
    for (const Segment& segment : message.segments) {
        marks(segment.marksBefore);
        out += Utf8(segment.text) + "|";
    }
    marks(message.marksAfter);
    return out;
}

TEST(SsmlTest, MarksCutTheTextAndGoWithThePieceAfterThem) {
    const struct {
        const char* ssml;
        const char* expected;
    } rows[] = {
        {"<speak>Hello</speak>", "[]Hello|[]"},
        {"<speak>One.<mark name=\"__spd_0\"/> Two.</speak>", "[]One.|[__spd_0] Two.|[]"},
        {"<speak><mark name='a'/>x<mark name=\"b\"/></speak>", "[a]x|[b]"},
        // Marks with no text between them go together; blank pieces are no texts.
        {"<speak>x<mark name=\"a\"/> <mark name=\"b\"/>y</speak>", "[]x|[a,b]y|[]"},
        {"<speak><mark name=\"a\"/><mark name=\"b\"/></speak>", "[a,b]"},
        {"<speak>  </speak>", "[]"},
        // Entities; other tags keep their text and part words.
        {"<speak>a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos; &#65;&#x42; &bogus; &</speak>",
         "[]a <b> & \"c\" 'd' AB &bogus; &|[]"},
        {"<speak><prosody rate=\"fast\">fast</prosody><break/>slow</speak>", "[]fast slow|[]"},
        // A mark's name keeps what speech-dispatcher gave; a tag without a name is no mark.
        {"<speak>a<mark name=\"x y\"/>b<mark/>c<marker name=\"z\"/>d</speak>", "[]a|[x y]b c d|[]"},
        // A tag cut off at the end: nothing after it is text.
        {"<speak>a<mark name=\"x\"", "[]a|[]"},
        {"caf\xc3\xa9 \xff", "[]caf# #|[]"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.expected, Describe(ParseSsml(row.ssml))) << row.ssml;
}

TEST(SsmlTest, LongTextsAreCutAtBlanksWithinTheDriversLimit) {
    std::string word = "abcdefghi ";
    std::string text;
    while (text.size() < 3 * kSegmentUnitsMax) text += word;
    const SpokenMessage message = ParseSsml("<speak><mark name=\"m\"/>" + text + "</speak>");
    ASSERT_EQ(3u, message.segments.size());
    std::u16string joined;
    for (const Segment& segment : message.segments) {
        EXPECT_LE(segment.text.size(), kSegmentUnitsMax);
        joined += segment.text;
    }
    // Nothing lost or doubled but the blank at the very end.
    EXPECT_EQ(text.substr(0, text.size() - 1), Utf8(joined));
    EXPECT_EQ(1u, message.segments[0].marksBefore.size());
    EXPECT_TRUE(message.segments[1].marksBefore.empty());
    // A text without blanks is cut anyway, never inside a surrogate pair.
    std::string emoji;
    while (emoji.size() < 4 * kSegmentUnitsMax) emoji += "\xf0\x9f\x98\x80";
    for (const Segment& segment : ParseSsml(emoji).segments) {
        EXPECT_LE(segment.text.size(), kSegmentUnitsMax);
        EXPECT_TRUE(segment.text[0] >= 0xD800 && segment.text[0] < 0xDC00) << "a piece starts in a pair";
    }
}

std::vector<DriverVoice> ProductVoices() {
    // As the product's kal.ini lists them: each language's Standard (male),
    // m1-m3, f1-f3, klatt (male).
    std::vector<DriverVoice> voices;
    const std::map<std::string, std::string> tags = DefaultLanguageTags();
    for (const auto& language : std::vector<std::pair<std::string, std::string>>{
             {"Deutsch", "0049"}, {"English", "0044"}, {"English US", "0001"}})
        for (const char* variant : {"", " m1", " m2", " m3", " f1", " f2", " f3", " klatt"}) {
            const std::string name = language.first + variant;
            voices.push_back({name, language.second, language.second + "-" + name, std::string(variant).rfind(" f", 0) == 0 ? 2 : 1,
                              tags.at(language.second)});
        }
    return voices;
}

TEST(VoicesTest, LanguageAndVoiceTypeChooseADriverVoice) {
    const std::vector<DriverVoice> voices = ProductVoices();
    const struct {
        const char* language;
        const char* type;
        const char* synthesis;
        const char* defaultVoice;
        const char* expected;
    } rows[] = {
        {"en-US", "male1", "", "", "English US"},
        {"en-us", "female2", "", "", "English US f2"},
        {"en_GB", "female1", "", "", "English f1"},
        {"de", "male3", "", "", "Deutsch m2"},
        {"de-DE", "female3", "", "", "Deutsch f3"},
        // More of a gender than there are: the last of them.
        {"de", "female9", "", "", "Deutsch f3"},
        {"de", "child_female", "", "", "Deutsch f1"},
        // "en" alone: the default voice's English when it is English, else the first.
        {"en", "male1", "", "English US f1", "English US"},
        {"en", "", "", "English US f1", "English US f1"},
        {"en", "", "", "", "English"},
        // The C locale's "c" and other unknown languages: the default voice's language.
        {"c", "", "", "English US", "English US"},
        {"c", "female1", "", "English US", "English US f1"},
        {"", "", "", "", "Deutsch"},
        {"xx", "male2", "", "no such voice", "Deutsch m1"},
        // A synthesis voice by name or identifier wins; an unknown one is ignored.
        {"de", "male1", "English f3", "", "English f3"},
        {"de", "male1", "0001-English US klatt", "", "English US klatt"},
        {"de", "male1", "Nobody", "", "Deutsch"},
    };
    for (const auto& row : rows) {
        const DriverVoice* voice = ChooseVoice(voices, {row.language, row.type, row.synthesis}, row.defaultVoice);
        ASSERT_NE(nullptr, voice) << row.language;
        EXPECT_EQ(row.expected, voice->name) << row.language << " " << row.type << " " << row.synthesis;
    }
    EXPECT_EQ(nullptr, ChooseVoice({}, {"en", "male1", ""}, ""));
}

TEST(VoicesTest, TheListGivesNameTagAndNoVariant) {
    const std::vector<DriverVoice> voices = ProductVoices();
    const std::string lines = VoiceListLines(voices);
    EXPECT_EQ(0u, lines.find("200-Deutsch\tde\tnone\n200-Deutsch m1\tde\tnone\n"));
    EXPECT_NE(std::string::npos, lines.find("\n200-English US f2\ten-US\tnone\n"));
    EXPECT_EQ(voices.size(), static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')));
}

class FileTest : public testing::Test {
protected:
    void SetUp() override {
        folder = testing::TempDir() + "sd_kal_parts_" + std::to_string(getpid()) + "/";
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(folder + name) << text;
        return folder + name;
    }
    std::string folder;
};

TEST_F(FileTest, KalConfTakesQuotedValuesAndRefusesWrongCounts) {
    ModuleSettings settings;
    std::string error;
    ASSERT_TRUE(ReadModuleSettings(Write("a.conf", "# comment\n  KalDriver \"/opt/kal/libkal_drv.so\"  # why\n"
                                                   "KalDefaultVoice \"English US f2\"\r\nKalLanguage \"0033\" \"fr-CA\"\n"
                                                   "KalLanguage 0099 xx\nDebug 1\n"),
                                   settings, error))
        << error;
    EXPECT_EQ("/opt/kal/libkal_drv.so", settings.driver);
    EXPECT_EQ("English US f2", settings.defaultVoice);
    EXPECT_EQ("fr-CA", settings.languageTags["0033"]);
    EXPECT_EQ("xx", settings.languageTags["0099"]);
    EXPECT_EQ("de", settings.languageTags["0049"]) << "the built-in tags stay";

    ModuleSettings defaults;
    EXPECT_TRUE(ReadModuleSettings(folder + "missing.conf", defaults, error));
    EXPECT_EQ("libkal_drv.so", defaults.driver);
    for (const char* bad : {"KalDriver\n", "KalDriver a b\n", "KalLanguage \"0049\"\n"}) {
        ModuleSettings s;
        error.clear();
        EXPECT_FALSE(ReadModuleSettings(Write("bad.conf", bad), s, error)) << bad;
        EXPECT_NE(std::string::npos, error.find("bad.conf:1:")) << error;
    }
}

TEST_F(FileTest, OnlyARealNameInTheProfileMakesACharacterTheDriversCharacter) {
    const std::string ini = Write("kal.ini", "[Default]\r\n00E4=not here\r\n[CharName]\r\n00e4 = a Umlaut\r\n"
                                             "0061=0061\r\n0062=\r\n[Other]\r\n0063=c\r\n");
    const struct {
        long code;
        bool named;
    } rows[] = {{0xE4, true}, {0x61, false}, {0x62, false}, {0x63, false}, {0x64, false}, {-1, false}, {0x10000, false}};
    for (const auto& row : rows) EXPECT_EQ(row.named, ProfileNamesCharacter(ini, row.code)) << row.code;
    EXPECT_FALSE(ProfileNamesCharacter(folder + "none.ini", 0xE4));
}
}  // namespace
