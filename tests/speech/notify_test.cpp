#include <cstdio>
#include <cstring>
#include <thread>

#include "speech_support.h"

using NotifyTest = SpeechTest;

TEST_F(NotifyTest, EachCodeMovesPlaybackStateAndReportsAsItShould) {
    struct Row { uint32_t code; int32_t before, after; std::vector<std::string> protocol; bool hostCalled; };
    const Row rows[] = {
        {1, Idle, Speaking, {"KAL : CbOutNotify  TTS_MSG_BEGINPROCESS"}, true},
        {2, Speaking, Idle, {"KAL : CbOutNotify  TTS_MSG_ENDPROCESS"}, true},
        {32, Speaking, Idle, {"KAL : CbOutNotify  TTS_MSG_STOP"}, false},
        {64, Speaking, Paused, {"KAL : CbOutNotify  TTS_MSG_PAUSE"}, false},
        {128, Paused, Speaking, {"KAL : CbOutNotify  TTS_MSG_RESUME"}, false},
        {128, Idle, Idle,
         {"KAL : CbOutNotify  TTS_MSG_RESUME", "KAL :  TTS_MSG_RESUME nalvoistspeaking war nicht pause"}, false},
        {128, Speaking, Speaking,
         {"KAL : CbOutNotify  TTS_MSG_RESUME", "KAL :  TTS_MSG_RESUME nalvoistspeaking war nicht pause"}, false},
        {16, Speaking, Speaking, {"KAL :  SSFT_TTS_MSG_OUTBUFDONE:"}, false},
        {8, Paused, Paused, {}, false},
        {4, Paused, Paused, {}, false},
        {0x10001, Idle, Idle, {}, false},  // compared whole, not by bits
    };
    InstallFakeEngine(fake);
    Listen();
    for (const Row& row : rows) {
        const std::string label = "code " + std::to_string(row.code) + " from " + std::to_string(row.before);
        std::remove((folder + "kal.pro").c_str());
        events.clear();
        PlaybackState = row.before;
        speakingMark = 40 + static_cast<int32_t>(row.code);
        SynthEventRecord = KalSynthEvent{-5, -6, -7, -8};
        OutBufferInfo info{0x12345678, 0, &info, 2, 3};  // code 16: a null stream and size 0
        EXPECT_EQ(0, Notify(row.code, &info)) << label;
        // Only code 8 fills the record, and never its first word.
        const bool filled = row.code == kMsgOutBufRequest;
        EXPECT_EQ(0x12345678u, info.reserved) << label;
        EXPECT_EQ(filled ? 10000u : 0u, info.size) << label;
        EXPECT_EQ(filled ? nullptr : &info, info.buffer) << label;
        EXPECT_EQ(filled ? 0u : 5u, info.zero12 + info.zero16) << label;
        EXPECT_EQ(row.after, PlaybackState.load()) << label;
        EXPECT_EQ(row.protocol, Protocol()) << label;
        EXPECT_EQ(static_cast<int>(row.code), SynthEventRecord.message) << label;
        EXPECT_EQ(speakingMark, SynthEventRecord.mark) << label;
        EXPECT_EQ(0, SynthEventRecord.reserved1) << label;
        EXPECT_EQ(0, SynthEventRecord.reserved2) << label;
        ASSERT_EQ(row.hostCalled ? 1u : 0u, events.size()) << label;
        if (row.hostCalled) {
            EXPECT_EQ(static_cast<int>(row.code), events[0].message) << label;
            EXPECT_EQ(speakingMark, events[0].mark) << label;
            EXPECT_EQ(0, events[0].reserved1 | events[0].reserved2) << label;
        }
    }
    EXPECT_TRUE(fake.calls.empty());  // an end with nothing pending starts nothing
}

TEST_F(NotifyTest, EndStartsThePendingTextBeforeTheHostHearsAndCarriesItsMark) {
    InstallFakeEngine(fake);
    Listen();
    QueueAdd("eins", 8);
    QueueAdd("zwei", 9);  // waits: the engine speaks "eins"
    Notify(kMsgEndProcess);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(2, events[0].message);
    EXPECT_EQ(9, events[0].mark);
    EXPECT_EQ(fake.calls.size(), events[0].engineCalls);
    EXPECT_EQ("setText zwei", fake.Calls("setText").back());
    EXPECT_EQ(Speaking, PlaybackState.load());
    // A stop notification leaves the queue alone.
    PlaybackState = Speaking;
    QueueAdd("drei", 10);
    Notify(kMsgStop);
    EXPECT_EQ(Pending, LastSlot().state);
    EXPECT_EQ(1u, events.size());
}

// The engine reports the end of "eins" while speak has not returned yet: on the
// same thread the next text starts right there; from another thread the request
// waits for the handing thread, which starts "zwei" once the engine has answered.
TEST_F(NotifyTest, EndDuringAHandOverStartsTheNextTextExactlyOnce) {
    for (bool sameThread : {true, false}) {
        const std::string label = sameThread ? "same thread" : "other thread";
        QueueClear();
        events.clear();
        fake = FakeEngine{};
        InstallFakeEngine(fake);
        Listen();
        PlaybackState = Speaking;
        QueueAdd("eins", 1);
        QueueAdd("zwei", 2);
        std::vector<uint32_t> speakThreads;
        fake.onSpeak = [&] {
            speakThreads.push_back(PlatformCurrentThreadId());
            if (speakThreads.size() > 1) return;
            if (sameThread) Notify(kMsgEndProcess);
            else std::thread([] { Notify(kMsgEndProcess); }).join();
        };
        Notify(kMsgEndProcess);
        EXPECT_EQ((std::vector<std::string>{"setText eins", "setText zwei"}), fake.Calls("setText")) << label;
        ASSERT_EQ(2u, speakThreads.size()) << label;
        EXPECT_EQ(PlatformCurrentThreadId(), speakThreads[1]) << label;
        ASSERT_EQ(2u, events.size()) << label;
        // Same thread: the end of "eins" carries the mark of "zwei", already started.
        EXPECT_EQ(sameThread ? 2 : 1, events[0].mark) << label;
        EXPECT_EQ(2, events[1].mark) << label;
        EXPECT_EQ(0, Queue.pendingCount) << label;
        EXPECT_EQ(Speaking, PlaybackState.load()) << label;
    }
}

TEST_F(NotifyTest, BufferDoneWritesTheBufferToTheStreamOnlyWhenThereIsOne) {
    char audio[] = "PCM-Daten";
    struct Row { const char* label; uint32_t size; void* buffer; bool stream; std::string written; };
    const Row rows[] = {{"written", 9, audio, true, "PCM-Daten"}, {"part", 3, audio, true, "PCM"},
                        {"size 0", 0, audio, true, ""},          {"no stream", 9, audio, false, ""},
                        {"no buffer", 9, nullptr, true, ""}};
    for (const Row& row : rows) {
        const std::string path = folder + "out.raw";
        std::remove(path.c_str());
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        OutBufferInfo info{0, row.size, row.buffer, 0, 0};
        EXPECT_EQ(0, Notify(kMsgOutBufDone, &info, row.stream ? file : nullptr)) << row.label;
        fclose(file);
        EXPECT_EQ(row.written, ReadFileText(path)) << row.label;
    }
    EXPECT_EQ(5u, Lines("KAL :  SSFT_TTS_MSG_OUTBUFDONE:").size());
}

TEST_F(NotifyTest, HostCallbackMissingOrThrowing) {
    speakingMark = 3;
    EXPECT_EQ(0, Notify(kMsgBeginProcess));
    EXPECT_EQ(0, Notify(kMsgEndProcess));
    EXPECT_EQ(3, SynthEventRecord.mark);
    std::remove((folder + "kal.pro").c_str());
    NotificationsSetHostCallback([](const KalSynthEvent*) -> int { throw uint32_t{42}; });
    EXPECT_EQ(0, Notify(kMsgBeginProcess));
    EXPECT_EQ((std::vector<std::string>{"KAL : CbOutNotify  TTS_MSG_BEGINPROCESS", "KAL : CbOutNotify Fehler 0x2A"}),
              Protocol());
    EXPECT_EQ(1, SynthEventRecord.message);
    EXPECT_EQ(Speaking, PlaybackState.load());
}
