// sd_kal started on its own, as speech-dispatcher starts it: a module that
// cannot start the driver answers INIT with a failure and says why.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef SD_KAL_PRODUCT_DIR
#error "SD_KAL_PRODUCT_DIR names the product folder"
#endif

namespace {
// The reply to INIT comes within this (a failed start is quick).
constexpr int kReplyLimitMs = 10000;

// Sends input to sd_kal and gives its output up to the input's end.
// Its standard error (speech-dispatcher's log of the module) goes to log.
std::string Converse(const std::string& config, const std::string& input, const std::vector<std::string>& environment,
                     const std::string& log) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = std::string(SD_KAL_PRODUCT_DIR) + "/sd_kal";
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(config.c_str()), nullptr};
    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned != 0) return "";
    if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return "";
    close(in[1]);
    std::string output;
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyLimitMs);
    char buffer[1024];
    for (;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got > 0) output.append(buffer, static_cast<size_t>(got));
        else if (got == 0 || std::chrono::steady_clock::now() > until) break;
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(out[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return output;
}

class StartupTest : public testing::Test {
protected:
    void SetUp() override {
        folder = testing::TempDir() + "sd_kal_startup_" + std::to_string(getpid()) + "/";
        std::filesystem::create_directories(folder);
        environment = {"HOME=" + folder, "XDG_RUNTIME_DIR=" + folder, "PATH=/usr/bin:/bin",
                       // No server: the engine's PulseAudio output cannot open.
                       "PULSE_SERVER=unix:" + folder + "no-server"};
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string Config(const std::string& text) {
        std::ofstream(folder + "kal.conf") << text;
        return folder + "kal.conf";
    }
    std::string folder;
    std::vector<std::string> environment;
};

TEST_F(StartupTest, InitFailsWithItsReason) {
    const struct {
        const char* label;
        std::string config;
        const char* reason;
        const char* logged;  // what the module's log says besides
    } rows[] = {
        {"no driver there", "KalDriver \"/nonexistent/libkal_drv.so\"\n", "399-cannot load /nonexistent/libkal_drv.so", ""},
        {"a file that is no driver", "KalDriver \"kal.conf\"\n", "399-cannot load", ""},
        {"a bad line", "KalDriver\n", "399-", ""},
        {"no sound server", "", "399-the driver's engine did not start", "no PulseAudio server reachable"},
    };
    for (const auto& row : rows) {
        std::string config = row.config;
        // A path relative to sd_kal's folder: this test's kal.conf seen from the product folder.
        const size_t relative = config.find("\"kal.conf\"");
        if (relative != std::string::npos) config.replace(relative, 10, "\"" + folder + "kal.conf\"");
        const std::string output =
            Converse(Config(config), "INIT\nSPEAK\nhello\n.\nQUIT\n", environment, folder + "module.log");
        std::ifstream log(folder + "module.log");
        const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        EXPECT_NE(std::string::npos, logged.find(row.logged)) << row.label << ": " << logged;
        EXPECT_EQ(0u, output.find(row.reason)) << row.label << ": " << output;
        EXPECT_NE(std::string::npos, output.find("\n399 ERR CANT INIT MODULE\n")) << row.label << ": " << output;
        // Without a driver nothing is spoken, and the module still answers.
        EXPECT_NE(std::string::npos, output.find("301 ERROR CANT SPEAK\n210 OK QUIT\n")) << row.label << ": " << output;
    }
}

TEST_F(StartupTest, OnlyPulseAudioIsAcceptedAsTheAudioMethod) {
    // Before INIT, no driver is needed to answer.
    const std::string output = Converse(Config(""),
                                        "AUDIO\naudio_output_method=server\n.\nAUDIO\naudio_output_method=alsa\n.\n"
                                        "AUDIO\naudio_output_method=pulse\naudio_pulse_device=default\n.\nQUIT\n",
                                        environment, folder + "module.log");
    EXPECT_EQ("207 OK RECEIVING AUDIO SETTINGS\n300-the driver plays its audio itself, through PulseAudio only, not 'server'\n"
              "300 UNKNOWN ERROR\n207 OK RECEIVING AUDIO SETTINGS\n300-the driver plays its audio itself, through "
              "PulseAudio only, not 'alsa'\n300 UNKNOWN ERROR\n207 OK RECEIVING AUDIO SETTINGS\n203 OK AUDIO "
              "INITIALIZED\n210 OK QUIT\n",
              output);
}
}  // namespace
