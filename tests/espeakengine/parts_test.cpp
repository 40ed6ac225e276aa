// The engine's own parts, without eSpeak NG: the settings' mapping, the
// replacement dictionary, the text conversion and the configuration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "espeakengine/config.h"
#include "espeakengine/text.h"
#include "espeakengine/voices.h"
#include "support/files.h"

namespace {
TEST(EspeakParts, RateRisesWithEverySettingOverESpeaksWholeRange) {
    EXPECT_EQ(80, EspeakRate(0));
    EXPECT_EQ(175, EspeakRate(50));
    EXPECT_EQ(450, EspeakRate(100));
    EXPECT_EQ(80, EspeakRate(-20));
    EXPECT_EQ(450, EspeakRate(300));
    for (int rate = 1; rate <= 100; ++rate) EXPECT_GT(EspeakRate(rate), EspeakRate(rate - 1)) << rate;
    const struct {
        int in, volume;
    } volumes[] = {{0, 0}, {-5, 0}, {50, 50}, {100, 100}, {150, 100}};
    for (const auto& row : volumes) EXPECT_EQ(row.volume, EspeakVolume(row.in)) << row.in;
}

TEST(EspeakParts, VoicesAndLanguagesAreFoundByTheirTexts) {
    const struct {
        const char* language;
        const char* voice;
        std::string espeak;
    } rows[] = {{"Deutsch", "Standard", "de"}, {"deutsch", "f2", "de+f2"}, {"English", "m3", "en-gb+m3"},
                {"English US", "klatt", "en-us+klatt"}};
    for (const auto& row : rows) {
        const int language = FindLanguage(row.language), voice = FindVoice(row.voice);
        ASSERT_GE(language, 0) << row.language;
        ASSERT_GE(voice, 0) << row.voice;
        EXPECT_EQ(row.espeak, EspeakVoiceName(language, voice));
    }
    EXPECT_EQ(-1, FindLanguage("Englisch"));
    EXPECT_EQ(-1, FindLanguage(nullptr));
    EXPECT_EQ(-1, FindVoice("m9"));
}

TEST(EspeakParts, ReplacementsMatchWholeWordsWithoutRegardToCase) {
    WordReplacements dictionary;
    const std::string file = "# comment\n; comment\n Tag = Abend \r\nkal=Kalender\nno equals sign\n=empty word\n"
                             "\xe4rger=Freude\n";
    ASSERT_TRUE(dictionary.Load(file.data(), file.size()));
    EXPECT_EQ(3u, dictionary.size());
    const struct {
        std::string in, out;
    } rows[] = {
        {"Guten Tag", "Guten Abend"},     {"TAG tag Tagung", "Abend Abend Tagung"},
        {"kal.", "Kalender."},            {"\xc4rger", "\xc4rger"},  // only A-Z fold: the byte differs
        {"\xe4rger!", "Freude!"},         {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(row.out, dictionary.Apply(row.in)) << row.in;
    WordReplacements empty;
    EXPECT_FALSE(empty.Load("# nothing\n", 10));
}

TEST(EspeakParts, Windows1252BecomesUtf8) {
    const struct {
        std::string in, out;
    } rows[] = {
        {"abc", "abc"},
        {"\xe4\xf6\xfc\xdf", "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f"},
        {"\x80", "\xe2\x82\xac"},  // the euro sign
        {"\x81", "\xef\xbf\xbd"},  // undefined in the code page
        {"\x9f", "\xc5\xb8"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.out, Utf8FromWindows1252(row.in.data(), row.in.size())) << row.in;
}

TEST(EspeakParts, ConfigurationFromTheFileAndTheEnvironment) {
    const std::string folder = FreshFolder("EspeakParts.Config");
    WriteFileText(folder + "espeakengine.ini", "; comment\noutput = pulse\nwav=speech.wav\nwavmode=pertext\npitch=70\n");
    EngineConfig config;
    std::string error;
    ASSERT_TRUE(ReadEngineConfig(folder.c_str(), config, error)) << error;
    EXPECT_EQ(OutputKind::Pulse, config.output);
    EXPECT_EQ(folder + "speech.wav", config.wav);
    EXPECT_EQ(WavMode::PerText, config.wavMode);
    EXPECT_EQ(70, config.pitch);
    // A folder in the Windows form is read as the same folder.
    std::string windowsForm = folder;
    for (char& c : windowsForm)
        if (c == '/') c = '\\';
    ASSERT_TRUE(ReadEngineConfig(windowsForm.c_str(), config, error));
    EXPECT_EQ(folder + "speech.wav", config.wav);

    setenv("KAL_ESPEAK_OUTPUT", "none", 1);
    setenv("KAL_ESPEAK_PITCH", "10", 1);
    ASSERT_TRUE(ReadEngineConfig(folder.c_str(), config, error));
    EXPECT_EQ(OutputKind::None, config.output);
    EXPECT_EQ(10, config.pitch);
    const char* bad[] = {"101", "-1", "x", ""};
    for (const char* value : bad) {
        setenv("KAL_ESPEAK_PITCH", value, 1);
        EXPECT_FALSE(ReadEngineConfig(folder.c_str(), config, error)) << value;
    }
    unsetenv("KAL_ESPEAK_OUTPUT");
    unsetenv("KAL_ESPEAK_PITCH");
}
}  // namespace

namespace {
TEST(EspeakParts, SpeakableTextKeepsOrdinaryTextAndDisarmsTheRest) {
    std::string run17;
    for (int i = 0; i < 17; ++i) run17 += "a.";
    const struct {
        std::string in, out;
    } rows[] = {
        {"Guten Tag, z. B. die U.S.A. und u.a.m.", "Guten Tag, z. B. die U.S.A. und u.a.m."},
        {"Zeile\teins\r\nzwei\n", "Zeile\teins\r\nzwei\n"},
        {"\x01" "0A laut", " 0A laut"},
        {"a\x1b[0mb\x7f", "a [0mb\x7f"},
        {run17, run17.substr(0, 32) + "\n" + "a."},
        {"\xc3\x84." + run17, "\xc3\x84." + run17.substr(0, 30) + "\n" + "a.a."},
    };
    for (const auto& row : rows) EXPECT_EQ(row.out, SpeakableText(row.in)) << row.in;
    // Blanks do not end a run for eSpeak NG; anything else does.
    std::string spaced, broken;
    for (int i = 0; i < 8; ++i) spaced += "a.b. ";
    for (int i = 0; i < 8; ++i) broken += "a.b, ";
    EXPECT_NE(std::string::npos, SpeakableText(spaced + "c.").find('\n'));
    EXPECT_EQ(broken + "c.", SpeakableText(broken + "c."));
}
}  // namespace
