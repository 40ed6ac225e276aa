// SPDX-License-Identifier: GPL-3.0-or-later
// A live stream to a PulseAudio server through libpulse-simple. The server's
// buffer is kept short, so a stop or a pause is heard at once and a write
// waits at most about that long.
#include <pulse/error.h>
#include <pulse/simple.h>

#include "espeakengine/output.h"

namespace {
// What the server holds ahead of playing: short enough that a stop is not heard
// on, long enough that the worker's scheduling does not make gaps.
constexpr uint32_t kServerBufferMs = 100;

class PulseOutput : public AudioOutput {
public:
    explicit PulseOutput(const std::string& server) : server_(server) {}
    ~PulseOutput() override { Close(); }

    bool Open(int sampleRate, std::string& error) override {
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_S16LE;
        spec.rate = static_cast<uint32_t>(sampleRate);
        spec.channels = 1;
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kServerBufferMs * 1000, &spec));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        int code = 0;
        stream_ = pa_simple_new(server_.empty() ? nullptr : server_.c_str(), "kal_drv", PA_STREAM_PLAYBACK, nullptr,
                                "speech", &spec, nullptr, &attr, &code);
        if (!stream_) {
            error = std::string("no PulseAudio server reachable: ") + pa_strerror(code);
            return false;
        }
        return true;
    }

    bool Write(const int16_t* samples, int count) override {
        int code = 0;
        return stream_ && pa_simple_write(stream_, samples, static_cast<size_t>(count) * sizeof *samples, &code) == 0;
    }

    void EndText(bool cut) override {
        if (!stream_) return;
        int code = 0;
        // A cut text stops now; a finished one is played to its end first, so the
        // end notification comes when it has been heard.
        if (cut) pa_simple_flush(stream_, &code);
        else pa_simple_drain(stream_, &code);
    }

    void Close() override {
        if (stream_) pa_simple_free(stream_);
        stream_ = nullptr;
    }

private:
    std::string server_;
    pa_simple* stream_ = nullptr;
};
}  // namespace

std::unique_ptr<AudioOutput> MakePulseOutput(const std::string& server) {
    return std::unique_ptr<AudioOutput>(new PulseOutput(server));
}
