#include <atomic>
#include <cstdio>
#include <thread>

#include "speech_support.h"

using PlaybackTest = SpeechTest;

TEST_F(PlaybackTest, StopEmptiesTheQueueAndStopsTheEngine) {
    struct Row {
        const char* label;
        bool initialised;
        int32_t state;
        std::vector<std::string> calls;
        int32_t stateAfter;
    } rows[] = {
        {"speaking", true, Speaking, {"stop", "status 0"}, Idle},
        {"no session", false, Speaking, {}, Speaking},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        QueueClear();
        InstallFakeEngine(fake);
        QueueAdd("spricht", 4);  // the engine speaks it
        for (int i = 0; i < 5; ++i) QueueAdd("wartet", 10 + i);
        Engine.initialised = row.initialised;
        PlaybackState = row.state;
        fake.calls.clear();
        EXPECT_EQ(0, PlaybackStop()) << row.label;
        EXPECT_EQ(row.calls, fake.calls) << row.label;
        EXPECT_EQ(row.stateAfter, PlaybackState.load()) << row.label;
        for (const QueueSlot& slot : Queue.slots) EXPECT_EQ(Free, slot.state) << row.label;
        EXPECT_EQ(4, speakingMark) << row.label;  // the queue is cleared, the mark stays
        EXPECT_EQ(0, Queue.writeIndex + Queue.readIndex + Queue.pendingCount) << row.label;
        EXPECT_EQ(1u, Lines("KAL_: Cancel").size()) << row.label;
        EXPECT_TRUE(Lines("KAL_: Hier").empty()) << row.label;
    }
}

TEST_F(PlaybackTest, StopOfAnEngineStuckBusyGivesUpAndReportsATextStillWaiting) {
    fake.status = 1;
    InstallFakeEngine(fake);
    PlaybackState = Speaking;
    // A text arriving while the stop still waits for the engine is left pending.
    std::thread late([] {
        PlatformSleep(150);
        QueueAdd("spaet", 4);
    });
    EXPECT_EQ(0, PlaybackStop());
    late.join();
    EXPECT_EQ(10u, Lines("ERR:: Status nach Stop: 1").size());
    EXPECT_EQ(11u, fake.Calls("stop").size());
    EXPECT_EQ(Idle, PlaybackState.load());
    EXPECT_EQ((std::vector<std::string>{"KAL_: Hier stimmt etwas nicht!"}), Lines("KAL_: Hier"));
    EXPECT_EQ(Pending, Queue.slots[0].state);
}

TEST_F(PlaybackTest, PauseTogglesByStateWhateverTheArgument) {
    struct Row { const char* label; bool initialised; int32_t state; int32_t value; std::vector<std::string> calls; };
    const Row rows[] = {
        {"idle", true, Idle, 1, {}},           {"speaking", true, Speaking, 0, {"pause"}},
        {"paused", true, Paused, 1, {"resume"}}, {"no session", false, Speaking, -7, {}},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        fake = FakeEngine{};
        InstallFakeEngine(fake);
        Engine.initialised = row.initialised;
        PlaybackState = row.state;
        EXPECT_EQ(0, PlaybackPause(row.value)) << row.label;
        EXPECT_EQ(row.calls, fake.calls) << row.label;
        EXPECT_EQ(row.state, PlaybackState.load()) << row.label;  // only notifications move it
        EXPECT_EQ((std::vector<std::string>{"KAL_: Pause() " + std::to_string(row.value)}), Protocol()) << row.label;
    }
}

TEST_F(PlaybackTest, IsPlayingCountsSpeakingOnlyWithASessionAndOtherwiseThePendingTexts) {
    struct Row { const char* label; bool initialised; int32_t state; bool pending; int32_t busy; };
    const Row rows[] = {
        {"speaking", true, Speaking, false, 1},   {"paused", true, Paused, false, 0},
        {"paused+pending", true, Paused, true, 1}, {"idle", true, Idle, false, 0},
        {"no session speaking", false, Speaking, false, 0}, {"no session pending", false, Idle, true, 1},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        QueueClear();
        InstallFakeEngine(fake);
        Engine.initialised = row.initialised;
        PlaybackState = row.state;
        Queue.slots[2].state = Taken;
        if (row.pending) Queue.slots[5].state = Pending;
        Queue.pendingCount = 9;  // as after overwrites
        EXPECT_EQ(row.busy, PlaybackIsPlaying()) << row.label;
        EXPECT_EQ((std::vector<std::string>{"KAL_: IsPlaying"}), Protocol()) << row.label;
        // The queue is only counted (freeing Taken slots) when the engine is not known to speak.
        const bool counted = !(row.initialised && row.state == Speaking);
        EXPECT_EQ(counted ? Free : Taken, Queue.slots[2].state) << row.label;
        EXPECT_EQ(counted ? row.busy : 9, Queue.pendingCount) << row.label;
    }
}

TEST_F(PlaybackTest, SynchronizeWaitsUntilTheEnginesNotificationsHaveSpokenEverything) {
    InstallFakeEngine(fake);
    std::atomic<int> started{0};
    std::atomic<bool> done{false};
    fake.onSpeak = [&] { ++started; };
    std::thread engine([&] {  // plays the engine's notification thread
        int ended = 0;
        while (!done) {
            if (ended < started) {
                PlatformSleep(30);
                Notify(kMsgBeginProcess);
                ++ended;
                Notify(kMsgEndProcess);
            } else {
                PlatformSleep(2);
            }
        }
    });
    for (const char* text : {"eins", "zwei", "drei"}) QueueAdd(text, 0);
    EXPECT_EQ(0, PlaybackSynchronize());
    const int startedAtReturn = started;
    const int32_t stateAtReturn = PlaybackState;
    done = true;
    engine.join();
    EXPECT_EQ(3, startedAtReturn);
    EXPECT_EQ(Idle, stateAtReturn);
    EXPECT_EQ((std::vector<std::string>{"setText eins", "setText zwei", "setText drei"}), fake.Calls("setText"));
    EXPECT_EQ(1u, Lines("KAL_: Synchronize").size());
}

TEST_F(PlaybackTest, SynchronizeReturnsAfterTheHostHeardTheLastEnd) {
    InstallFakeEngine(fake);
    std::atomic<bool> heard{false};
    static std::atomic<bool>* heardEnd;
    heardEnd = &heard;
    NotificationsSetHostCallback([](const KalSynthEvent* event) -> int {
        if (event->message == KAL_MSG_END) {
            PlatformSleep(150);  // a slow host: Idle is already set while it runs
            *heardEnd = true;
        }
        return 0;
    });
    QueueAdd("eins", 1);
    std::thread engine([] {
        PlatformSleep(30);
        Notify(kMsgEndProcess);
    });
    EXPECT_EQ(0, PlaybackSynchronize());
    EXPECT_TRUE(heard.load());
    engine.join();
}

TEST_F(PlaybackTest, SynchronizeMovesTheQueueOnItselfAndDropsTextsThatFailToStart) {
    fake.speakResult = 1;
    InstallFakeEngine(fake);
    PlaybackState = Speaking;
    for (const char* text : {"eins", "zwei"}) QueueAdd(text, 0);
    PlaybackState = Idle;  // an end notification that never called QueueNext
    EXPECT_EQ(0, PlaybackSynchronize());
    EXPECT_EQ((std::vector<std::string>{"setText eins", "setText zwei"}), fake.Calls("setText"));
    EXPECT_EQ(2u, Lines("KAL : -4 ft_ttsSpeak failed:").size());
    // Nothing to do: one line and back at once.
    std::remove((folder + "kal.pro").c_str());
    const uint32_t before = PlatformTickCount();
    EXPECT_EQ(0, PlaybackSynchronize());
    EXPECT_LT(PlatformTickCount() - before, 80u);
    EXPECT_EQ((std::vector<std::string>{"KAL_: Synchronize"}), Protocol());
}
