// Stop, pause and resume against real audio: the WAV output is paced like a
// sound card (pace=realtime), so a long text is still being delivered when the
// host stops or pauses it.
#define KAL_BUILDING_DRIVER
#include <chrono>
#include <string>
#include <thread>

#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr uint32_t kRate = 22050;
// The bound: after kal_Stop the audio stops growing within this.
constexpr auto kStopHeardWithin = std::chrono::milliseconds(100);
// Long enough to see that nothing more comes.
constexpr auto kQuietWatch = std::chrono::milliseconds(400);
constexpr uint32_t kStartLimitMs = 5000;

const Text16 kLongText = T16(
    "Dies ist ein langer Text, der einige Sekunden dauert. Mitten darin h\u00e4lt der Host die Sprache an, "
    "und danach geht es weiter.");
// The same text spoken twice by eSpeak NG differs in length by a few blocks;
// a text that started again after the pause would be a second longer.
constexpr uint64_t kSameTextSlack = kRate / 4;

class ControlTest : public EspeakTest {
protected:
    void SetUp() override {
        EspeakTest::SetUp();
        Configure({"pace=realtime"});
    }
    // Waits until this much audio of the current text was delivered.
    bool WaitForSeconds(double seconds) {
        return WaitFor([&] { return SamplesDelivered() >= static_cast<uint64_t>(seconds * kRate); }, kStartLimitMs);
    }
};

TEST_F(ControlTest, StopCutsTheAudioAtOnceAndDropsTheQueuedTexts) {
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    kal_Synth(kLongText.c_str(), 1);
    for (int mark = 2; mark <= 4; ++mark) kal_Synth(T16("Ein wartender Text."), mark);
    ASSERT_TRUE(WaitForSeconds(1.0));
    const auto stopCalled = std::chrono::steady_clock::now();
    kal_Stop();
    const uint64_t atStop = SamplesDelivered();
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_LE(LastDelivery() - stopCalled, kStopHeardWithin) << "audio kept coming after kal_Stop";
    EXPECT_EQ(atStop, SamplesDelivered());
    // Only the long text reached the engine; no end event for it.
    EXPECT_EQ(1u, TextsGiven().size());
    for (const SynthEventSeen& e : Events()) EXPECT_NE(KAL_MSG_END, e.message);
    EXPECT_EQ(0, kal_IsPlaying());
    // The engine speaks again after a stop.
    kal_Synth(T16("Weiter."), 5);
    EXPECT_TRUE(WaitFor([&] { return !Events().empty() && Events().back().message == KAL_MSG_END; }, kStartLimitMs));
    EXPECT_EQ(2u, TextsGiven().size());
}

TEST_F(ControlTest, PauseHoldsTheAudioAndResumeContinuesIt) {
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    // The text's whole length, spoken without a pause.
    kal_Synth(kLongText.c_str(), 1);
    kal_Synchronize();
    const uint64_t whole = SamplesDelivered();
    ASSERT_GT(whole, 3u * kRate) << "the text is long";

    kal_Synth(kLongText.c_str(), 2);
    ASSERT_TRUE(WaitFor([&] { return SamplesDelivered() >= whole + kRate; }, kStartLimitMs));
    kal_Pause(1);
    ASSERT_TRUE(WaitFor([] { return PlaybackState.load() == Paused; }, kStartLimitMs)) << "no pause notification";
    // What the output had already taken may still arrive within one block.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t held = SamplesDelivered();
    std::this_thread::sleep_for(kQuietWatch);
    EXPECT_EQ(held, SamplesDelivered()) << "samples while paused";
    EXPECT_EQ(1, kal_IsPlaying() + (PlaybackState.load() == Paused ? 1 : 0)) << "paused, nothing pending: not playing";

    kal_Pause(0);  // the same call resumes
    ASSERT_TRUE(WaitFor([] { return PlaybackState.load() == Speaking; }, kStartLimitMs)) << "no resume notification";
    kal_Synchronize();
    // It went on from where it stopped: nothing lost, nothing said twice.
    EXPECT_NEAR(static_cast<double>(2 * whole), static_cast<double>(SamplesDelivered()), kSameTextSlack);
    const std::vector<SynthEventSeen> seen = Events();
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(KAL_MSG_END, seen.back().message);
}
}  // namespace
