// The load rows against the real engine: host threads queue texts while a
// mixer stops, pauses, resumes and changes voice and rate. Every text a host
// thread queued is accounted for: given to eSpeak NG once and in its thread's
// order, or discarded by a stop that began after it was queued. The engine
// speaks into no output (output=none), so the texts come as fast as eSpeak NG
// synthesises them; under ThreadSanitizer this is the race check of the
// engine's worker against the driver.
#define KAL_BUILDING_DRIVER
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr int kDefaultTexts = 1000;  // every text is real synthesis
// Texts a host thread may have queued but not yet seen reach the engine (the
// driver's ring has sixteen slots).
constexpr int kWindow = 3;
constexpr uint32_t kWindowPatienceMs = 5000;
constexpr uint32_t kRowDeadlineMs = 240000;

int TextCount() {
    const char* text = std::getenv("KAL_ESPEAK_STRESS_TEXTS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : kDefaultTexts;
}

class EspeakLoadTest : public EspeakTest {
protected:
    void SetUp() override {
        EspeakTest::SetUp();
        Configure({"output=none"});
        ShortenWaits();
    }
    void Run(int hosts);
};

// "h<thread>n<sequence>" as the engine was given it.
bool Parse(const std::string& text, int& thread, int& sequence) {
    return sscanf(text.c_str(), "h%dn%d", &thread, &sequence) == 2;
}

void EspeakLoadTest::Run(int hosts) {
    ASSERT_TRUE(Start()) << ReadFileText(folder + "kal.pro");
    LogSetLevel(0);
    const int perThread = TextCount() / hosts;
    std::vector<std::vector<uint32_t>> stopsBegunBefore(hosts, std::vector<uint32_t>(perThread));
    std::atomic<uint32_t> stopsBegun{0}, stopsEnded{0}, patienceRanOut{0};
    std::atomic<int> hostsRunning{hosts};
    const uint32_t started = PlatformTickCount();
    auto late = [&] { return PlatformTickCount() - started > kRowDeadlineMs; };
    // What reached the engine, by host thread: read from the text probe.
    auto given = [&](int thread, int sequence) {
        const std::string wanted = "h" + std::to_string(thread) + "n" + std::to_string(sequence);
        for (const std::string& text : TextsGiven())
            if (text == wanted) return true;
        return false;
    };

    auto host = [&](int thread) {
        for (int seq = 0; seq < perThread && !late(); ++seq) {
            if (seq >= kWindow) {
                const int older = seq - kWindow;
                const uint32_t waitFrom = PlatformTickCount();
                auto free = [&] { return stopsEnded.load() > stopsBegunBefore[thread][older] || given(thread, older); };
                while (!free() && PlatformTickCount() - waitFrom < kWindowPatienceMs)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                if (!free()) ++patienceRanOut;
            }
            stopsBegunBefore[thread][seq] = stopsBegun.load();
            const std::string text = "h" + std::to_string(thread) + "n" + std::to_string(seq);
            kal_Synth(Text16(text.begin(), text.end()).c_str(), seq);
        }
        --hostsRunning;
    };
    auto mixer = [&] {
        unsigned step = 0;
        while (hostsRunning.load() > 0 && !late()) {
            ++step;
            switch (step % 9) {
            case 0:
                ++stopsBegun;
                kal_Stop();
                ++stopsEnded;
                break;
            case 1:
                kal_Pause(1);
                PlatformSleep(1);
                kal_Pause(0);
                break;
            case 2: kal_SetParameter(KAL_PARAM_RATE, static_cast<int>(step % 101), 0); break;
            case 3: kal_SetParameter(KAL_PARAM_VOLUME, static_cast<int>(step % 101), 0); break;
            case 4: kal_SetVoiceByName(step % 2 ? "English f2" : "Deutsch"); break;
            case 5: kal_IsPlaying(); break;
            case 6: kal_ListVoices(nullptr); break;
            default: break;
            }
            PlatformSleep(step % 9 == 0 ? 20 : 2);
        }
        while (PlaybackState.load() == Paused && !late()) kal_Pause(0);
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < hosts; ++t) threads.emplace_back(host, t);
    threads.emplace_back(mixer);
    for (std::thread& thread : threads) thread.join();
    kal_Synchronize();
    EXPECT_FALSE(late()) << "the row did not finish within its deadline";

    // Each text once, in its thread's order; a text not given was discarded by a stop.
    std::vector<int> lastSeen(hosts, -1);
    std::set<std::string> seen;
    int duplicated = 0, outOfOrder = 0, spoken = 0, lost = 0, discarded = 0;
    for (const std::string& text : TextsGiven()) {
        int thread, sequence;
        if (!Parse(text, thread, sequence) || thread < 0 || thread >= hosts) continue;
        if (!seen.insert(text).second) ++duplicated;
        else if (sequence < lastSeen[thread]) ++outOfOrder;
        lastSeen[thread] = std::max(lastSeen[thread], sequence);
    }
    for (int thread = 0; thread < hosts; ++thread)
        for (int seq = 0; seq < perThread; ++seq) {
            if (seen.count("h" + std::to_string(thread) + "n" + std::to_string(seq))) ++spoken;
            else if (stopsBegun.load() > stopsBegunBefore[thread][seq]) ++discarded;
            else ++lost;
        }
    printf("stress-row: hosts=%d espeak texts=%d spoken=%d discarded=%d lost=%d duplicated=%d out_of_order=%d "
           "waits_expired=%u seconds=%.1f\n",
           hosts, perThread * hosts, spoken, discarded, lost, duplicated, outOfOrder, patienceRanOut.load(),
           (PlatformTickCount() - started) / 1000.0);
    fflush(stdout);
    EXPECT_EQ(0, lost);
    EXPECT_EQ(0, duplicated);
    EXPECT_EQ(0, outOfOrder);
    EXPECT_EQ(0, kal_IsPlaying());
}

TEST_F(EspeakLoadTest, OneHost) { Run(1); }
TEST_F(EspeakLoadTest, FourHosts) { Run(4); }
}  // namespace
