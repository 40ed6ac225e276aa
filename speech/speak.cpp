#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"

std::atomic<int32_t> PlaybackState{Idle};
std::atomic<bool> StoppedTextInFlight{false};
std::atomic<int32_t> TextInFlight{kNoText};
std::atomic<bool> PauseRequested{false};

namespace {
// Detail buffer of a failure line; large enough for "0x", eight digits, the
// separator and an engine text cut to fit.
constexpr size_t kFailureDetailSize = 80;

void LogEngineFailure(const char* line, const char* format, int32_t code) {
    const char* text = EngineErrorText(code);  // asked in any case, as it always was
    if (!LogEnabled(LOG_ENGINE)) return;
    char detail[kFailureDetailSize];
    snprintf(detail, sizeof detail, format, static_cast<unsigned>(code), text);
    LogWrite(LOG_ENGINE, line, detail);
}

// Claims the engine for one start: PlaybackState Speaking while it lasts; unless
// the start is confirmed, the engine is stopped (once a text was passed) and
// PlaybackState goes back to Idle when the scope ends, whatever way it ends.
class EngineClaim {
public:
    EngineClaim() {
        StoppedTextInFlight = false;
        PauseRequested = false;
        TextInFlight = kTextClaimed;
        PlaybackState = Speaking;
    }
    ~EngineClaim() {
        if (confirmed_) return;
        if (stopEngine_) EngineNoteResult(EngineRequestStop());
        TextInFlight = kNoText;
        PlaybackState = Idle;
    }
    void Confirm() { confirmed_ = true; }
    void StopOnRelease() { stopEngine_ = true; }
    EngineClaim(const EngineClaim&) = delete;
    EngineClaim& operator=(const EngineClaim&) = delete;

private:
    bool confirmed_ = false;
    bool stopEngine_ = false;
};
}  // namespace

Outcome SpeakTextWithoutWait(const char* text) {
    if (!Engine.initialised) return Outcome::NotInitialised;
    if (PlaybackState.load() != Idle) {
        LogWrite(LOG_ENGINE, OutcomeText(Outcome::EngineClaimed));
        return Outcome::EngineClaimed;
    }
    // A poll that threw says nothing about the engine being busy.
    int32_t status = EngineInstanceStatus();
    if (status != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak...-1 sta");
        return status < 0 ? Outcome::StatusPollFailed : Outcome::EngineBusy;
    }
    EngineClaim claim;
    status = EngineInstanceStatus();
    if (status != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak..-1.Idle");
        return status < 0 ? Outcome::StatusPollFailed : Outcome::EngineBusy;
    }

    claim.StopOnRelease();
    int32_t result = 0;
    if (!EngineSetText(text, &result)) return Outcome::SetTextFailed;
    EngineNoteResult(result);
    if (result != 0) {
        LogEngineFailure("-3 ft_ttsSetText failed:", "0x%X %s", result);
        return Outcome::SetTextFailed;
    }

    // The engine did not start when its speak call threw: the text must not count as spoken.
    if (!EngineSpeak(&result)) return Outcome::SpeakFailed;
    EngineNoteResult(result);
    if (result != 0) {
        LogEngineFailure("-4 ft_ttsSpeak failed:", "0x%X: %s", result);
        return Outcome::SpeakFailed;
    }
    claim.Confirm();
    return Outcome::Ok;
}

Outcome SpeakText(const char* text) {
    const Outcome result = SpeakTextWithoutWait(text);
    if (result == Outcome::Ok) PlatformSleep(SpeechTimingsInUse().speakStartWaitMs);
    return result;
}
