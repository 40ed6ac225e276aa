// The live output against a real PulseAudio server that the test starts itself:
// a null sink whose monitor parec records. What the driver speaks must arrive
// there, as long as the same sentence is in a WAV file.
#define KAL_BUILDING_DRIVER
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
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
