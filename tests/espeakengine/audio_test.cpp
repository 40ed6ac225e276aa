// Real speech through the driver: its length and level, the begin and end
// events of many queued texts, and the settings heard in the audio.
#define KAL_BUILDING_DRIVER
#include <cstdlib>
#include <filesystem>
#include <string>

#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
// Audio a short sentence must have: plausible length, and a level far above
// silence (16-bit full scale is 32767).
constexpr double kShortestSentenceSeconds = 0.5;
constexpr double kLongestSentenceSeconds = 5.0;
constexpr double kSpeechRms = 500;
constexpr uint32_t kSpeakLimitMs = 40000;

class AudioTest : public EspeakTest {
protected:
    // Speaks one text with the voice (display name) and settings, waits for
    // its end and gives the audio of that text alone.
    Audio SpeakOne(const char* voice, const Text16& text, int rate = -1, int volume = -1) {
        const Audio before = ReadWav(wavPath);
        kal_SetVoiceByName(voice);
        if (rate >= 0) kal_SetParameter(KAL_PARAM_RATE, rate, 0);
        if (volume >= 0) kal_SetParameter(KAL_PARAM_VOLUME, volume, 0);
        const size_t ends = CountEnds();
        kal_Synth(text.c_str(), 1);
        EXPECT_TRUE(WaitFor([&] { return CountEnds() > ends; }, kSpeakLimitMs)) << "no end event";
        Audio audio = ReadWav(wavPath);
        audio.samples.erase(audio.samples.begin(), audio.samples.begin() + before.samples.size());
        return audio;
    }
    size_t CountBegins() {
        size_t n = 0;
        for (const SynthEventSeen& e : Events()) n += e.message == KAL_MSG_BEGIN;
        return n;
    }
    size_t CountEnds() {
        size_t n = 0;
        for (const SynthEventSeen& e : Events()) n += e.message == KAL_MSG_END;
        return n;
    }
};

TEST_F(AudioTest, ASentenceHasPlausibleLengthAndLevel) {
    ASSERT_TRUE(Start()) << ReadFileText(folder + "kal.pro");
    const struct {
        const char* voice;
        Text16 text;
    } rows[] = {
        {"Deutsch", T16("Guten Tag, wie geht es Ihnen heute?")},
        {"English", T16("Good morning, how are you today?")},
        {"English US f2", T16("The quick brown fox jumps over the lazy dog.")},
        {"Deutsch m3", T16("Gr\u00fc\u00dfe aus K\u00f6ln.")},
    };
    for (const auto& row : rows) {
        const Audio audio = SpeakOne(row.voice, row.text);
        EXPECT_EQ(22050u, audio.rate) << row.voice;
        EXPECT_GE(audio.Seconds(), kShortestSentenceSeconds) << row.voice;
        EXPECT_LE(audio.Seconds(), kLongestSentenceSeconds) << row.voice;
        EXPECT_GT(audio.Rms(), kSpeechRms) << row.voice;
    }
}

TEST_F(AudioTest, TwentyQueuedTextsBeginAndEndInOrderWithTheirMarks) {
    // Paced like a sound card, each text lasts long enough that the host has
    // queued all the others before the first ends: every next text is then
    // handed over from inside the end notification of the one before.
    Configure({"pace=realtime"});
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    kal_SetParameter(KAL_PARAM_RATE, 100, 0);
    constexpr int kTexts = 20;
    // The driver's queue is a ring of sixteen slots (a seventeenth text takes
    // the place of the oldest): the host keeps at most this many waiting.
    constexpr size_t kAhead = 12;
    for (int mark = 1; mark <= kTexts; ++mark) {
        if (mark > static_cast<int>(kAhead))
            ASSERT_TRUE(WaitFor([&] { return CountBegins() >= mark - kAhead; }, kSpeakLimitMs));
        const std::string text = std::to_string(mark) + ".";
        kal_Synth(Text16(text.begin(), text.end()).c_str(), mark);
    }
    kal_Synchronize();
    ASSERT_TRUE(WaitFor([&] { return CountEnds() >= kTexts; }, kSpeakLimitMs)) << CountEnds() << " ends";
    const std::vector<SynthEventSeen> seen = Events();
    ASSERT_EQ(2u * kTexts, seen.size());
    for (int i = 0; i < kTexts; ++i) {
        const int mark = i + 1;
        // Begin carries its own text's mark; an end carries the mark of the text
        // the driver started from inside it, the last end its own.
        EXPECT_EQ(KAL_MSG_BEGIN, seen[2 * i].message) << "text " << mark;
        EXPECT_EQ(mark, seen[2 * i].mark) << "text " << mark;
        EXPECT_EQ(KAL_MSG_END, seen[2 * i + 1].message) << "text " << mark;
        EXPECT_EQ(mark < kTexts ? mark + 1 : mark, seen[2 * i + 1].mark) << "text " << mark;
    }
    const std::vector<std::string> texts = TextsGiven();
    ASSERT_EQ(static_cast<size_t>(kTexts), texts.size());
    for (int i = 0; i < kTexts; ++i) EXPECT_EQ(std::to_string(i + 1) + ".", texts[i]);
    // A number word each, at the fastest rate: a few tenths of a second.
    const Audio audio = ReadWav(wavPath);
    EXPECT_GE(audio.Seconds(), kTexts * 0.1);
    EXPECT_GT(audio.Rms(), kSpeechRms);
}

TEST_F(AudioTest, RateVolumeAndVoiceAreHeard) {
    ASSERT_TRUE(Start());
    const Text16 text = T16("Dieser Satz wird einmal langsam und einmal schnell gesprochen.");
    const Audio slow = SpeakOne("Deutsch", text, 0, 100);
    const Audio fast = SpeakOne("Deutsch", text, 100, 100);
    EXPECT_GE(slow.Seconds(), 2 * fast.Seconds()) << "rate 0: " << slow.Seconds() << " s, rate 100: " << fast.Seconds();
    // Every step of the rate is heard, in one direction.
    const Audio middle = SpeakOne("Deutsch", text, 50, 100);
    EXPECT_LT(middle.Seconds(), slow.Seconds());
    EXPECT_GT(middle.Seconds(), fast.Seconds());

    const Audio silent = SpeakOne("Deutsch", text, 50, 0);
    EXPECT_GT(silent.Seconds(), kShortestSentenceSeconds) << "volume 0 still takes its time";
    EXPECT_LT(silent.Peak(), 50) << "volume 0 is silence";
    const Audio quiet = SpeakOne("Deutsch", text, 50, 30);
    const Audio loud = SpeakOne("Deutsch", text, 50, 100);
    EXPECT_LT(quiet.Rms() * 2, loud.Rms());

    // A voice switch changes the sound, not only the bytes: another voice of the
    // same language speaks the same text with another pitch and length.
    const Audio female = SpeakOne("Deutsch f2", text, 50, 100);
    EXPECT_NE(loud.samples, female.samples);
    EXPECT_GT(std::abs(static_cast<long>(loud.samples.size()) - static_cast<long>(female.samples.size())) +
                  std::abs(loud.Rms() - female.Rms()),
              100.0);
}

TEST_F(AudioTest, TheDictionaryReplacesWordsBeforeTheyAreSpoken) {
    // The driver loads Speech\Nalvo<Lang>.bdc for a voice with DCBon=1.
    SetProfile("Nalvo Deutsch Standard", "DCBon", "1");
    std::filesystem::create_directories(folder + "Speech");
    WriteFileText(folder + "Speech/Nalvo49.bdc", "# replacements\nTag = Abend\nkal=Kalender\n");
    ASSERT_TRUE(Start());
    SpeakOne("Deutsch", T16("Guten Tag, kal und KAL, Tagung."));
    const std::vector<std::string> texts = TextsGiven();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ("Guten Abend, Kalender und Kalender, Tagung.", texts.back());
}
}  // namespace

namespace {
TEST_F(AudioTest, ALaterStartAppendsToTheWavFileAndPerTextModeWritesOneFileEach) {
    ASSERT_TRUE(Start());
    const Audio first = SpeakOne("Deutsch", T16("Erster Start."));
    kal_Terminate();
    ASSERT_NE(-1, kal_Initialize());
    const Audio second = SpeakOne("Deutsch", T16("Zweiter Start."));
    EXPECT_GT(second.Seconds(), kShortestSentenceSeconds / 2) << "the second start appended";
    EXPECT_NEAR(first.Seconds() + second.Seconds(), ReadWav(wavPath).Seconds(), 0.001);
    kal_Terminate();

    Configure({"wavmode=pertext"});
    ASSERT_NE(-1, kal_Initialize());
    kal_SetVoiceByName("Deutsch");
    kal_Synth(T16("Eins."), 1);
    kal_Synchronize();
    kal_Synth(T16("Zwei."), 2);
    kal_Synchronize();
    const Audio one = ReadWav(folder + "out-0001.wav"), two = ReadWav(folder + "out-0002.wav");
    EXPECT_GT(one.Seconds(), 0.2);
    EXPECT_GT(two.Seconds(), 0.2);
    EXPECT_NE(one.samples, two.samples);
    EXPECT_FALSE(FileExists(folder + "out-0003.wav"));
}
}  // namespace

