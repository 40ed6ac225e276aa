#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"

std::atomic<int32_t> PlaybackState{kIdle};
uint32_t SpeakStartWaitMs = 50;

namespace {
// The failed code with the engine's text for its low 8 bits.
void LogEngineFailure(const char* line, const char* format, int32_t code) {
    const char* text = Engine.api.errorGetString(static_cast<uint32_t>(code) & 0xFF);
    char detail[80];
    snprintf(detail, sizeof detail, format, static_cast<unsigned>(code), text ? text : "");
    LogWrite(LOG_ENGINE, line, detail);
}

// Gives the engine back after a failed start.
void GiveBack() {
    Engine.lastResult = Engine.api.stop(Engine.instanceHandle.first, Engine.instanceHandle.second);
    PlaybackState = kIdle;
}
}  // namespace

int32_t SpeakText(const char* text) {
    if (!Engine.initialised) return -10;
    const uint32_t i0 = Engine.instanceHandle.first, i1 = Engine.instanceHandle.second;
    if (PlaybackState.load() != kIdle) {
        LogWrite(LOG_ENGINE, "Fehler Speak...-2 NALVOIsSpeaking");
        return -2;
    }
    Engine.api.getInstStatus(i0, i1, &Engine.status);
    if (Engine.status != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak...-1 sta");
        return -1;
    }
    PlaybackState = kSpeaking;
    Engine.api.getInstStatus(i0, i1, &Engine.status);
    if (Engine.status != 0) {
        LogWrite(LOG_ENGINE, "Fehler Speak..-1.Idle");
        PlaybackState = kIdle;
        return -1;
    }

    Engine.textRecord.zero = 0;
    Engine.textRecord.length = static_cast<uint32_t>(strlen(text));
    Engine.textRecord.text = text;
    Engine.lastResult = Engine.api.setText(i0, i1, &Engine.textRecord);
    if (Engine.lastResult != 0) {
        LogEngineFailure("-3 ft_ttsSetText failed:", "0x%X %s", Engine.lastResult);
        GiveBack();
        return -3;
    }

    try {
        Engine.lastResult = Engine.api.speak(i0, i1, 0);
    } catch (uint32_t value) {
        char detail[16];
        snprintf(detail, sizeof detail, "%X: ", static_cast<unsigned>(value));
        LogWrite(LOG_ENGINE, "ft_ttsSpeak failed EX:", detail);
        // The engine did not start: the text must not count as being spoken.
        GiveBack();
        return -4;
    }
    if (Engine.lastResult != 0) {
        LogEngineFailure("-4 ft_ttsSpeak failed:", "0x%X: %s", Engine.lastResult);
        GiveBack();
        return -4;
    }
    PlatformSleep(SpeakStartWaitMs);
    return 0;
}
