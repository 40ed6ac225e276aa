// What the module writes to speech-dispatcher: replies from the protocol
// thread, events from the speaker's thread. An event must never come between a
// command and its reply, so events that arrive while a command is open are
// held and written right after its reply.
#pragma once
#include <mutex>
#include <string>
#include <vector>

class Output {
public:
    explicit Output(int fd) : fd_(fd) {}
    // A command that needs a reply has been read.
    void OpenCommand();
    // Writes lines (each ended by '\n'); keepOpen: more of the command follows
    // (SPEAK's data after "202"), so events still wait.
    void Reply(const std::string& lines, bool keepOpen = false);
    void Event(const std::string& lines);

private:
    void Write(const std::string& lines);

    const int fd_;
    // Both guarded by lock; taken by the protocol and the speaker's thread.
    std::mutex lock_;
    bool commandOpen_ = false;
    std::vector<std::string> held_;
};
