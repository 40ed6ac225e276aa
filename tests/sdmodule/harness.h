// What the module's system tests and its benchmark run against: a private
// PulseAudio server with a null sink whose monitor is read live, Debian's
// speech-dispatcher started on a socket of its own with the modules a test
// names, and a client speaking SSIP to it. Everything lives under one folder
// and every process is stopped by its id.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

// A child process with an environment of its own; stdout to a file or a pipe.
class Child {
public:
    // out: a file for stdout ("" with pipeOut: a pipe, read from outFd()).
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               const std::string& out, bool pipeOut = false);
    // Ends the process and closes the pipe.
    void Stop();
    // Ends the process only: a reader of the pipe then sees its end.
    void StopProcess();
    // Waits for the end of a program that ends by itself; false after limit.
    bool Wait(std::chrono::milliseconds limit);
    int outFd() const { return outFd_; }
    pid_t pid() const { return pid_; }
    ~Child() { Stop(); }

private:
    pid_t pid_ = 0;
    int outFd_ = -1;
};

// The null sink's monitor, read as it plays: when sound came, block by block.
class Monitor {
public:
    static constexpr uint32_t kRate = 22050;
    // Samples above this count as sound (digital silence is 0).
    static constexpr int kSoundThreshold = 200;
    bool Start(const std::string& server, const std::vector<std::string>& environment, const std::string& log);
    void Stop();
    // The first block with sound that arrived after since (false: none by until).
    bool WaitForSound(Clock::time_point since, Clock::time_point until, Clock::time_point& when);
    // Waits until no sound arrived for quietFor (or until); gives the last sound's arrival.
    bool WaitForQuiet(std::chrono::milliseconds quietFor, Clock::time_point until, Clock::time_point& lastSound);
    // The samples recorded between two moments (by arrival).
    std::vector<int16_t> Samples(Clock::time_point from, Clock::time_point to);
    ~Monitor() { Stop(); }

private:
    void Read();
    Child recorder_;
    std::thread reader_;
    std::mutex lock_;  // guards blocks_
    struct Block {
        Clock::time_point arrived;
        bool sound;
        std::vector<int16_t> samples;
    };
    std::vector<Block> blocks_;
};

// A speech-dispatcher reply or event: its code and the text of each line.
struct SsipMessage {
    int code = 0;
    std::vector<std::string> lines;
    Clock::time_point arrived;
};

class SsipClient {
public:
    bool Connect(const std::string& socketPath, std::string& error);
    ~SsipClient();
    // Sends a command (and data lines, dot-escaped, for SPEAK); the reply.
    SsipMessage Command(const std::string& line);
    SsipMessage Speak(const std::string& text);
    // The next event (7xx) within limit; code 0 when none came.
    SsipMessage NextEvent(std::chrono::milliseconds limit);
    void DropEvents();

private:
    void Read();
    int fd_ = -1;
    std::thread reader_;
    std::mutex lock_;  // guards the two queues
    std::condition_variable arrived_;
    std::deque<SsipMessage> replies_, events_;
    bool closed_ = false;
};

// The test world: a folder, a PulseAudio server with a null sink and its
// monitor, speech-dispatcher with the given AddModule lines (the first is the
// default module).
class SpeechWorld {
public:
    // folder: created fresh; modules: {name, binary, config}; settings: more
    // lines of speechd.conf.
    bool Start(const std::string& folder, const std::vector<std::vector<std::string>>& modules, std::string& error,
               const std::vector<std::string>& settings = {});
    void Stop();
    ~SpeechWorld() { Stop(); }
    Monitor monitor;
    std::string folder, ssipSocket, pulseSocket;
    // The environment of the servers: for a PulseAudio client of this world.
    const std::vector<std::string>& environment() const { return environment_; }

private:
    std::vector<std::string> environment_;
    Child pulse_, dispatcher_;
};

// The median fundamental frequency (Hz) of the voiced stretches of samples at
// Monitor::kRate; 0 when nothing is voiced.
double MedianPitch(const std::vector<int16_t>& samples);
// From the first to the last sample with sound, in seconds.
double SoundSpan(const std::vector<int16_t>& samples);
