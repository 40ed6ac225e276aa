// The host's thread adds texts while the simulated engine ends them on its own
// thread (or notifies synchronously): every text must reach the engine exactly
// once and in order, and the run must end.
// Loads the built simulated engine DLL: Windows only.
#if defined(_WIN32)
#include <windows.h>

#include <atomic>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/driver_fixture.h"
#include "support/files.h"
#include "support/sim_ini.h"

namespace {
std::atomic<int> begins{0};
std::atomic<int> ends{0};

int KAL_CDECL Count(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN) ++begins;
    if (event->message == KAL_MSG_END) ++ends;
    return 0;
}

class StressTest : public DriverTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        SpeechTestingSetTimings({0, kShippedSpeechTimings.stopPollWaitMs, kShippedSpeechTimings.shutdownSettleMs,
                                 kShippedSpeechTimings.synchronizePollMs});
        CopyFileTo(BuildPath("simengine/nalvoapi.dll"), folder + "nalvoapi.dll");
        WriteFileText(folder + "simengine.ini",
                      SimEngineIni({{"L", {"V"}}}, "MsPerChar=1\r\nSync=" + std::string(GetParam() ? "1" : "0") + "\r\n",
                                   {"E"}));
        ASSERT_EQ(Outcome::Ok, GoInitSpeech()) << ReadFileText(folder + "kal.pro");
        LogSetLevel(0);
        begins = 0;
        ends = 0;
        NotificationsSetHostCallback(Count);
    }
    void TearDown() override {
        ShutdownEngine();
        ReleaseEngineLibrary();
        SpeechTestingSetTimings(kShippedSpeechTimings);
        DriverTest::TearDown();
    }
};
}  // namespace

TEST_P(StressTest, EveryTextReachesTheEngineOnceAndInOrder) {
    // The engine's own thread takes a scheduler tick or so per text.
    const int rounds = GetParam() ? 3000 : 1000;
    const DWORD deadline = GetTickCount() + 120000;
    for (int i = 0; i < rounds; ++i) {
        // Stay below the ring's sixteen slots, so no text is overwritten by design.
        while (i - begins.load() >= 12 && GetTickCount() < deadline) Sleep(0);
        QueueAdd(("t" + std::to_string(i)).c_str(), i);
    }
    while (DriverIsBusy() && GetTickCount() < deadline) {
        if (PlaybackState.load() != Speaking) QueueNext(HandOverBy::Host);
        Sleep(1);
    }
    ASSERT_LT(GetTickCount(), deadline) << "the queue did not drain";
    // The last end notification may still be on its way.
    while (ends.load() < rounds && GetTickCount() < deadline) Sleep(1);
    EXPECT_EQ(rounds, begins.load());
    EXPECT_EQ(rounds, ends.load());
    std::vector<std::string> texts = LinesStartingWith(SplitLines(ReadFileText(folder + "simengine.journal")), "SetText ");
    ASSERT_EQ(static_cast<size_t>(rounds), texts.size());
    for (int i = 0; i < rounds; ++i) {
        const std::string expected = "t" + std::to_string(i);
        ASSERT_EQ("SetText length=" + std::to_string(expected.size()) + " text=" + expected + " result=0", texts[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(EngineThread, StressTest, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Synchronous, StressTest, ::testing::Values(true));

#endif  // _WIN32
