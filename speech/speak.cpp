#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "engine/guard.h"
#include "platform/platform.h"
#include "speech/speech.h"

std::atomic<int32_t> PlaybackState{kIdle};
uint32_t SpeakStartWaitMs = 50;

namespace {
// Detail buffer of a failure line; large enough for "0x", eight digits, the
// separator and an engine text cut to fit.
constexpr size_t kFailureDetailSize = 80;

// The engine's text for the low 8 bits of a code; an engine that throws here has no text.
const char* EngineErrorText(int32_t code) {
    try {
        const char* text = Engine.api.errorGetString(static_cast<uint32_t>(code) & 0xFF);
        return text ? text : "";
    } catch (...) {
        return "";
    }
}

void LogEngineFailure(const char* line, const char* format, int32_t code) {
    if (!LogEnabled(LOG_ENGINE)) {
        EngineErrorText(code);  // the engine is asked in any case, as it always was
        return;
    }
    char detail[kFailureDetailSize];
    snprintf(detail, sizeof detail, format, static_cast<unsigned>(code), EngineErrorText(code));
    LogWrite(LOG_ENGINE, line, detail);
}

// Claims the engine for one start: PlaybackState Speaking while it lasts; unless
// the start is confirmed, the engine is stopped and PlaybackState goes back to
// Idle when the scope ends, whatever way it ends.
class EngineClaim {
public:
    EngineClaim(uint32_t i0, uint32_t i1) : i0_(i0), i1_(i1) { PlaybackState = kSpeaking; }
    ~EngineClaim() {
        if (confirmed_) return;
        if (stopEngine_) {
            int32_t result = 0;
            GuardedEngineCall("ft_ttsStop failed EX:", [&] { result = Engine.api.stop(i0_, i1_); });
            Engine.lastResult = result;
        }
        PlaybackState = kIdle;
    }
    void Confirm() { confirmed_ = true; }
    void StopOnRelease() { stopEngine_ = true; }
    EngineClaim(const EngineClaim&) = delete;
    EngineClaim& operator=(const EngineClaim&) = delete;

private:
    const uint32_t i0_, i1_;
    bool confirmed_ = false;
    bool stopEngine_ = false;
};
}  // namespace

int32_t SpeakTextWithoutWait(const char* text) {
    if (!Engine.initialised) return -10;
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    if (PlaybackState.load() != kIdle) {
        LogWrite(LOG_ENGINE, "Fehler Speak...-2 NALVOIsSpeaking");
        return -2;
    }
    if (EngineInstanceStatus() != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak...-1 sta");
        return -1;
    }
    EngineClaim claim(i0, i1);
    if (EngineInstanceStatus() != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak..-1.Idle");
        return -1;
    }

    Engine.textRecord.zero = 0;
    Engine.textRecord.length = static_cast<uint32_t>(strlen(text));
    Engine.textRecord.text = text;
    claim.StopOnRelease();
    int32_t result = 0;
    if (!GuardedEngineCall("ft_ttsSetText failed EX:", [&] { result = Engine.api.setText(i0, i1, &Engine.textRecord); }))
        return -3;
    Engine.lastResult = result;
    if (result != 0) {
        LogEngineFailure("-3 ft_ttsSetText failed:", "0x%X %s", result);
        return -3;
    }

    // The engine did not start when its speak call threw: the text must not count as spoken.
    if (!GuardedEngineCall("ft_ttsSpeak failed EX:", [&] { result = Engine.api.speak(i0, i1, 0); })) return -4;
    Engine.lastResult = result;
    if (result != 0) {
        LogEngineFailure("-4 ft_ttsSpeak failed:", "0x%X: %s", result);
        return -4;
    }
    claim.Confirm();
    return 0;
}

int32_t SpeakText(const char* text) {
    const int32_t result = SpeakTextWithoutWait(text);
    if (result == 0) PlatformSleep(SpeakStartWaitMs);
    return result;
}
