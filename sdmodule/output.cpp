#include "sdmodule/output.h"

#include <errno.h>
#include <unistd.h>

void Output::OpenCommand() {
    std::lock_guard<std::mutex> guard(lock_);
    commandOpen_ = true;
}

void Output::Reply(const std::string& lines, bool keepOpen) {
    std::lock_guard<std::mutex> guard(lock_);
    Write(lines);
    commandOpen_ = keepOpen;
    if (keepOpen) return;
    for (const std::string& event : held_) Write(event);
    held_.clear();
}

void Output::Event(const std::string& lines) {
    std::lock_guard<std::mutex> guard(lock_);
    if (commandOpen_) held_.push_back(lines);
    else Write(lines);
}

void Output::Write(const std::string& lines) {
    // A pipe write of a few lines is whole; a server that went away (EPIPE) is
    // noticed by the protocol thread at the end of its input.
    size_t done = 0;
    while (done < lines.size()) {
        const ssize_t wrote = write(fd_, lines.data() + done, lines.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<size_t>(wrote);
    }
}
