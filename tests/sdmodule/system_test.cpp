// sd_kal under Debian's speech-dispatcher, as Orca uses it: one AddModule
// line, a client speaking SSIP, the audio heard at a private PulseAudio null
// sink. One world for the whole suite keeps the run short.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "sdmodule/harness.h"

#ifndef SD_KAL_PRODUCT_DIR
#error "SD_KAL_PRODUCT_DIR names the product folder"
#endif

namespace {
// The PulseAudio latency speech-dispatcher asks the module for.
constexpr int kPulseLatencyMs = 20;
// What a stop may take until the sink is silent: the median of kStops, and
// each (the module's share is well below a millisecond; the rest is the
// engine's block in hand and the stream's latency).
constexpr auto kStopSilenceMedian = std::chrono::milliseconds(50);
constexpr auto kStopSilenceLimit = std::chrono::milliseconds(300);
constexpr int kStops = 3;
// Quiet this long at the sink counts as silence.
constexpr auto kQuiet = std::chrono::milliseconds(250);
constexpr auto kEventLimit = std::chrono::seconds(10);
constexpr auto kSoundLimit = std::chrono::seconds(3);
// The begin may come this much after the first sound at the sink.
constexpr auto kBeginAfterSoundMax = std::chrono::milliseconds(25);
// The end may come this much before the sink has played the last sound (the
// monitor's own delay).
constexpr auto kEndBeforeSoundMax = std::chrono::milliseconds(150);

const char* kSentence = "The quick brown fox jumps over the lazy dog near the river bank.";
// Short sentences: the server puts its own marks after each, where a pause resumes.
const char* kSentences =
    "One two three. Four five six. Seven eight nine. Ten eleven twelve. Thirteen fourteen fifteen. "
    "Sixteen seventeen eighteen. Nineteen twenty twenty one.";

class SdModuleTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        world = new SpeechWorld();
        std::string folder = "/tmp/sd_kal_test-" + std::to_string(getpid()) + "/";
        const std::string product = SD_KAL_PRODUCT_DIR;
        // The one line a user adds. A latency other than speech-dispatcher's
        // default makes the module start the engine again on AUDIO.
        if (!world->Start(folder, {{"kal", product + "/sd_kal", product + "/kal.conf"}}, startError,
                          {"AudioPulseMinLength " + std::to_string(kPulseLatencyMs)}))
            return;
        client = new SsipClient();
        if (!client->Connect(world->ssipSocket, startError)) return;
        for (const char* line : {"SET self CLIENT_NAME test:sd_kal:main", "SET self NOTIFICATION all on",
                                 "SET self SSML_MODE on", "SET self OUTPUT_MODULE kal", "SET self LANGUAGE en-US"})
            if (client->Command(line).code / 100 != 2) startError = std::string("refused: ") + line;
    }
    static void TearDownTestSuite() {
        delete client;
        client = nullptr;
        if (world) {
            const std::string folder = world->folder;
            world->Stop();
            // Kept with its logs when anything failed, or when SD_KAL_TEST_KEEP is set.
            if (!testing::UnitTest::GetInstance()->Failed() && !getenv("SD_KAL_TEST_KEEP"))
                std::filesystem::remove_all(folder);
        }
        delete world;
        world = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(startError.empty()) << startError << " (logs in " << (world ? world->folder : "") << "logs)";
        client->Command("CANCEL self");
        Clock::time_point last;
        world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last);
        client->DropEvents();
    }
    // The events up to and with the one that ends a message (702, 703 or 704).
    static std::vector<SsipMessage> EventsUntilDone() {
        std::vector<SsipMessage> events;
        for (;;) {
            SsipMessage event = client->NextEvent(std::chrono::duration_cast<std::chrono::milliseconds>(kEventLimit));
            if (!event.code) break;
            events.push_back(event);
            if (event.code >= 702 && event.code <= 704) break;
        }
        return events;
    }
    // Speaks text and gives what the sink heard, from request to end.
    static std::vector<int16_t> SpeakAndRecord(const std::string& text) {
        const Clock::time_point asked = Clock::now();
        EXPECT_EQ(225, client->Speak(text).code);
        const std::vector<SsipMessage> events = EventsUntilDone();
        EXPECT_FALSE(events.empty());
        if (!events.empty()) EXPECT_EQ(702, events.back().code);
        Clock::time_point last;
        world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last);
        return world->monitor.Samples(asked, Clock::now());
    }
    static std::string startError;
    static SpeechWorld* world;
    static SsipClient* client;
};
std::string SdModuleTest::startError;
SpeechWorld* SdModuleTest::world = nullptr;
SsipClient* SdModuleTest::client = nullptr;

TEST_F(SdModuleTest, SpeechIsHeardAndEveryMarkArrivesInOrder) {
    const Clock::time_point asked = Clock::now();
    ASSERT_EQ(225, client->Speak("<speak><mark name=\"start\"/>Hello there.<mark name=\"one\"/> This is the second "
                                 "part.<mark name=\"two\"/> And a third one.<mark name=\"three\"/></speak>")
                       .code);
    const std::vector<SsipMessage> events = EventsUntilDone();
    std::vector<std::string> seen;
    for (const SsipMessage& event : events)
        seen.push_back(event.code == 700 && event.lines.size() == 4 ? "700 " + event.lines[2]
                                                                     : std::to_string(event.code));
    EXPECT_EQ((std::vector<std::string>{"701", "700 start", "700 one", "700 two", "700 three", "702"}), seen);
    Clock::time_point heard;
    ASSERT_TRUE(world->monitor.WaitForSound(asked, asked + kSoundLimit, heard)) << "nothing arrived at the sink";
    ASSERT_FALSE(events.empty());
    // The begin comes with the first sound, not a hand-over's wait later.
    EXPECT_LT(events[0].arrived, heard + kBeginAfterSoundMax)
        << std::chrono::duration_cast<std::chrono::milliseconds>(events[0].arrived - heard).count()
        << " ms after the first sound";
    // The marks come as the speech reaches them, and the end when the last
    // text has been heard, not when an earlier one ended.
    ASSERT_EQ(6u, events.size());
    EXPECT_LT(events[1].arrived, events[3].arrived - std::chrono::milliseconds(300));
    Clock::time_point last;
    ASSERT_TRUE(world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last));
    EXPECT_GT(events.back().arrived, last - kEndBeforeSoundMax)
        << std::chrono::duration_cast<std::chrono::milliseconds>(last - events.back().arrived).count()
        << " ms of sound after the end";
}

TEST_F(SdModuleTest, CharactersAndKeysAreSpoken) {
    for (const char* command : {"CHAR a", "CHAR space", "KEY shift_a", "KEY kp-enter"}) {
        client->DropEvents();
        const Clock::time_point asked = Clock::now();
        EXPECT_EQ(2, client->Command(command).code / 100) << command;
        const std::vector<SsipMessage> events = EventsUntilDone();
        ASSERT_FALSE(events.empty()) << command;
        EXPECT_EQ(701, events.front().code) << command;
        EXPECT_EQ(702, events.back().code) << command;
        Clock::time_point heard;
        EXPECT_TRUE(world->monitor.WaitForSound(asked, asked + kSoundLimit, heard)) << command << ": nothing heard";
        Clock::time_point last;
        world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last);
    }
}

TEST_F(SdModuleTest, StopSilencesTheSinkWithinTheBound) {
    std::vector<Clock::duration> silences;
    for (int stop = 0; stop < kStops; ++stop) {
        client->DropEvents();
        const Clock::time_point asked = Clock::now();
        ASSERT_EQ(225, client->Speak(std::string(kSentence) + " " + kSentence + " " + kSentence).code);
        Clock::time_point heard;
        ASSERT_TRUE(world->monitor.WaitForSound(asked, asked + kSoundLimit, heard));
        std::this_thread::sleep_for(std::chrono::milliseconds(400 + 100 * stop));
        const Clock::time_point stopped = Clock::now();
        ASSERT_EQ(213, client->Command("CANCEL self").code);
        Clock::time_point last;
        ASSERT_TRUE(world->monitor.WaitForQuiet(kQuiet, stopped + kEventLimit, last));
        silences.push_back(std::max(Clock::duration::zero(), last - stopped));
        EXPECT_LT(silences.back(), kStopSilenceLimit)
            << std::chrono::duration_cast<std::chrono::milliseconds>(silences.back()).count()
            << " ms of sound after the stop";
        const std::vector<SsipMessage> events = EventsUntilDone();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(703, events.back().code);
    }
    std::sort(silences.begin(), silences.end());
    EXPECT_LT(silences[kStops / 2], kStopSilenceMedian)
        << std::chrono::duration_cast<std::chrono::milliseconds>(silences[kStops / 2]).count()
        << " ms of sound after a stop (median)";
}

TEST_F(SdModuleTest, TheEnginesStreamHasTheLatencyTheServerAsksFor) {
    // The engine's own stream holds 100 ms: a stop was heard that much longer
    // where another program's stream had set the sink's latency lower.
    const Clock::time_point asked = Clock::now();
    ASSERT_EQ(225, client->Speak(std::string(kSentence) + " " + kSentence).code);
    Clock::time_point heard;
    ASSERT_TRUE(world->monitor.WaitForSound(asked, asked + kSoundLimit, heard));
    Child pactl;
    const std::string listing = world->folder + "logs/sink-inputs.txt";
    ASSERT_TRUE(pactl.Start({"pactl", "--server=unix:" + world->pulseSocket, "list", "sink-inputs"},
                            world->environment(), listing));
    ASSERT_TRUE(pactl.Wait(std::chrono::milliseconds(5000)));
    client->Command("CANCEL self");
    // "Buffer Latency: N usec" of the input whose application is the engine's.
    std::ifstream in(listing);
    std::string line;
    long bufferUs = -1, engineUs = -1;
    while (std::getline(in, line)) {
        if (line.find("Sink Input #") != std::string::npos) bufferUs = -1;
        const size_t at = line.find("Buffer Latency: ");
        if (at != std::string::npos) bufferUs = atol(line.c_str() + at + 16);
        if (line.find("application.name = \"kal_drv\"") != std::string::npos) engineUs = bufferUs;
    }
    ASSERT_GE(engineUs, 0) << "no stream of the engine listed (" << listing << ")";
    EXPECT_LE(engineUs, kPulseLatencyMs * 1000 * 3 / 2) << "the engine's stream holds " << engineUs << " us";
}

TEST_F(SdModuleTest, PauseAndResumeContinueTheMessage) {
    const std::vector<int16_t> whole = SpeakAndRecord(kSentences);
    const double length = SoundSpan(whole);
    ASSERT_GT(length, 3.0);

    client->DropEvents();
    const Clock::time_point asked = Clock::now();
    ASSERT_EQ(225, client->Speak(kSentences).code);
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    ASSERT_EQ(211, client->Command("PAUSE self").code);
    std::vector<SsipMessage> events = EventsUntilDone();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(704, events.back().code);
    Clock::time_point last;
    ASSERT_TRUE(world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last));
    const double before = SoundSpan(world->monitor.Samples(asked, Clock::now()));
    const Clock::time_point resumed = Clock::now();
    ASSERT_EQ(212, client->Command("RESUME self").code);
    for (;;) {  // 705 resumed, then the message's end
        events = EventsUntilDone();
        ASSERT_FALSE(events.empty()) << "the resumed message never ended";
        if (events.back().code == 702) break;
        ASSERT_NE(703, events.back().code);
    }
    world->monitor.WaitForQuiet(kQuiet, Clock::now() + kEventLimit, last);
    const double after = SoundSpan(world->monitor.Samples(resumed, Clock::now()));
    // From the last mark reached: the rest, with at most the sentence that was
    // cut said again; not the message from its start.
    EXPECT_GT(after, length - before - 0.3) << "before " << before << " s, after " << after << " s of " << length;
    EXPECT_LT(after, length - before + 1.5) << "before " << before << " s, after " << after << " s of " << length;
}

TEST_F(SdModuleTest, RateChangesTheLength) {
    ASSERT_EQ(203, client->Command("SET self RATE 0").code);
    const double normal = SoundSpan(SpeakAndRecord(kSentence));
    ASSERT_EQ(203, client->Command("SET self RATE 60").code);
    const double fast = SoundSpan(SpeakAndRecord(kSentence));
    ASSERT_EQ(203, client->Command("SET self RATE 0").code);
    ASSERT_GT(normal, 1.0);
    EXPECT_LT(fast, normal * 0.75) << "rate 0: " << normal << " s, rate 60: " << fast << " s";
}

TEST_F(SdModuleTest, TheVoiceListIsFilledAndAListedVoiceChangesTheAudio) {
    const SsipMessage list = client->Command("LIST SYNTHESIS_VOICES");
    ASSERT_EQ(249, list.code);
    bool male = false, female = false;
    for (const std::string& line : list.lines) {
        male |= line.rfind("English US\ten-US\t", 0) == 0;
        female |= line.rfind("English US f2\ten-US\t", 0) == 0;
    }
    ASSERT_TRUE(male && female) << list.lines.size() << " lines listed";

    ASSERT_EQ(209, client->Command("SET self SYNTHESIS_VOICE English US").code);
    const double low = MedianPitch(SpeakAndRecord(kSentence));
    ASSERT_EQ(209, client->Command("SET self SYNTHESIS_VOICE English US f2").code);
    const double high = MedianPitch(SpeakAndRecord(kSentence));
    client->Command("SET self LANGUAGE en-US");
    EXPECT_GT(high, low * 1.3) << "English US: " << low << " Hz, English US f2: " << high << " Hz";
}
}  // namespace
