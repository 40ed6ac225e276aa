// The speech core with more than one thread inside, and with an engine that
// throws: in-process, with the fake engine, where the host-level tests cannot
// reach (exceptions do not cross module boundaries) or cannot time it.
#include <windows.h>

#include <atomic>
#include <set>
#include <thread>

#include "config/config.h"
#include "speech_support.h"

using ThreadsTest = SpeechTest;

TEST_F(ThreadsTest, AnEngineThatThrowsInTheHandOverLeavesTheDriverSpeaking) {
    struct Row {
        const char* label;
        const char* throwsIn;
        int32_t setTextResult;
        std::vector<std::string> lines;  // what the failed start writes (engine tag)
    } rows[] = {
        {"status", "status", 0, {"KAL : ft_ttsGetInstStatus failed EX: 2A: ", "KAL : Fehler Speak...-1 sta"}},
        {"set text", "setText", 0, {"KAL : ft_ttsSetText failed EX: 2A: "}},
        {"error text", "error", 0x105,
         {"KAL : ft_ttsErrorGetString failed EX: 2A: ", "KAL : -3 ft_ttsSetText failed: 0x105 "}},
        {"stop", "stop", 0x105, {"KAL : -3 ft_ttsSetText failed: 0x105 ", "KAL : ft_ttsStop failed EX: 2A: "}},
    };
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        QueueClear();
        PlaybackState = Idle;
        fake = FakeEngine{};
        fake.throwValue = 42;
        fake.throwsIn = {row.throwsIn};
        fake.setTextResult = row.setTextResult;
        InstallFakeEngine(fake);
        EXPECT_NO_THROW(QueueAdd("eins", 1)) << row.label;
        EXPECT_EQ(row.lines, LinesStartingWith(Protocol(), "KAL : ")) << row.label;
        EXPECT_EQ(Idle, PlaybackState.load()) << row.label;
        EXPECT_FALSE(DriverIsBusy()) << row.label;
        EXPECT_EQ(0, PlaybackSynchronize()) << row.label;
        // The engine behaves again: the next text is started at once.
        fake.throwsIn.clear();
        fake.setTextResult = 0;
        QueueAdd("zwei", 2);
        EXPECT_EQ("setText zwei", fake.Calls("setText").back()) << row.label;
        EXPECT_EQ(Speaking, PlaybackState.load()) << row.label;
    }
}

TEST_F(ThreadsTest, AHandOverInProgressCountsAsBusy) {
    InstallFakeEngine(fake);
    PlaybackState = Speaking;
    QueueAdd("zwei", 2);  // waits for the end of the text being spoken
    std::atomic<bool> polling{false};
    fake.onStatus = [&] {
        if (polling.exchange(true)) return;
        Sleep(300);  // the engine is slow to answer the first poll
    };
    std::thread engine([] { Notify(kMsgEndProcess); });
    while (!polling.load()) Sleep(1);
    // The text has left its slot but the engine has not started it yet.
    EXPECT_TRUE(DriverIsBusy());
    // Synchronize returns only once that text has started and ended.
    std::thread ending([this] {
        while (fake.Calls("speak").empty()) Sleep(1);
        Sleep(100);
        Notify(kMsgEndProcess);
    });
    EXPECT_EQ(0, PlaybackSynchronize());
    EXPECT_EQ(Idle, PlaybackState.load());
    EXPECT_EQ((std::vector<std::string>{"setText zwei"}), fake.Calls("setText"));
    engine.join();
    ending.join();
}

TEST_F(ThreadsTest, ShutdownWaitsForRunningNotificationsAndTheHostHearsNothingAfter) {
    InstallFakeEngine(fake);
    static std::atomic<int> calls{0};
    static std::atomic<bool> inside{false}, finished{false};
    calls = 0;
    inside = false;
    finished = false;
    NotificationsSetHostCallback([](const KalSynthEvent*) -> int {
        ++calls;
        inside = true;
        Sleep(300);
        finished = true;
        return 0;
    });
    std::thread engine([] { Notify(kMsgEndProcess); });
    while (!inside.load()) Sleep(1);
    ShutdownEngine();
    EXPECT_TRUE(finished.load()) << "the engine was closed while its thread was still in the host's callback";
    engine.join();
    Notify(kMsgBeginProcess);  // an engine that notifies after its close
    EXPECT_EQ(1, calls.load());
    EXPECT_EQ(1u, fake.Calls("close").size());
}

TEST_F(ThreadsTest, TheTextTheEngineReadsIsNeverRewritten) {
    InstallFakeEngine(fake);
    QueueAdd("erster Text", 1);
    const char* reading = fake.lastText.text;
    ASSERT_STREQ("erster Text", reading);
    // A stop clears the ring, and new texts reuse its slots while the engine
    // still speaks (or finishes) the first one.
    QueueClear();
    for (int i = 0; i < kQueueSlots; ++i) QueueAdd("neu", 2);
    EXPECT_STREQ("erster Text", reading);
}

TEST_F(ThreadsTest, IntakeFromTwoThreadsKeepsEachThreadsTexts) {
    LogSetLevel(0);
    SpeechTestingSetTimings({0, kShippedSpeechTimings.stopPollWaitMs, kShippedSpeechTimings.shutdownSettleMs,
                             kShippedSpeechTimings.synchronizePollMs});
    InstallFakeEngine(fake);
    fake.onSpeak = [] { PlaybackState = Idle; };  // done at once, so every text is taken
    const int kEach = 3000;
    auto intake = [](char name) {
        for (int i = 0; i < kEach; ++i) IntakeKey((std::string(1, name) + std::to_string(i)).c_str());
    };
    std::thread a(intake, 'a'), b(intake, 'b');
    a.join();
    b.join();
    std::multiset<std::string> spoken;
    for (const std::string& call : fake.Calls("setText ")) spoken.insert(call.substr(8));
    for (char name : {'a', 'b'})
        for (int i = 0; i < kEach; ++i) {
            const std::string text = std::string(1, name) + std::to_string(i);
            EXPECT_EQ(1u, spoken.count(text)) << text;
        }
    SpeechTestingSetTimings(kShippedSpeechTimings);
}

namespace {
// What an engine built with the platform's usual C++ compiler raises for
// `throw value;`: a structured exception with that compiler's throw records.
struct TypeName {
    const void* vtable;
    void* spare;
    char name[8];
};
struct Catchable {
    unsigned properties;
    const TypeName* type;
    int displacement[3];
    int size;
    const void* copy;
};
struct CatchableList {
    int count;
    const Catchable* types[1];
};
struct ThrowRecord {
    unsigned attributes;
    const void* unwind;
    const void* forward;
    const CatchableList* catchable;
};

void RaiseForeign(const char* typeName, uint32_t value) {
    static TypeName type;
    snprintf(type.name, sizeof type.name, "%s", typeName);
    static const Catchable catchable{0, &type, {0, -1, 0}, 4, nullptr};
    static const CatchableList list{1, {&catchable}};
    static const ThrowRecord info{0, nullptr, nullptr, &list};
    static uint32_t object;
    object = value;
    const ULONG_PTR arguments[3] = {0x19930520, reinterpret_cast<ULONG_PTR>(&object),
                                    reinterpret_cast<ULONG_PTR>(&info)};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, arguments);
}
}  // namespace

// Such an exception passes this library's own C++ handlers: the guards must
// still catch it, take an unsigned 32-bit value as their own, and keep the host.
TEST_F(ThreadsTest, ForeignCompilersExceptionsAreCaughtAtTheEngineAndTheHost) {
    struct Row {
        const char* label;
        const char* type;
        std::string line;
    } rows[] = {{"unsigned", ".I", "KAL : ft_ttsSpeak failed EX: 2A: "}, {"int", ".H", "KAL : ft_ttsSpeak failed EX: ?: "}};
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        QueueClear();
        PlaybackState = Idle;
        fake = FakeEngine{};
        const char* type = row.type;
        fake.onSpeak = [type] { RaiseForeign(type, 42); };
        InstallFakeEngine(fake);
        QueueAdd("eins", 1);
        EXPECT_EQ((std::vector<std::string>{row.line}), LinesStartingWith(Protocol(), "KAL : ")) << row.label;
        EXPECT_EQ(Idle, PlaybackState.load()) << row.label;
        fake.onSpeak = nullptr;
        QueueAdd("zwei", 2);
        EXPECT_EQ("setText zwei", fake.Calls("setText").back()) << row.label;
    }
    // From the host's callback, on the engine's thread.
    std::remove((folder + "kal.pro").c_str());
    NotificationsSetHostCallback([](const KalSynthEvent*) -> int {
        RaiseForeign(".I", 7);
        return 0;
    });
    std::thread engine([] { EXPECT_EQ(0, Notify(kMsgBeginProcess)); });
    engine.join();
    EXPECT_EQ("KAL : CbOutNotify Fehler 0x7", LinesStartingWith(Protocol(), "KAL : CbOutNotify Fehler").at(0));
}
