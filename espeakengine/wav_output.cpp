// SPDX-License-Identifier: GPL-3.0-or-later
// WAV files: one growing file whose header is brought up to date after each
// text (so it is a valid file at every text's end; a later start appends to
// a file of the same format), or one file per text, "<name>-0001.wav" and on.
// Only regular files are taken (a FIFO would block the start for ever, a
// device swallow the audio); one process at a time appends to a file (an
// advisory lock); the header never claims a sample that was not written, and
// a file never grows past what its 32-bit sizes can say.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "espeakengine/limits.h"
#include "espeakengine/output.h"
#include "espeakengine/report.h"

namespace {
constexpr uint32_t kHeaderBytes = 44;
// The RIFF size (data + 36) is 32 bits: the data stop this far short of it.
constexpr uint64_t kMostDataBytes = (0xFFFFFFFFull - 36) & ~1ull;

void Put32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
void Put16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}
uint32_t Get32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0] | at[1] << 8 | at[2] << 16) | static_cast<uint32_t>(at[3]) << 24;
}

// Writes all bytes at offset; false with errno set when the system refused.
bool WriteAt(int fd, const void* bytes, size_t length, uint64_t offset) {
    const char* at = static_cast<const char*>(bytes);
    while (length > 0) {
        const ssize_t n = pwrite(fd, at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        at += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

class WavOutput : public AudioOutput {
public:
    WavOutput(const std::string& path, WavMode mode, bool realtime) : path_(path), mode_(mode), realtime_(realtime) {}
    ~WavOutput() override { Close(); }

    bool Open(int sampleRate, std::string& error) override {
        rate_ = static_cast<uint32_t>(sampleRate);
        if (mode_ == WavMode::PerText) {
            // Numbering goes on after the files already there (an earlier run's):
            // they are kept. A trial file now, so a folder that cannot be
            // written fails the start-up.
            next_ = 1;
            while (Exists(FileName(next_))) ++next_;
            if (!StartFile(FileName(next_), error)) return false;
            CloseFile();
            unlink(FileName(next_).c_str());
            return true;
        }
        return OpenFile(path_, false, error) && (ContinueFile(error) || (error.empty() && StartHeader(error)));
    }

    bool Write(const int16_t* samples, int count, TextStateFn) override {
        if (fd_ < 0 && mode_ == WavMode::PerText) {
            std::string error;
            while (Exists(FileName(next_))) ++next_;  // another writer took the number meanwhile
            if (!StartFile(FileName(next_++), error)) return Fail(error);
        }
        if (fd_ < 0) return false;
        const uint64_t bytes = static_cast<uint64_t>(count) * sizeof *samples;
        if (dataBytes_ + bytes > kMostDataBytes) return Fail("the WAV file " + current_ + " is full (4 GiB)");
        if (realtime_) Pace(count);
        if (!WriteAt(fd_, samples, bytes, kHeaderBytes + dataBytes_)) {
            const std::string why = strerror(errno);
            // A part written before the disk filled is taken back: the file
            // ends where its header says.
            if (ftruncate(fd_, static_cast<off_t>(kHeaderBytes + dataBytes_)) != 0) {
            }
            return Fail("writing the WAV file " + current_ + " failed: " + why);
        }
        dataBytes_ += bytes;
        return true;
    }

    void EndText(bool, TextStateFn) override {
        paced_ = 0;
        failed_ = false;
        if (fd_ < 0) return;
        WriteHeader();
        if (mode_ == WavMode::PerText) CloseFile();
    }

    void Close() override {
        if (fd_ < 0) return;
        WriteHeader();
        CloseFile();
    }

private:
    static bool Exists(const std::string& name) {
        struct stat info;
        return lstat(name.c_str(), &info) == 0;
    }

    // A failed write is reported once a text; the text's samples up to it stay.
    bool Fail(const std::string& why) {
        if (!failed_) Report(why);
        failed_ = true;
        return false;
    }

    // Waits until the samples before these would have been played. A text
    // that was held (a pause) starts a new schedule rather than catching up.
    void Pace(int count) {
        const auto now = std::chrono::steady_clock::now();
        const auto lead = std::chrono::milliseconds(kPaceLeadMs);
        const auto due = paceStart_ + std::chrono::microseconds(paced_ * 1000000 / rate_) - lead;
        if (paced_ == 0 || now > due + lead) {
            paceStart_ = now;
            paced_ = 0;
        } else if (due > now) {
            std::this_thread::sleep_until(due);
        }
        paced_ += static_cast<uint64_t>(count);
    }

    std::string FileName(unsigned number) const {
        std::string base = path_;
        if (base.size() > 4 && base.compare(base.size() - 4, 4, ".wav") == 0) base.resize(base.size() - 4);
        char suffix[16];
        snprintf(suffix, sizeof suffix, "-%04u.wav", number);
        return base + suffix;
    }

    // Opens name without waiting on it (a FIFO's open waits for a reader) and
    // only as a regular file no other process writes; false with error set.
    bool OpenFile(const std::string& name, bool fresh, std::string& error) {
        const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | (fresh ? O_EXCL : 0), 0644);
        if (fd < 0) {
            error = "cannot write the WAV file " + name + ": " + strerror(errno);
            return false;
        }
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            error = "the WAV file " + name + " is not a regular file";
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            error = "the WAV file " + name + " is written by another process";
            return false;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        fd_ = fd;
        current_ = name;
        return true;
    }

    void CloseFile() {
        close(fd_);  // the lock goes with it
        fd_ = -1;
    }

    // Takes the open file as a file of this engine's format to append to; an
    // empty file is started. False with error set for a file of another kind,
    // which is left as it is.
    bool ContinueFile(std::string& error) {
        struct stat info;
        if (fstat(fd_, &info) != 0) return false;
        // New, or cut short inside its header: the caller writes the header.
        if (info.st_size < static_cast<off_t>(kHeaderBytes)) return false;
        unsigned char header[kHeaderBytes];
        const bool read = pread(fd_, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
        if (!read || memcmp(header, "RIFF", 4) != 0 || memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
            memcmp(header + 36, "data", 4) != 0 || Get32(header + 24) != rate_ || header[22] != 1 || header[34] != 16) {
            error = "the WAV file " + current_ + " holds something else: it is kept, nothing is appended";
            CloseFile();
            return false;
        }
        // Whole samples only: a half-written one is overwritten.
        const uint64_t size = static_cast<uint64_t>(info.st_size);
        dataBytes_ = (size - kHeaderBytes) & ~1ull;
        if (dataBytes_ > kMostDataBytes) dataBytes_ = kMostDataBytes;
        return true;
    }

    bool StartHeader(std::string& error) {
        dataBytes_ = 0;
        if (WriteHeader()) return true;
        error = "cannot write the WAV file " + current_ + ": " + strerror(errno);
        CloseFile();
        return false;
    }

    bool StartFile(const std::string& name, std::string& error) {
        return OpenFile(name, true, error) && StartHeader(error);
    }

    bool WriteHeader() {
        const uint32_t data = static_cast<uint32_t>(dataBytes_);
        unsigned char header[kHeaderBytes];
        memcpy(header, "RIFF", 4);
        Put32(header + 4, 36 + data);
        memcpy(header + 8, "WAVEfmt ", 8);
        Put32(header + 16, 16);
        Put16(header + 20, 1);  // PCM
        Put16(header + 22, 1);  // mono
        Put32(header + 24, rate_);
        Put32(header + 28, rate_ * 2);
        Put16(header + 32, 2);
        Put16(header + 34, 16);
        memcpy(header + 36, "data", 4);
        Put32(header + 40, data);
        return WriteAt(fd_, header, sizeof header, 0);
    }

    std::string path_;
    std::string current_;  // the file open now
    WavMode mode_;
    int fd_ = -1;
    uint32_t rate_ = 22050;
    uint64_t dataBytes_ = 0;  // written and kept: the header claims no more
    unsigned next_ = 1;       // pertext: the next file's number
    bool realtime_;
    bool failed_ = false;  // this text's failure was reported
    std::chrono::steady_clock::time_point paceStart_;
    uint64_t paced_ = 0;  // samples of this schedule
};

class NoOutput : public AudioOutput {
public:
    bool Open(int, std::string&) override { return true; }
    bool Write(const int16_t*, int, TextStateFn) override { return true; }
    void EndText(bool, TextStateFn) override {}
    void Close() override {}
};
}  // namespace

std::unique_ptr<AudioOutput> MakeWavOutput(const std::string& path, WavMode mode, bool realtime) {
    return std::unique_ptr<AudioOutput>(new WavOutput(path, mode, realtime));
}
std::unique_ptr<AudioOutput> MakeNoOutput() { return std::unique_ptr<AudioOutput>(new NoOutput()); }
