// Load from several host threads while the engine ends texts on its own thread,
// on two threads, or synchronously, with stops, pauses, waits, voice and
// parameter calls mixed in. Every text a host thread queued is accounted for:
// given to the engine once and in its thread's order, or discarded by a stop
// that began after it was queued. Nothing may hang: every wait has a deadline.
#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "engine/engine.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/engine_library.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr int kHostThreads = 4;  // at most; a row may use fewer
// Texts a host thread may have queued but not yet seen reach the engine: four
// threads stay below the ring's sixteen slots, so no text is overwritten by design.
constexpr int kWindow = 3;
// How long a host thread waits for its window before it queues anyway. A
// driver that leaves texts waiting this long while the engine is free stalls
// the host (waits_expired counts it); queueing anyway could then overflow the
// ring and reorder texts by design.
constexpr uint32_t kWindowPatienceMs = 2000;
// Every host thread calls kal_Synchronize after this many texts, all at the same
// counts, so each wait ends once all of them are waiting.
constexpr int kSynchronizeEvery = 5000;
// The whole run of one row; reaching it means something hung.
constexpr uint32_t kRowDeadlineMs = 600000;

#if defined(_WIN32)
constexpr int kDefaultTexts = 20000;  // every Wine call is slower; natively 100,000
#else
constexpr int kDefaultTexts = 100000;
#endif

int TextCount() {
    const char* text = std::getenv("KAL_STRESS_TEXTS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : kDefaultTexts;
}

struct Totals {
    int texts = 0, spoken = 0, discarded = 0, lost = 0;
    uint32_t duplicated = 0, outOfOrder = 0;
};

class LoadTest : public EngineLibraryTest {
protected:
    Totals Run(int32_t mode, int texts, int hosts, bool controls);
    void RunRows(int hosts);
    // A stop can discard the texts queued before it ended: stopsEnded is read
    // before each text is queued, stopsBegun counted at the end.
    std::atomic<uint32_t> stopsBegun{0}, stopsEnded{0};
    // Times a host thread queued without its window being free: the driver left
    // texts waiting (or was slow) for longer than the patience.
    std::atomic<uint32_t> patienceRanOut{0};
};

Totals LoadTest::Run(int32_t mode, int texts, int hosts, bool controls) {
    control->mode = mode;
    reset();
    stopsBegun = 0;
    stopsEnded = 0;
    const int perThread = texts / hosts;
    // Per text: stops ended, and stops begun, before it was queued.
    std::vector<std::vector<uint32_t>> stopsBefore(hosts, std::vector<uint32_t>(perThread));
    std::vector<std::vector<uint32_t>> stopsBegunBefore(hosts, std::vector<uint32_t>(perThread));
    std::atomic<int> hostsRunning{hosts};
    std::atomic<bool> timedOut{false};
    patienceRanOut = 0;
    const uint32_t started = PlatformTickCount();
    auto late = [&] { return PlatformTickCount() - started > kRowDeadlineMs; };

    auto host = [&](int thread) {
        for (int seq = 0; seq < perThread && !late(); ++seq) {
            if (seq >= kWindow) {
                const int older = seq - kWindow;
                const uint32_t waitFrom = PlatformTickCount();
                // Free once the older text reached the engine or a stop that began
                // after it was queued (and so cleared it) has ended.
                auto free = [&] { return seen(thread, older) || stopsEnded.load() > stopsBegunBefore[thread][older]; };
                while (!free() && PlatformTickCount() - waitFrom < kWindowPatienceMs) std::this_thread::yield();
                if (!free()) ++patienceRanOut;
            }
            stopsBefore[thread][seq] = stopsEnded.load();
            stopsBegunBefore[thread][seq] = stopsBegun.load();
            const std::string text = "h" + std::to_string(thread) + "n" + std::to_string(seq);
            const Text16 wide(text.begin(), text.end());
            if (seq % 7 == 3) kal_Key(text.c_str());
            else if (seq % 7 == 5) kal_Synth_Mark(("x" + text).c_str(), "x", seq);
            else kal_Synth(wide.c_str(), seq);
            if (seq % kSynchronizeEvery == kSynchronizeEvery - 1) kal_Synchronize();
        }
        if (late()) timedOut = true;
        --hostsRunning;
    };

    auto mixer = [&] {
        unsigned step = 0;
        while (hostsRunning.load() > 0 && !late()) {
            ++step;
            switch (step % 11) {
            case 0:
                ++stopsBegun;
                kal_Stop();
                ++stopsEnded;
                break;
            case 1:  // pause, then the same call resumes
                kal_Pause(1);
                PlatformSleep(1);
                kal_Pause(0);
                break;
            case 2: kal_SetParameter(KAL_PARAM_RATE, static_cast<int>(step % 101), 0); break;
            case 3: kal_GetParameter(KAL_PARAM_VOLUME, 1); break;
            case 4: kal_IsPlaying(); break;
            case 5: kal_SetVoiceByName(step % 2 ? "Petra" : "Anna"); break;
            case 6: kal_GetCurrentVoice(); break;
            case 7: kal_ListVoices(nullptr); break;
            default: break;
            }
            PlatformSleep(step % 11 == 0 ? 20 : 2);
        }
        // A pause the engine took last must not hold the final texts.
        while (PlaybackState.load() == Paused && !late()) kal_Pause(0);
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < hosts; ++t) threads.emplace_back(host, t);
    if (controls) threads.emplace_back(mixer);
    for (std::thread& thread : threads) thread.join();
    kal_Synchronize();
    // The engine ends the last text on its own thread.
    while ((control->given.load() != control->ended.load() + control->stopped.load()) && !late())
        PlatformSleep(1);
    EXPECT_FALSE(timedOut.load() || late()) << "the row did not finish within its deadline";

    Totals totals;
    totals.texts = perThread * hosts;
    for (int thread = 0; thread < hosts; ++thread) {
        for (int seq = 0; seq < perThread; ++seq) {
            if (seen(thread, seq)) ++totals.spoken;
            else if (stopsBegun.load() > stopsBefore[thread][seq]) ++totals.discarded;
            else ++totals.lost;
        }
    }
    totals.duplicated = control->duplicated.load();
    totals.outOfOrder = control->outOfOrder.load();
    EXPECT_EQ(control->given.load(), control->ended.load() + control->stopped.load())
        << "every text the engine was given ends or is stopped";
    return totals;
}

void LoadTest::RunRows(int hosts) {
    ASSERT_TRUE(Start()) << ReadFileText(folder + "kal.pro");
    LogSetLevel(0);  // a protocol line per call would measure the disk
    const int texts = TextCount();
    struct Row {
        const char* label;
        int32_t mode;
    } rows[] = {
        {"engine thread", kEndOnWorker},
        {"synchronous", kEndSynchronous},
        {"two engine threads", kEndOnTwoThreads},
    };
    for (const Row& row : rows) {
        const auto begun = std::chrono::steady_clock::now();
        const Totals t = Run(row.mode, texts, hosts, true);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        // One line per row; scripts/sanitize.sh adds them up.
        printf("stress-row: hosts=%d %s texts=%d spoken=%d discarded=%d lost=%d duplicated=%u out_of_order=%u "
               "waits_expired=%u seconds=%.1f\n",
               hosts, row.label, t.texts, t.spoken, t.discarded, t.lost, t.duplicated, t.outOfOrder,
               patienceRanOut.load(), seconds);
        fflush(stdout);
        const std::string label = std::to_string(hosts) + " hosts, " + row.label;
        EXPECT_EQ(0, t.lost) << label;
        EXPECT_EQ(0u, t.duplicated) << label;
        EXPECT_EQ(0u, t.outOfOrder) << label;
        EXPECT_EQ(t.texts, t.spoken + t.discarded + t.lost) << label;
    }
}
}  // namespace

// Short test names: the engine's path must stay within the 128 characters the
// system's file-existence check takes.
// One host thread: every text spoken once, in order, or discarded by a stop.
TEST_F(LoadTest, OneHost) { RunRows(1); }

// Four host threads calling at once: the exports must behave as if the calls
// came one after another.
TEST_F(LoadTest, FourHosts) { RunRows(kHostThreads); }

// Start-up and shut-down in a loop, a text spoken in each round: nothing leaks,
// nothing hangs, and every round speaks.
TEST_F(LoadTest, Cycles) {
    LogSetLevel(0);
    constexpr int kCycles = 1000;
    int spokenRounds = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_TRUE(Start()) << "cycle " << cycle;
        const std::string text = "h0n" + std::to_string(cycle);
        kal_Key(text.c_str());
        kal_Synchronize();
        if (LastText() == text) ++spokenRounds;
        kal_Terminate();
    }
    printf("cycles: initialize_terminate=%d spoken=%d\n", kCycles, spokenRounds);
    EXPECT_EQ(kCycles, spokenRounds);
}
