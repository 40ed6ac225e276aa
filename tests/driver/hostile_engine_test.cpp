// Engines whose notices come late or twice, with a host that uses the driver as a
// screen reader does: a pause key pressed twice, texts queued back to back. The
// threaded engine library plays the engine.
#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include <functional>
#include <string>

#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/engine_library.h"

namespace {
// Far above what a text of the threaded engine takes once it is free to end.
constexpr uint32_t kSettleMs = 2000;

std::string HostText(int sequence) { return "h0n" + std::to_string(sequence); }

class HostileEngineTest : public EngineLibraryTest {};
}  // namespace

// kal_Pause twice (pause, then resume) before the engine's pause notice arrives:
// the text goes on and ends, and the next text is spoken. Before, the second call
// paused again and speech stayed paused for good.
TEST_F(HostileEngineTest, APauseToggledBeforeTheEnginesNoticeResumes) {
    const struct {
        const char* label;
        uint32_t gapMs;
    } rows[] = {{"back to back", 0}, {"20 ms apart", 20}};
    int sequence = 0;
    for (const auto& row : rows) {
        ASSERT_TRUE(Start()) << row.label;
        control->noticeDelayMs = 60;
        control->textMs = 300;
        kal_Key(HostText(sequence).c_str());
        ASSERT_TRUE(Eventually([&] { return control->notifications.load() >= 1; }, kSettleMs)) << row.label;  // its begin
        EXPECT_EQ(0, kal_Pause(1)) << row.label;
        PlatformSleep(row.gapMs);
        EXPECT_EQ(0, kal_Pause(0)) << row.label;
        kal_Key(HostText(sequence + 1).c_str());
        EXPECT_TRUE(Eventually([&] { return seen(0, sequence + 1) != 0; }, kSettleMs))
            << row.label << ": speech stayed paused";
        EXPECT_TRUE(Eventually([] { return kal_IsPlaying() == 0; }, kSettleMs)) << row.label;
        kal_Terminate();
        sequence += 2;
    }
    // One press pauses, the next resumes, once the notices are in as well.
    ASSERT_TRUE(Start());
    control->textMs = 300;
    kal_Key(HostText(sequence).c_str());
    ASSERT_TRUE(Eventually([&] { return control->notifications.load() >= 1; }, kSettleMs));
    kal_Pause(1);
    EXPECT_TRUE(Eventually([] { return PlaybackState.load() == Paused; }, kSettleMs));
    kal_Pause(0);
    EXPECT_TRUE(Eventually([] { return PlaybackState.load() != Paused; }, kSettleMs));
    EXPECT_TRUE(Eventually([] { return kal_IsPlaying() == 0; }, kSettleMs));
}

// An engine that sends every end twice, and one that is busy when a text is
// handed to it: every text the host queued is spoken, none twice. Before, the
// extra end turned the driver idle while the next text spoke, and the text after
// was handed to the busy engine and dropped.
TEST_F(HostileEngineTest, AnExtraEndOrABusyEngineLosesNoText) {
    constexpr int kTexts = 10;
    const struct {
        const char* label;
        int32_t doubleEnd, busyPolls;
    } rows[] = {{"every end sent twice", 1, 0}, {"busy at the first status poll", 0, 1}};
    int first = 0;
    for (const auto& row : rows) {
        ASSERT_TRUE(Start()) << row.label;
        control->doubleEnd = row.doubleEnd;
        control->busyPolls = row.busyPolls;
        for (int i = 0; i < kTexts; ++i) kal_Key(HostText(first + i).c_str());
        // The busy engine's text waits for the host's next call, as any text does.
        kal_Synchronize();
        int spoken = 0;
        for (int i = 0; i < kTexts; ++i) spoken += seen(0, first + i);
        EXPECT_EQ(kTexts, spoken) << row.label;
        EXPECT_EQ(0u, control->duplicated.load()) << row.label;
        EXPECT_EQ(0, kal_IsPlaying()) << row.label;
        kal_Terminate();
        first += kTexts;
    }
}
