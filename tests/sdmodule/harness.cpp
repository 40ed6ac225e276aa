#include "sdmodule/harness.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {
// A process that does not end this long after SIGTERM is killed.
constexpr auto kProcessEndLimit = std::chrono::seconds(5);
// How long a server may take to open its socket.
constexpr auto kServerStartLimit = std::chrono::seconds(10);
// How long the monitor's recorder may take to deliver its first block.
constexpr auto kRecorderStartLimit = std::chrono::seconds(5);
// A reply to a command takes at most this long.
constexpr auto kReplyLimit = std::chrono::seconds(10);
// Bytes the monitor reads at most at once: 5.8 ms of audio.
constexpr size_t kMonitorReadBytes = 256;
constexpr size_t kSocketPathMax = sizeof(sockaddr_un::sun_path) - 1;

bool SocketExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool WaitForSocket(const std::string& path) {
    const auto until = Clock::now() + kServerStartLimit;
    while (!SocketExists(path)) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
}  // namespace

bool Child::Start(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                  const std::string& out, bool pipeOut) {
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (pipeOut && pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (pipeOut) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (out + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int result = posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipeOut) {
        close(pipeFds[1]);
        outFd_ = pipeFds[0];
    }
    if (result != 0) {
        pid_ = 0;
        Stop();
    }
    return pid_ != 0;
}

void Child::Stop() {
    StopProcess();
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
}

void Child::StopProcess() {
    if (pid_) {
        kill(pid_, SIGTERM);
        const auto until = Clock::now() + kProcessEndLimit;
        int status;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = 0;
    }
}

bool Child::Wait(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    int status;
    while (pid_ && waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = 0;
    return true;
}

bool Monitor::Start(const std::string& server, const std::vector<std::string>& environment, const std::string& log) {
    // A short latency: blocks arrive as they play, so arrival times are the figures.
    if (!recorder_.Start({"parec", "--server=" + server, "--device=kaltest.monitor", "--format=s16le",
                          "--rate=" + std::to_string(kRate), "--channels=1", "--raw", "--latency-msec=10"},
                         environment, log, true))
        return false;
    reader_ = std::thread(&Monitor::Read, this);
    const auto until = Clock::now() + kRecorderStartLimit;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!blocks_.empty()) return true;
        }
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Monitor::Stop() {
    // The recorder's end ends the reader's pipe; the pipe is closed only then.
    recorder_.StopProcess();
    if (reader_.joinable()) reader_.join();
    recorder_.Stop();
}

void Monitor::Read() {
    const int fd = recorder_.outFd();
    unsigned char buffer[kMonitorReadBytes];
    size_t carried = 0;  // an odd byte left from the last read
    for (;;) {
        const ssize_t got = read(fd, buffer + carried, sizeof buffer - carried);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        const size_t bytes = carried + static_cast<size_t>(got);
        Block block{Clock::now(), false, {}};
        for (size_t k = 0; k + 1 < bytes; k += 2) {
            const int16_t sample = static_cast<int16_t>(buffer[k] | buffer[k + 1] << 8);
            block.samples.push_back(sample);
            if (std::abs(static_cast<int>(sample)) > kSoundThreshold) block.sound = true;
        }
        carried = bytes % 2;
        if (carried) buffer[0] = buffer[bytes - 1];
        std::lock_guard<std::mutex> guard(lock_);
        blocks_.push_back(std::move(block));
    }
}

bool Monitor::WaitForSound(Clock::time_point since, Clock::time_point until, Clock::time_point& when) {
    size_t from = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (; from < blocks_.size(); ++from)
                if (blocks_[from].arrived >= since && blocks_[from].sound) {
                    when = blocks_[from].arrived;
                    return true;
                }
        }
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool Monitor::WaitForQuiet(std::chrono::milliseconds quietFor, Clock::time_point until, Clock::time_point& lastSound) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        Clock::time_point last = start - quietFor;  // no sound since start: quiet from the start
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block)
                if (block->sound) {
                    last = block->arrived;
                    break;
                }
        }
        const Clock::time_point now = Clock::now();
        if (now - std::max(last, start - quietFor) >= quietFor) {
            lastSound = last;
            return true;
        }
        if (now > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<int16_t> Monitor::Samples(Clock::time_point from, Clock::time_point to) {
    std::vector<int16_t> samples;
    std::lock_guard<std::mutex> guard(lock_);
    for (const Block& block : blocks_)
        if (block.arrived >= from && block.arrived <= to) samples.insert(samples.end(), block.samples.begin(), block.samples.end());
    return samples;
}

bool SsipClient::Connect(const std::string& socketPath, std::string& error) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() > kSocketPathMax) {
        error = "socket path too long: " + socketPath;
        return false;
    }
    strcpy(address.sun_path, socketPath.c_str());
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot connect to " + socketPath + ": " + strerror(errno);
        return false;
    }
    reader_ = std::thread(&SsipClient::Read, this);
    return true;
}

SsipClient::~SsipClient() {
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
}

void SsipClient::Read() {
    std::string pending;
    SsipMessage message;
    char buffer[4096];
    for (;;) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            if (line.size() < 4) continue;
            message.code = atoi(line.substr(0, 3).c_str());
            message.lines.push_back(line.substr(4));
            if (line[3] == '-') continue;
            message.arrived = Clock::now();
            {
                std::lock_guard<std::mutex> guard(lock_);
                (message.code >= 700 && message.code < 800 ? events_ : replies_).push_back(message);
            }
            arrived_.notify_all();
            message = SsipMessage();
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    arrived_.notify_all();
}

SsipMessage SsipClient::Command(const std::string& line) {
    const std::string text = line + "\r\n";
    if (send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return SsipMessage();
    std::unique_lock<std::mutex> guard(lock_);
    if (!arrived_.wait_for(guard, kReplyLimit, [&] { return !replies_.empty() || closed_; }) || replies_.empty())
        return SsipMessage();
    SsipMessage reply = replies_.front();
    replies_.pop_front();
    return reply;
}

SsipMessage SsipClient::Speak(const std::string& text) {
    const SsipMessage ready = Command("SPEAK");
    if (ready.code != 230) return ready;
    std::string data;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line[0] == '.') line = "." + line;
        data += line + "\r\n";
        at = end + 1;
    }
    send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    return Command(".");
}

SsipMessage SsipClient::NextEvent(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!arrived_.wait_for(guard, limit, [&] { return !events_.empty() || closed_; }) || events_.empty())
        return SsipMessage();
    SsipMessage event = events_.front();
    events_.pop_front();
    return event;
}

void SsipClient::DropEvents() {
    std::lock_guard<std::mutex> guard(lock_);
    events_.clear();
}

bool SpeechWorld::Start(const std::string& where, const std::vector<std::vector<std::string>>& modules,
                        std::string& error, const std::vector<std::string>& settings) {
    folder = where;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "pulse");
    std::filesystem::create_directories(folder + "speechd/modules");
    std::filesystem::create_directories(folder + "logs");
    pulseSocket = folder + "pulse/native";
    ssipSocket = folder + "speechd.sock";
    if (ssipSocket.size() > kSocketPathMax || pulseSocket.size() > kSocketPathMax) {
        error = "the folder's path is too long for a socket: " + folder;
        return false;
    }
    // Nothing of the machine's session: a home, runtime and configuration of our own.
    environment_ = {"HOME=" + folder,
                    "XDG_RUNTIME_DIR=" + folder + "pulse",
                    "XDG_CONFIG_HOME=" + folder + "config",
                    "XDG_CACHE_HOME=" + folder + "cache",
                    "PULSE_RUNTIME_PATH=" + folder + "pulse",
                    "PULSE_STATE_PATH=" + folder + "pulse",
                    "PULSE_SERVER=unix:" + pulseSocket,
                    "PATH=/usr/bin:/bin",
                    "LANG=C"};
    if (!pulse_.Start({"pulseaudio", "--system=false", "-n", "--daemonize=no", "--exit-idle-time=-1",
                       "--use-pid-file=no", "--log-target=stderr", "-L",
                       "module-native-protocol-unix socket=" + pulseSocket + " auth-anonymous=1", "-L",
                       "module-null-sink sink_name=kaltest rate=22050 channels=1"},
                      environment_, folder + "logs/pulse.log")) {
        error = "cannot start pulseaudio (Debian's pulseaudio package)";
        return false;
    }
    if (!WaitForSocket(pulseSocket)) {
        error = "pulseaudio did not open its socket: " + ReadText(folder + "logs/pulse.log.err");
        return false;
    }
    if (!monitor.Start("unix:" + pulseSocket, environment_, folder + "logs/parec.log")) {
        error = "parec delivered nothing: " + ReadText(folder + "logs/parec.log.err");
        return false;
    }
    {
        std::ofstream conf(folder + "speechd/speechd.conf");
        for (const auto& module : modules)
            conf << "AddModule \"" << module[0] << "\" \"" << module[1] << "\" \"" << module[2] << "\"\n";
        conf << "DefaultModule " << modules.front()[0] << "\n";
        conf << "DefaultLanguage \"en-US\"\n";
        conf << "AudioOutputMethod \"pulse\"\n";
        for (const std::string& line : settings) conf << line << "\n";
    }
    if (!dispatcher_.Start({"speech-dispatcher", "-s", "-t", "0", "-C", folder + "speechd", "-S", ssipSocket, "-P",
                            folder + "speechd.pid", "-L", folder + "logs", "-l", getenv("SD_KAL_LOG_LEVEL") ? getenv("SD_KAL_LOG_LEVEL") : "3"},
                           environment_, folder + "logs/speechd.out")) {
        error = "cannot start speech-dispatcher";
        return false;
    }
    if (!WaitForSocket(ssipSocket)) {
        error = "speech-dispatcher did not open its socket: " + ReadText(folder + "logs/speechd.out.err");
        return false;
    }
    return true;
}

void SpeechWorld::Stop() {
    dispatcher_.Stop();
    monitor.Stop();
    pulse_.Stop();
}

double SoundSpan(const std::vector<int16_t>& samples) {
    size_t first = samples.size(), last = 0;
    for (size_t k = 0; k < samples.size(); ++k)
        if (std::abs(static_cast<int>(samples[k])) > Monitor::kSoundThreshold) {
            if (first == samples.size()) first = k;
            last = k;
        }
    return first < samples.size() ? static_cast<double>(last - first) / Monitor::kRate : 0;
}

double MedianPitch(const std::vector<int16_t>& samples) {
    // 40 ms frames; a frame is voiced when its autocorrelation peak within
    // 70-400 Hz holds more than half its energy.
    const size_t frame = Monitor::kRate / 25, shortest = Monitor::kRate / 400, longest = Monitor::kRate / 70;
    std::vector<double> pitches;
    for (size_t start = 0; start + frame + longest < samples.size(); start += frame) {
        double energy = 0;
        for (size_t k = 0; k < frame; ++k) energy += static_cast<double>(samples[start + k]) * samples[start + k];
        if (energy / frame < 1000.0 * 1000.0) continue;
        double best = 0;
        size_t bestLag = 0;
        for (size_t lag = shortest; lag <= longest; ++lag) {
            double sum = 0;
            for (size_t k = 0; k < frame; ++k) sum += static_cast<double>(samples[start + k]) * samples[start + k + lag];
            if (sum > best) best = sum, bestLag = lag;
        }
        if (bestLag && best > 0.5 * energy) pitches.push_back(static_cast<double>(Monitor::kRate) / bestLag);
    }
    if (pitches.empty()) return 0;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}
