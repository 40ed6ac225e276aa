#include <cstdio>
#include <cstring>

#include "speech_support.h"

using QueueTest = SpeechTest;
using SpeakTest = SpeechTest;

TEST_F(QueueTest, IdleEngineTakesTheTextAtOnceAndSpeaksTheSlotsOwnText) {
    InstallFakeEngine(fake);
    QueueAdd("A", 7);
    const QueueSlot& slot = Queue.slots[0];
    EXPECT_STREQ("A", slot.text);
    EXPECT_EQ(Taken, slot.state);
    EXPECT_EQ(1, Queue.writeIndex);
    EXPECT_EQ(0, Queue.readIndex);
    EXPECT_EQ(0, Queue.pendingCount);
    EXPECT_EQ(7, speakingMark);
    EXPECT_EQ(Speaking, PlaybackState.load());
    EXPECT_EQ((std::vector<std::string>{"Buf : Add - Speak A", "Buf : Next - Speak A"}), Protocol());
    EXPECT_EQ((std::vector<std::string>{"status 0", "status 0", "setText A", "speak"}), fake.calls);
    // The engine reads a copy of its own, which outlives the call and no later
    // change of the ring touches.
    EXPECT_NE(slot.text, Engine.textRecord.text);
    EXPECT_STREQ("A", Engine.textRecord.text);
    EXPECT_EQ(1u, Engine.textRecord.length);
    EXPECT_EQ(0u, Engine.textRecord.zero);
}

TEST_F(QueueTest, RingOverwritesTheOldestAndSpeaksInSlotOrderFromTheLastTaken) {
    InstallFakeEngine(fake);
    PlaybackState = Paused;  // texts wait while paused, as while speaking
    for (int i = 0; i <= 16; ++i) QueueAdd(("T" + std::to_string(i)).c_str(), 100 + i);
    EXPECT_EQ(1, Queue.writeIndex);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_STREQ("T16", Queue.slots[0].text);  // slot 0 written twice; T0 is lost
    EXPECT_EQ(17, Queue.pendingCount);         // one above the 16 really pending
    std::vector<std::string> expected;
    for (int i : {16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
        Notify(kMsgEndProcess);
        expected.push_back("setText T" + std::to_string(i));
        EXPECT_EQ(100 + i, speakingMark) << "text T" << i;
    }
    EXPECT_EQ(expected, fake.Calls("setText"));
    EXPECT_EQ(1, Queue.pendingCount);
    // The search that finds nothing brings the count back and leaves readIndex at 16.
    Notify(kMsgEndProcess);
    EXPECT_EQ(0, Queue.pendingCount);
    EXPECT_EQ(16, Queue.readIndex);
    EXPECT_EQ(16u, fake.Calls("setText").size());
    // The next search starts again at slot 0 and finds the new text in slot 1.
    QueueAdd("X", 5);
    EXPECT_EQ(1, Queue.readIndex);
    EXPECT_EQ("setText X", fake.Calls("setText").back());
    EXPECT_EQ(5, speakingMark);
}

TEST_F(QueueTest, SessionNotInitialisedTakesTheTextAndLosesIt) {
    PlaybackState = Speaking;  // not looked at without a session
    QueueAdd("A", 7);
    EXPECT_EQ(Taken, Queue.slots[0].state);
    EXPECT_EQ(0, Queue.pendingCount);
    EXPECT_EQ(7, speakingMark);
    EXPECT_EQ(Speaking, PlaybackState.load());
    EXPECT_EQ((std::vector<std::string>{"Buf : Add - Speak A", "Buf : Next - Speak A"}), Protocol());
    EXPECT_EQ(Outcome::NotInitialised, SpeakText("A"));
}

TEST_F(SpeakTest, EveryResultWithItsProtocolStateAndEngineCalls) {
    struct Row {
        const char* label;
        int32_t state;
        std::deque<int32_t> statusScript;
        int32_t setTextResult, speakResult;
        bool throws;
        Outcome result;
        std::vector<std::string> protocol;
        int32_t stateAfter;
        std::vector<std::string> calls;
    } rows[] = {
        {"paused", Paused, {}, 0, 0, false, Outcome::EngineClaimed, {"KAL : Fehler Speak...-2 NALVOIsSpeaking"}, Paused, {}},
        {"speaking", Speaking, {}, 0, 0, false, Outcome::EngineClaimed, {"KAL : Fehler Speak...-2 NALVOIsSpeaking"}, Speaking, {}},
        {"busy first", Idle, {3}, 0, 0, false, Outcome::EngineBusy, {"KAL : Fehler Speak...-1 sta"}, Idle, {"status 3"}},
        {"busy second", Idle, {0, 2}, 0, 0, false, Outcome::EngineBusy, {"KAL : Fehler Speak..-1.Idle"}, Idle, {"status 0", "status 2"}},
        {"set text", Idle, {}, 0x105, 0, false, Outcome::SetTextFailed, {"KAL : -3 ft_ttsSetText failed: 0x105 Text fuenf"}, Idle,
         {"status 0", "status 0", "setText Hallo", "error 5", "stop"}},
        {"speak", Idle, {}, 0, 0x2A7, false, Outcome::SpeakFailed, {"KAL : -4 ft_ttsSpeak failed: 0x2A7: Text A7"}, Idle,
         {"status 0", "status 0", "setText Hallo", "speak", "error 167", "stop"}},
        // The text does not count as started: the engine is stopped and given back.
        {"exception", Idle, {}, 0, 0, true, Outcome::SpeakFailed, {"KAL : ft_ttsSpeak failed EX: DEADBEEF: "}, Idle,
         {"status 0", "status 0", "setText Hallo", "speak", "stop"}},
        {"started", Idle, {}, 0, 0, false, Outcome::Ok, {}, Speaking, {"status 0", "status 0", "setText Hallo", "speak"}},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        fake = FakeEngine{};
        fake.errorTexts = {{5, "Text fuenf"}, {167, "Text A7"}};
        fake.statusScript = row.statusScript;
        fake.setTextResult = row.setTextResult;
        fake.speakResult = row.speakResult;
        fake.throwOnSpeak = row.throws;
        fake.throwValue = 0xDEADBEEF;
        InstallFakeEngine(fake);
        PlaybackState = row.state;
        Engine.lastResult = 0x7777;
        EXPECT_EQ(row.result, SpeakText("Hallo")) << row.label;
        EXPECT_EQ(row.protocol, Protocol()) << row.label;
        EXPECT_EQ(row.stateAfter, PlaybackState.load()) << row.label;
        EXPECT_EQ(row.calls, fake.calls) << row.label;
        // After a failed start lastResult holds the stop's result, not the failing code.
        if (row.result == Outcome::SetTextFailed || row.result == Outcome::SpeakFailed || row.result == Outcome::Ok) {
            EXPECT_EQ(0, Engine.lastResult) << row.label;
        }
    }
    // An empty text has no special case; without a session nothing at all happens.
    PlaybackState = Idle;
    EXPECT_EQ(Outcome::Ok, SpeakText(""));
    EXPECT_EQ(0u, fake.lastText.length);
    Engine.initialised = 0;
    PlaybackState = Paused;
    fake.calls.clear();
    EXPECT_EQ(Outcome::NotInitialised, SpeakText("Hallo"));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(Paused, PlaybackState.load());
}
