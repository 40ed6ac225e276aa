// SPDX-License-Identifier: GPL-3.0-or-later
// A live stream to a PulseAudio server through libpulse's threaded main loop.
// The server's buffer is kept short, so a stop or a pause is heard at once.
// Every wait on the server is bounded (rows of espeakengine/limits.h): a server that does
// not answer fails the start, one that went away (a restart) is connected again
// at the next write, and a sink that takes no samples (a suspended one) ends
// the text with a report instead of holding the worker.
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "espeakengine/limits.h"
#include "espeakengine/output.h"
#include "espeakengine/report.h"

namespace {
// The buffer's length is the whole latency, the sink's included (as
// libpulse-simple asks for it).
constexpr pa_stream_flags_t kStreamFlags = static_cast<pa_stream_flags_t>(
    PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);

typedef std::chrono::steady_clock Clock;

class PulseOutput : public AudioOutput {
public:
    explicit PulseOutput(const std::string& server) : server_(server) {}
    ~PulseOutput() override { Close(); }

    bool Open(int sampleRate, std::string& error) override {
        spec_.format = PA_SAMPLE_S16LE;
        spec_.rate = static_cast<uint32_t>(sampleRate);
        spec_.channels = 1;
        return Connect(error);
    }

    bool Write(const int16_t* samples, int count, TextStateFn state) override {
        if (failed_) return false;
        const char* bytes = reinterpret_cast<const char*>(samples);
        size_t left = static_cast<size_t>(count) * sizeof *samples;
        Clock::time_point progress = Clock::now();
        while (left > 0) {
            if (!Healthy() && !Reconnect()) return false;
            size_t room = 0;
            pa_threaded_mainloop_lock(loop_);
            room = pa_stream_writable_size(stream_);
            if (room != static_cast<size_t>(-1) && room > 0) {
                const size_t n = room < left ? room : left;
                pa_stream_write(stream_, bytes, n, nullptr, 0, PA_SEEK_RELATIVE);
                bytes += n;
                left -= n;
            }
            pa_threaded_mainloop_unlock(loop_);
            if (room != static_cast<size_t>(-1) && room > 0) {
                progress = Clock::now();
                continue;
            }
            const TextState wanted = state();
            if (wanted == TextState::Cut) return true;
            if (wanted == TextState::Hold) {
                Hold(state);
                progress = Clock::now();
                continue;
            }
            if (Clock::now() - progress > std::chrono::milliseconds(kStallLimitMs))
                return Fail("the PulseAudio server plays nothing (a suspended sink?)");
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
        }
        return true;
    }

    void EndText(bool cut, TextStateFn state) override {
        const bool failed = failed_;
        failed_ = false;
        if (!stream_ || !Healthy()) return;
        if (cut || failed) {
            Flush();
            return;
        }
        // Played to its end before the end notification: it has then been heard.
        pa_threaded_mainloop_lock(loop_);
        pa_operation* drain = pa_stream_drain(stream_, nullptr, nullptr);
        pa_threaded_mainloop_unlock(loop_);
        if (!drain) return;
        Clock::time_point until = Clock::now() + std::chrono::milliseconds(kServerBufferMs + kDrainMarginMs);
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            const bool done = pa_operation_get_state(drain) != PA_OPERATION_RUNNING;
            pa_threaded_mainloop_unlock(loop_);
            if (done) break;
            const TextState wanted = state();
            if (wanted == TextState::Cut) {
                Flush();
                break;
            }
            if (wanted == TextState::Hold) {
                Hold(state);
                until = Clock::now() + std::chrono::milliseconds(kServerBufferMs + kDrainMarginMs);
                continue;
            }
            if (Clock::now() > until || !Healthy()) {
                Report("the PulseAudio server did not play the text's end");
                Flush();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
        }
        pa_threaded_mainloop_lock(loop_);
        pa_operation_cancel(drain);
        pa_operation_unref(drain);
        pa_threaded_mainloop_unlock(loop_);
    }

    void Close() override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

private:
    // Connects the context and the stream, waiting at most kConnectLimitMs.
    bool Connect(std::string& error) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
            error = "libpulse could not start its thread";
            Close();
            return false;
        }
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kConnectLimitMs);
        pa_threaded_mainloop_lock(loop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "kal_drv");
        const bool started = context_ && pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                                                            PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
        pa_threaded_mainloop_unlock(loop_);
        if (!started || !WaitFor(until, [this] { return ContextState(); })) {
            error = std::string("no PulseAudio server reachable: ") + LastError("it did not answer in time");
            Close();
            return false;
        }
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kServerBufferMs * 1000, &spec_));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        pa_threaded_mainloop_lock(loop_);
        stream_ = pa_stream_new(context_, "speech", &spec_, nullptr);
        const bool connected =
            stream_ && pa_stream_connect_playback(stream_, nullptr, &attr, kStreamFlags, nullptr, nullptr) >= 0;
        pa_threaded_mainloop_unlock(loop_);
        if (!connected || !WaitFor(until, [this] { return StreamState(); })) {
            error = std::string("the PulseAudio server refused the stream: ") + LastError("it did not answer in time");
            Close();
            return false;
        }
        return true;
    }

    // The server went away (a restart): a new connection, or a report.
    bool Reconnect() {
        Close();
        std::string error;
        if (Connect(error)) return true;
        return Fail(error);
    }

    // 1: ready, -1: failed, 0: still on its way.
    int ContextState() {
        const pa_context_state_t s = pa_context_get_state(context_);
        return s == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(s) ? 0 : -1;
    }
    int StreamState() {
        const pa_stream_state_t s = pa_stream_get_state(stream_);
        return s == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(s) ? 0 : -1;
    }

    // Polls state (under the loop's lock) until it is 1 (true) or -1 or the
    // time is up (false).
    template <typename StateFn>
    bool WaitFor(Clock::time_point until, StateFn state) {
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            const int s = state();
            pa_threaded_mainloop_unlock(loop_);
            if (s != 0) return s > 0;
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
        }
    }

    bool Healthy() {
        if (!loop_ || !context_ || !stream_) return false;
        pa_threaded_mainloop_lock(loop_);
        const bool ready = ContextState() == 1 && StreamState() == 1;
        pa_threaded_mainloop_unlock(loop_);
        return ready;
    }

    const char* LastError(const char* fallback) {
        if (!context_) return fallback;
        const int code = pa_context_errno(context_);
        return code ? pa_strerror(code) : fallback;
    }

    // Runs a stream operation and waits for the server's answer, bounded.
    void Operation(pa_operation* (*start)(pa_stream*, pa_stream_success_cb_t, void*)) {
        pa_threaded_mainloop_lock(loop_);
        pa_operation* op = start(stream_, nullptr, nullptr);
        pa_threaded_mainloop_unlock(loop_);
        if (!op) return;
        WaitFor(Clock::now() + std::chrono::milliseconds(kOperationLimitMs),
                [op] { return pa_operation_get_state(op) == PA_OPERATION_RUNNING ? 0 : 1; });
        pa_threaded_mainloop_lock(loop_);
        pa_operation_unref(op);
        pa_threaded_mainloop_unlock(loop_);
    }
    static pa_operation* StartFlush(pa_stream* s, pa_stream_success_cb_t cb, void* data) {
        return pa_stream_flush(s, cb, data);
    }
    static pa_operation* StartCork(pa_stream* s, pa_stream_success_cb_t cb, void* data) {
        return pa_stream_cork(s, 1, cb, data);
    }
    static pa_operation* StartUncork(pa_stream* s, pa_stream_success_cb_t cb, void* data) {
        return pa_stream_cork(s, 0, cb, data);
    }
    void Flush() {
        if (Healthy()) Operation(StartFlush);
    }

    // A pause: the stream stops playing where it is until the text goes on or is cut.
    void Hold(TextStateFn state) {
        if (Healthy()) Operation(StartCork);
        while (state() == TextState::Hold) std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
        if (Healthy()) Operation(StartUncork);
    }

    // The text cannot be played: reported once, and the rest of it is dropped.
    bool Fail(const std::string& why) {
        if (!failed_) Report(why);
        failed_ = true;
        return false;
    }

    std::string server_;
    pa_sample_spec spec_{};
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;  // guarded by the loop's lock, as stream_
    pa_stream* stream_ = nullptr;
    bool failed_ = false;  // this text's samples were refused
};
}  // namespace

std::unique_ptr<AudioOutput> MakePulseOutput(const std::string& server) {
    return std::unique_ptr<AudioOutput>(new PulseOutput(server));
}
