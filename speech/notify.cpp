#include <cstdio>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"

// Written on the engine's notification thread only (one notification at a time).
KalSynthEvent SynthEventRecord;
std::atomic<KalSynthCallback> SynthCallback{nullptr};
void* OutputBuffer;

namespace {
// Notifications being handled now, on any thread, and on this thread.
std::atomic<int32_t> notificationsRunning{0};
thread_local int32_t notificationsHere = 0;
}  // namespace

namespace {
void LogNotify(const char* detail) { LogWrite(LOG_ENGINE, "CbOutNotify", detail); }

void HandleCode(uint32_t code, FILE* stream, void* data) {
    switch (code) {
    case kMsgBeginProcess:
        LogNotify(" TTS_MSG_BEGINPROCESS");
        PlaybackState = kSpeaking;
        break;
    case kMsgEndProcess:
        LogNotify(" TTS_MSG_ENDPROCESS");
        PlaybackState = kIdle;
        QueueNext();
        break;
    case kMsgOutBufRequest:
        if (auto* info = static_cast<OutBufferInfo*>(data)) {
            info->size = 10000;
            info->buffer = OutputBuffer;
            info->zero12 = 0;
            info->zero16 = 0;
        }
        break;
    case kMsgOutBufDone:
        LogWrite(LOG_ENGINE, " SSFT_TTS_MSG_OUTBUFDONE:");
        if (auto* info = static_cast<OutBufferInfo*>(data)) {
            // A buffer the engine never supplied is not written from.
            if (info->size != 0 && stream && info->buffer) fwrite(info->buffer, 1, info->size, stream);
        }
        break;
    case kMsgStop:
        LogNotify(" TTS_MSG_STOP");
        PlaybackState = kIdle;
        break;
    case kMsgPause:
        LogNotify(" TTS_MSG_PAUSE");
        PlaybackState = kPaused;
        break;
    case kMsgResume:
        LogNotify(" TTS_MSG_RESUME");
        {
            int32_t expected = kPaused;
            if (!PlaybackState.compare_exchange_strong(expected, kSpeaking))
                LogWrite(LOG_ENGINE, " TTS_MSG_RESUME nalvoistspeaking war nicht pause");
        }
        break;
    default:
        break;
    }
}
}  // namespace

int32_t ENGINE_CALL CbOutNotify(uint32_t, uint32_t, FILE* stream, const EngineMessage* message) {
    if (!message) return 0;
    const uint32_t code = message->code;
    ++notificationsRunning;
    ++notificationsHere;
    SynthEventRecord.message = static_cast<int>(code);
    try {
        HandleCode(code, stream, message->data);
        {
            PlatformLockGuard guard(QueueLock);
            SynthEventRecord.mark = speakingMark;
        }
        SynthEventRecord.reserved1 = 0;
        SynthEventRecord.reserved2 = 0;
        if (code == kMsgBeginProcess || code == kMsgEndProcess) {
            // A host that registered no callback is simply not told.
            if (KalSynthCallback callback = SynthCallback.load()) callback(&SynthEventRecord);
        }
    } catch (uint32_t value) {
        char detail[16];
        snprintf(detail, sizeof detail, "0x%X", static_cast<unsigned>(value));
        LogWrite(LOG_ENGINE, "CbOutNotify Fehler", detail);
    }
    --notificationsHere;
    --notificationsRunning;
    return 0;
}

void WaitForOtherNotifications(uint32_t limitMs) {
    const uint32_t started = PlatformTickCount();
    while (notificationsRunning.load() > notificationsHere && PlatformTickCount() - started < limitMs)
        PlatformSleep(1);
}
