// SPDX-License-Identifier: GPL-3.0-or-later
// WAV files: one growing file whose header is brought up to date after each
// text (so it is a valid file at every text's end; a later start appends to
// a file of the same format), or one file per text, "<name>-0001.wav" and on.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "espeakengine/output.h"

namespace {
constexpr uint32_t kHeaderBytes = 44;
// Paced like a sound card, the file runs this far ahead of the clock at most,
// as a card's buffer holds that much before it plays it.
constexpr auto kPaceLead = std::chrono::milliseconds(20);

void Put32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
void Put16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

class WavOutput : public AudioOutput {
public:
    WavOutput(const std::string& path, WavMode mode, bool realtime) : path_(path), mode_(mode), realtime_(realtime) {}
    ~WavOutput() override { Close(); }

    bool Open(int sampleRate, std::string& error) override {
        rate_ = static_cast<uint32_t>(sampleRate);
        if (mode_ == WavMode::PerText) {
            // Checked now, so a folder that cannot be written fails the start-up.
            if (!StartFile(FileName(1), error)) return false;
            fclose(file_);
            file_ = nullptr;
            remove(FileName(1).c_str());
            return true;
        }
        if (ContinueFile(path_)) return true;
        return StartFile(path_, error);
    }

    bool Write(const int16_t* samples, int count) override {
        if (!file_ && mode_ == WavMode::PerText) {
            std::string error;
            if (!StartFile(FileName(++texts_), error)) return false;
        }
        if (!file_) return false;
        if (realtime_) Pace(count);
        const size_t written = fwrite(samples, sizeof *samples, static_cast<size_t>(count), file_);
        dataBytes_ += static_cast<uint32_t>(written * sizeof *samples);
        // Readers (a test, a player) see the samples as they come.
        fflush(file_);
        return written == static_cast<size_t>(count);
    }

    void EndText(bool) override {
        paced_ = 0;
        if (!file_) return;
        WriteHeader();
        if (mode_ == WavMode::PerText) {
            fclose(file_);
            file_ = nullptr;
        }
    }

    void Close() override {
        if (!file_) return;
        WriteHeader();
        fclose(file_);
        file_ = nullptr;
    }

private:
    // Waits until the samples before these would have been played. A text
    // that was held (a pause) starts a new schedule rather than catching up.
    void Pace(int count) {
        const auto now = std::chrono::steady_clock::now();
        const auto due = paceStart_ + std::chrono::microseconds(paced_ * 1000000 / rate_) - kPaceLead;
        if (paced_ == 0 || now > due + kPaceLead) {
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

    // Opens an existing file of this engine's format for appending.
    bool ContinueFile(const std::string& name) {
        file_ = fopen(name.c_str(), "rb+");
        if (!file_) return false;
        unsigned char header[kHeaderBytes];
        const bool read = fread(header, 1, sizeof header, file_) == sizeof header;
        auto get32 = [&](int at) {
            return static_cast<uint32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16) |
                   static_cast<uint32_t>(header[at + 3]) << 24;
        };
        fseek(file_, 0, SEEK_END);
        const long size = ftell(file_);
        if (!read || memcmp(header, "RIFF", 4) != 0 || memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
            memcmp(header + 36, "data", 4) != 0 || get32(24) != rate_ || header[22] != 1 || header[34] != 16 ||
            size < static_cast<long>(kHeaderBytes)) {
            fclose(file_);
            file_ = nullptr;
            return false;
        }
        // Whole samples only: a half-written one is overwritten.
        dataBytes_ = static_cast<uint32_t>(size - kHeaderBytes) & ~1u;
        fseek(file_, static_cast<long>(kHeaderBytes + dataBytes_), SEEK_SET);
        return true;
    }

    bool StartFile(const std::string& name, std::string& error) {
        file_ = fopen(name.c_str(), "wb+");
        if (!file_) {
            error = "cannot write the WAV file " + name;
            return false;
        }
        dataBytes_ = 0;
        WriteHeader();
        return true;
    }

    void WriteHeader() {
        unsigned char header[kHeaderBytes];
        memcpy(header, "RIFF", 4);
        Put32(header + 4, 36 + dataBytes_);
        memcpy(header + 8, "WAVEfmt ", 8);
        Put32(header + 16, 16);
        Put16(header + 20, 1);  // PCM
        Put16(header + 22, 1);  // mono
        Put32(header + 24, rate_);
        Put32(header + 28, rate_ * 2);
        Put16(header + 32, 2);
        Put16(header + 34, 16);
        memcpy(header + 36, "data", 4);
        Put32(header + 40, dataBytes_);
        const long end = ftell(file_);
        fseek(file_, 0, SEEK_SET);
        fwrite(header, 1, sizeof header, file_);
        fseek(file_, end > static_cast<long>(kHeaderBytes) ? end : static_cast<long>(kHeaderBytes), SEEK_SET);
        fflush(file_);
    }

    std::string path_;
    WavMode mode_;
    FILE* file_ = nullptr;
    uint32_t rate_ = 22050;
    uint32_t dataBytes_ = 0;
    unsigned texts_ = 0;
    bool realtime_;
    std::chrono::steady_clock::time_point paceStart_;
    uint64_t paced_ = 0;  // samples of this schedule
};

class NoOutput : public AudioOutput {
public:
    bool Open(int, std::string&) override { return true; }
    bool Write(const int16_t*, int) override { return true; }
    void EndText(bool) override {}
    void Close() override {}
};
}  // namespace

std::unique_ptr<AudioOutput> MakeWavOutput(const std::string& path, WavMode mode, bool realtime) {
    return std::unique_ptr<AudioOutput>(new WavOutput(path, mode, realtime));
}
std::unique_ptr<AudioOutput> MakeNoOutput() { return std::unique_ptr<AudioOutput>(new NoOutput()); }
