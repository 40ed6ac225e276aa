// The speaker against a driver of the test's own (its exports as function
// pointers in KalApi): which text the driver's notices belong to, the events
// and marks that follow from them and their order, stops, and a message the
// driver never ends.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "sdmodule/output.h"
#include "sdmodule/speaker.h"
#include "sdmodule/ssml.h"

namespace {
// How long the speaker's thread may take to write what a notice causes.
constexpr int kOutputLimitMs = 3000;
// Output that must not come is waited for this long.
constexpr int kNothingMs = 200;

// The driver of the test: what it was given, and the callback to notify.
std::mutex driverLock;
std::vector<int> synthMarks;  // guarded by driverLock
int stops = 0;                // guarded by driverLock
std::atomic<int> playing{1};
KalSynthCallback callback = nullptr;

int KAL_CDECL FakeSetCallback(KalSynthCallback c) {
    callback = c;
    return 0;
}
int KAL_CDECL FakeSynth(const kal_char16*, int mark) {
    std::lock_guard<std::mutex> guard(driverLock);
    synthMarks.push_back(mark);
    return 0;
}
int KAL_CDECL FakeStop() {
    std::lock_guard<std::mutex> guard(driverLock);
    ++stops;
    return 0;
}
int KAL_CDECL FakeIsPlaying() { return playing; }

void Notify(int message, int mark) {
    const KalSynthEvent event{message, mark, 0, 0};
    callback(&event);
}

class SpeakerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, pipe2(fds, O_CLOEXEC));
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        api.SetSynthCallback = FakeSetCallback;
        api.Synth = FakeSynth;
        api.Stop = FakeStop;
        api.IsPlaying = FakeIsPlaying;
        {
            std::lock_guard<std::mutex> guard(driverLock);
            synthMarks.clear();
            stops = 0;
        }
        playing = 1;
        output.reset(new Output(fds[1]));
        speaker.reset(new Speaker(api, *output));
        speaker->Start();
    }
    void TearDown() override {
        speaker.reset();
        close(fds[0]);
        close(fds[1]);
    }
    // Everything written until text has come (or the limit).
    std::string ReadUntil(const std::string& text, int limitMs = kOutputLimitMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (written.find(text) == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{fds[0], POLLIN, 0};
            poll(&p, 1, 10);
            char buffer[512];
            const ssize_t got = read(fds[0], buffer, sizeof buffer);
            if (got > 0) written.append(buffer, static_cast<size_t>(got));
        }
        return written;
    }
    std::vector<int> Marks() {
        std::lock_guard<std::mutex> guard(driverLock);
        return synthMarks;
    }
    ModuleMessage Message(const std::string& ssml) {
        ModuleMessage message;
        message.kind = ModuleMessage::Text;
        message.text = ParseSsml(ssml);
        return message;
    }
    // Waits until the driver was given count texts; their marks.
    std::vector<int> WaitForTexts(size_t count) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOutputLimitMs);
        while (Marks().size() < count && std::chrono::steady_clock::now() < until) usleep(1000);
        return Marks();
    }

    int fds[2];
    KalApi api;
    std::unique_ptr<Output> output;
    std::unique_ptr<Speaker> speaker;
    std::string written;
};

const char* kMarked = "<speak>one<mark name=\"m1\"/>two<mark name=\"m2\"/>three<mark name=\"m3\"/></speak>";

TEST_F(SpeakerTest, AnEndClosesTheTextThatBeganLastNotTheOneItsMarkNames) {
    speaker->Speak(Message(kMarked));
    const std::vector<int> marks = WaitForTexts(3);
    ASSERT_EQ(3u, marks.size());
    const int a = marks[0], b = marks[1], c = marks[2];
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);
    // As the driver reports three queued texts: the end carries the mark of
    // the text handed over most recently.
    Notify(KAL_MSG_BEGIN, a);
    Notify(KAL_MSG_END, b);
    EXPECT_EQ("701 BEGIN\n", ReadUntil("never", kNothingMs)) << "the end of the first text is not the message's";
    Notify(KAL_MSG_BEGIN, b);
    EXPECT_EQ("701 BEGIN\n700-m1\n700 INDEX MARK\n", ReadUntil("700 INDEX MARK\n"));
    // The end of the second text carries the last text's mark: not the end.
    Notify(KAL_MSG_END, c);
    EXPECT_EQ("701 BEGIN\n700-m1\n700 INDEX MARK\n", ReadUntil("never", kNothingMs));
    Notify(KAL_MSG_BEGIN, c);
    Notify(KAL_MSG_END, c);
    EXPECT_EQ("701 BEGIN\n700-m1\n700 INDEX MARK\n700-m2\n700 INDEX MARK\n700-m3\n700 INDEX MARK\n702 END\n",
              ReadUntil("702 END\n"));
}

TEST_F(SpeakerTest, AStopEndsTheMessageAndItsLateNoticesAreIgnored) {
    speaker->Speak(Message(kMarked));
    const std::vector<int> marks = WaitForTexts(3);
    ASSERT_EQ(3u, marks.size());
    Notify(KAL_MSG_BEGIN, marks[0]);
    speaker->Stop(false);
    EXPECT_EQ("701 BEGIN\n703 STOP\n", ReadUntil("703 STOP\n"));
    {
        std::lock_guard<std::mutex> guard(driverLock);
        EXPECT_EQ(1, stops);
    }
    // Notices of the stopped message, and a new message with its own marks.
    Notify(KAL_MSG_END, marks[1]);
    Notify(KAL_MSG_BEGIN, marks[1]);
    speaker->Speak(Message("<speak>four<mark name=\"m4\"/></speak>"));
    const std::vector<int> after = WaitForTexts(4);
    ASSERT_EQ(4u, after.size());
    EXPECT_GT(after[3], marks[2]) << "a mark is not used again soon";
    Notify(KAL_MSG_BEGIN, after[3]);
    Notify(KAL_MSG_END, after[3]);
    EXPECT_EQ("701 BEGIN\n703 STOP\n701 BEGIN\n700-m4\n700 INDEX MARK\n702 END\n", ReadUntil("702 END\n"));
}

TEST_F(SpeakerTest, APauseBeforeAnyBeginStillBegins) {
    speaker->Speak(Message(kMarked));
    WaitForTexts(3);
    speaker->Stop(true);
    EXPECT_EQ("701 BEGIN\n704 PAUSE\n", ReadUntil("704 PAUSE\n"));
}

TEST_F(SpeakerTest, AMessageTheDriverNeverEndsEndsWhenTheDriverIsIdle) {
    speaker->Speak(Message("<speak>lost<mark name=\"m\"/></speak>"));
    WaitForTexts(1);
    EXPECT_EQ("701 BEGIN\n", ReadUntil("never", kNothingMs)) << "no end while the driver speaks";
    playing = 0;
    EXPECT_EQ("701 BEGIN\n700-m\n700 INDEX MARK\n702 END\n", ReadUntil("702 END\n"));
}

TEST(OutputTest, EventsWaitForTheReplyOfAnOpenCommand) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    {
        Output output(fds[1]);
        output.Event("701 BEGIN\n");
        output.OpenCommand();
        output.Event("702 END\n");
        output.Reply("202 OK RECEIVING MESSAGE\n", true);
        output.Event("703 STOP\n");
        output.Reply("200 OK SPEAKING\n");
        output.Event("704 PAUSE\n");
    }
    close(fds[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    EXPECT_EQ("701 BEGIN\n202 OK RECEIVING MESSAGE\n200 OK SPEAKING\n702 END\n703 STOP\n704 PAUSE\n", text);
}
}  // namespace
