// The live output against a real PulseAudio server that the test starts itself:
// a null sink whose monitor parec records. What the driver speaks must arrive
// there, as long as the same sentence is in a WAV file.
#define KAL_BUILDING_DRIVER
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "espeakengine/espeak_support.h"
#include "espeakengine/limits.h"
#include "kal_drv.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"
#include "support/text16.h"

extern char** environ;

namespace {
constexpr uint32_t kRate = 22050;
// How long the server may take to open its socket, and parec to connect.
constexpr uint32_t kServerStartMs = 10000;
constexpr auto kRecorderSettle = std::chrono::milliseconds(500);
// A process that does not end this long after SIGTERM is killed.
constexpr auto kProcessEndLimit = std::chrono::seconds(5);
// Samples louder than this count as sound on the monitor (silence is 0).
constexpr int kSoundThreshold = 200;
constexpr size_t kSocketPathMax = 107;
constexpr auto kToolLimit = std::chrono::milliseconds(10000);
constexpr uint32_t kTextLimitMs = 30000;
// A server that takes no sample ends the text within the engine's stall
// limit; this leaves room for a busy machine.
constexpr uint32_t kStalledTextEndsMs = 3 * kStallLimitMs;
constexpr auto kTerminateLimit = std::chrono::seconds(2);
constexpr auto kStartupLimit = std::chrono::seconds(2);
constexpr auto kPauseWatch = std::chrono::milliseconds(600);
// No sample for this long: the synthesis is over (a block comes every kBlockMs).
constexpr auto kQuietDelivery = std::chrono::milliseconds(2 * kBlockMs);

// A child process, started with its own environment and ended by its id.
class Child {
public:
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& environment, const std::string& out) {
        std::vector<char*> argv, envp;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (out + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int result = posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) pid_ = 0;
        return pid_ != 0;
    }
    void Stop() {
        if (!pid_) return;
        kill(pid_, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + kProcessEndLimit;
        int status;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = 0;
    }
    // Its exit code once it ended, -1 when it did not end within limit (it is stopped).
    int Wait(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (pid_ && waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                Stop();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Child() { Stop(); }

private:
    pid_t pid_ = 0;
};

bool SocketExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

class PulseTest : public EspeakTest {
protected:
    void SetUp() override {
        EspeakTest::SetUp();
        // A runtime folder of its own below the build tree: nothing of another
        // server or session is touched. A socket's path has at most 107
        // characters: from a deep build tree the folder is one of this process's.
        runtime = folder + "pulse/";
        if (runtime.size() + sizeof "native" > kSocketPathMax) runtime = "/tmp/kal-pulse-" + std::to_string(getpid()) + "/";
        std::filesystem::remove_all(runtime);
        std::filesystem::create_directories(runtime);
        socket = runtime + "native";
        environment = {"HOME=" + runtime, "XDG_RUNTIME_DIR=" + runtime, "PULSE_RUNTIME_PATH=" + runtime,
                       "PULSE_STATE_PATH=" + runtime, "PATH=/usr/bin:/bin"};
    }
    void TearDown() override {
        EspeakTest::TearDown();
        recorder.Stop();
        server.Stop();
        std::filesystem::remove_all(runtime);
    }
    // The server with its null sink, answering at socket.
    bool StartServer() {
        if (!server.Start({"pulseaudio", "--system=false", "-n", "--daemonize=no", "--exit-idle-time=-1",
                           "--use-pid-file=no", "--log-target=stderr",
                           "-L", "module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
                           "-L", "module-null-sink sink_name=kaltest rate=22050 channels=1"},
                          environment, runtime + "server.log"))
            return false;
        return WaitFor([&] { return SocketExists(socket); }, kServerStartMs);
    }
    // pactl with args against the test's server; true when it succeeded.
    bool Pactl(const std::vector<std::string>& args) {
        std::vector<std::string> all{"pactl", "--server=unix:" + socket};
        all.insert(all.end(), args.begin(), args.end());
        Child tool;
        return tool.Start(all, environment, runtime + "pactl.log") && tool.Wait(kToolLimit) == 0;
    }
    size_t Count(int message) {
        size_t n = 0;
        for (const SynthEventSeen& e : Events()) n += e.message == message;
        return n;
    }
    std::string runtime, socket;
    std::vector<std::string> environment;
    Child server, recorder;
};

TEST_F(PulseTest, WhatTheDriverSpeaksArrivesAtTheServer) {
    // The same sentence into a WAV file first: the length to expect.
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    const Text16 text = T16("Guten Tag, dies kommt aus dem Lautsprecher.");
    kal_Synth(text.c_str(), 1);
    kal_Synchronize();
    const double expected = ReadWav(wavPath).Seconds();
    ASSERT_GT(expected, 0.5);
    kal_Terminate();

    ASSERT_TRUE(server.Start({"pulseaudio", "--system=false", "-n", "--daemonize=no", "--exit-idle-time=-1",
                              "--use-pid-file=no", "--log-target=stderr",
                              "-L", "module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
                              "-L", "module-null-sink sink_name=kaltest rate=22050 channels=1"},
                             environment, runtime + "server.log"))
        << "pulseaudio (Debian's pulseaudio package) is missing";
    ASSERT_TRUE(WaitFor([&] { return SocketExists(socket); }, kServerStartMs)) << ReadFileText(runtime + "server.log.err");
    const std::string recording = runtime + "monitor.raw";
    ASSERT_TRUE(recorder.Start({"parec", "--server=unix:" + socket, "--device=kaltest.monitor", "--format=s16le",
                                "--rate=22050", "--channels=1", "--raw"},
                               environment, recording));
    std::this_thread::sleep_for(kRecorderSettle);

    Configure({"output=pulse", "pulse=unix:" + socket});
    ASSERT_TRUE(Start()) << ReadFileText(folder + "kal.pro");
    kal_SetVoiceByName("Deutsch");
    const auto begun = std::chrono::steady_clock::now();
    kal_Synth(text.c_str(), 1);
    kal_Synchronize();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    std::this_thread::sleep_for(kRecorderSettle);
    recorder.Stop();

    // Live output is played, not only written: the end comes after the sound.
    EXPECT_GE(took, expected * 0.9) << "the end came before the audio could have been played";
    const Audio heard = ReadRaw(recording, kRate);
    size_t first = heard.samples.size(), last = 0;
    for (size_t i = 0; i < heard.samples.size(); ++i)
        if (std::abs(static_cast<int>(heard.samples[i])) > kSoundThreshold) {
            if (first == heard.samples.size()) first = i;
            last = i;
        }
    ASSERT_LT(first, heard.samples.size()) << "nothing arrived at the server (" << heard.samples.size() << " samples)";
    const double span = static_cast<double>(last - first) / kRate;
    EXPECT_GT(span, expected * 0.8) << "heard " << span << " s of " << expected << " s";
    EXPECT_LT(span, expected * 1.2 + 0.2) << "heard " << span << " s of " << expected << " s";
}
}  // namespace

namespace {
// After the server restarts, the next text is played again (it was begun and
// ended at once, unheard, until the driver was restarted).
TEST_F(PulseTest, AfterTheServerRestartsTextsArePlayedAgain) {
    ASSERT_TRUE(StartServer()) << ReadFileText(runtime + "server.log.err");
    Configure({"output=pulse", "pulse=unix:" + socket});
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    const Text16 text = T16("This sentence is played, and it takes its time.");
    auto timed = [&](int mark) {
        const size_t ends = Count(KAL_MSG_END);
        const auto begun = std::chrono::steady_clock::now();
        kal_Synth(text.c_str(), mark);
        EXPECT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) > ends; }, kTextLimitMs)) << "text " << mark;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    };
    const double first = timed(1);
    ASSERT_GT(first, 1.0);
    server.Stop();
    ASSERT_TRUE(StartServer()) << ReadFileText(runtime + "server.log.err");
    timed(2);  // may end early: the engine learns of the restart with it
    const double third = timed(3);
    // The server's own pace varies by seconds on a busy machine; unheard is
    // a few hundredths.
    EXPECT_GT(third, first * 0.3) << "after the restart the text ended at once, unheard";
}

// A sink that takes nothing (suspended): each text ends, the one after a stop
// too, and the driver ends at once.
TEST_F(PulseTest, ASinkThatNeverPlaysEndsTextsAndNeverHoldsTheDriver) {
    ASSERT_TRUE(StartServer()) << ReadFileText(runtime + "server.log.err");
    Configure({"output=pulse", "pulse=unix:" + socket});
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    ASSERT_TRUE(Pactl({"suspend-sink", "kaltest", "1"})) << ReadFileText(runtime + "pactl.log.err");
    kal_Synth(T16("This text is never heard."), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kal_Stop();
    kal_Synth(T16("Nor is this one, but it ends."), 2);
    EXPECT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) >= 1; }, kStalledTextEndsMs)) << "the text after the stop was dropped";
    const std::vector<SynthEventSeen> seen = Events();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(2, seen.back().mark);
    kal_Synth(T16("A third text is speaking when the driver ends."), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto begun = std::chrono::steady_clock::now();
    kal_Terminate();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, kTerminateLimit);
}

// A server socket that accepts and never answers: the start fails soon.
TEST_F(PulseTest, AServerThatNeverAnswersFailsTheStartSoon) {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener, 4));  // connections wait in the backlog, unanswered
    Configure({"output=pulse", "pulse=unix:" + socket});
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, kal_Initialize());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, kStartupLimit);
    close(listener);
}

// While a text's last samples play, a stop cuts it (no end) and a pause holds
// it (no end until the resume); a stop right after the start leaves the next
// text to be spoken.
TEST_F(PulseTest, StopAndPauseInATextsLastMomentsAndRightAfterTheStart) {
    ASSERT_TRUE(StartServer()) << ReadFileText(runtime + "server.log.err");
    Configure({"output=pulse", "pulse=unix:" + socket});
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(Start()) << round;
        kal_SetVoiceByName("English");
        const size_t ends = Count(KAL_MSG_END);
        kal_Synth(T16("A text that is stopped at once."), 10 + round);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
        kal_Stop();
        kal_Synth(T16("The next one."), 20 + round);
        EXPECT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) > ends; }, kTextLimitMs)) << "round " << round;
        EXPECT_EQ(20 + round, Events().back().mark) << "round " << round;
        kal_Terminate();
    }

    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    const Text16 text = T16("Short text.");
    const size_t base = Count(KAL_MSG_END);
    const uint64_t before = SamplesDelivered();
    kal_Synth(text.c_str(), 1);
    ASSERT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) == base + 1; }, kTextLimitMs));
    const uint64_t whole = SamplesDelivered() - before;
    ASSERT_GT(whole, 0u);

    // The same text again gives nearly the same samples; once they went to
    // the server and no more came for a moment, its last ones are playing.
    auto lastMoments = [&](uint64_t from) {
        return WaitFor([&] { return SamplesDelivered() >= from + whole * 9 / 10; }, kTextLimitMs) &&
               WaitFor([&] { return std::chrono::steady_clock::now() - LastDelivery() > kQuietDelivery; }, kTextLimitMs);
    };
    // A pause then: the end waits for the resume.
    uint64_t from = SamplesDelivered();
    kal_Synth(text.c_str(), 2);
    ASSERT_TRUE(lastMoments(from));
    kal_Pause(1);
    std::this_thread::sleep_for(kPauseWatch);
    EXPECT_EQ(base + 1, Count(KAL_MSG_END)) << "the text ended while the host had paused it";
    EXPECT_EQ(Paused, PlaybackState.load());
    kal_Pause(0);
    EXPECT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) == base + 2; }, kTextLimitMs));

    // A stop then: the text is cut, without an end; the next text's end is its own.
    from = SamplesDelivered();
    kal_Synth(text.c_str(), 3);
    ASSERT_TRUE(lastMoments(from));
    kal_Stop();
    kal_Synth(text.c_str(), 4);
    ASSERT_TRUE(WaitFor([&] { return Count(KAL_MSG_END) == base + 3; }, kTextLimitMs));
    std::this_thread::sleep_for(kPauseWatch);
    EXPECT_EQ(base + 3, Count(KAL_MSG_END)) << "the stopped text ended as well";
    const std::vector<SynthEventSeen> seen = Events();
    EXPECT_EQ(KAL_MSG_END, seen.back().message);
    EXPECT_EQ(4, seen.back().mark);
}
}  // namespace
