#include <cstdio>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"

// The latest notification's record (message and mark), for diagnosis; each call of
// the host's callback receives its own copy. guarded by QueueLock. Tests read it
// through speech_testing.h.
KalSynthEvent SynthEventRecord;

namespace {
// The host's callback; null until registered. Written by kal_SetSynthCallback on
// any host thread, read by each notification.
std::atomic<KalSynthCallback> synthCallback{nullptr};
// The driver's output-buffer pointer: null from load on; nothing changes it.
void* const outputBuffer = nullptr;

// The engine's output-buffer size the driver announces for code 8.
constexpr uint32_t kOutputBufferSize = 10000;

// Notifications being handled now, on any thread. The shut-down waits for the
// others before it closes the engine.
std::atomic<int32_t> notificationsRunning{0};

// The threads inside a notification, with how deep on each: a slot holds a
// thread id (0: free) and its depth. No thread-local variable: the runtime's
// thread-local support takes a system TLS index at each load of the driver and
// never gives it back, which ends a host that loads and unloads the driver
// often. Threads inside notifications at once are few (an engine's one or two);
// one that finds every slot taken is not counted as inside (kNotifyingThreadSlots
// is far above what an engine uses).
constexpr int kNotifyingThreadSlots = 64;
struct NotifyingThread {
    std::atomic<uint32_t> thread{0};
    std::atomic<int32_t> depth{0};  // written only by that thread
};
NotifyingThread notifyingThreads[kNotifyingThreadSlots];

NotifyingThread* FindNotifyingThread(uint32_t self) {
    for (NotifyingThread& slot : notifyingThreads)
        if (slot.thread.load() == self) return &slot;
    return nullptr;
}

int32_t NotificationsHere() {
    const NotifyingThread* slot = FindNotifyingThread(PlatformCurrentThreadId());
    return slot ? slot->depth.load() : 0;
}

// Whether notifications may call the host: from a successful start-up until the
// shut-down begins.
std::atomic<bool> openToHost{true};

class NotificationScope {
public:
    NotificationScope() {
        ++notificationsRunning;
        const uint32_t self = PlatformCurrentThreadId();
        slot_ = FindNotifyingThread(self);
        for (int i = 0; !slot_ && i < kNotifyingThreadSlots; ++i) {
            uint32_t none = 0;
            if (notifyingThreads[i].thread.compare_exchange_strong(none, self)) slot_ = &notifyingThreads[i];
        }
        if (slot_) ++slot_->depth;
    }
    ~NotificationScope() {
        if (slot_ && --slot_->depth == 0) slot_->thread = 0;
        --notificationsRunning;
    }
    NotificationScope(const NotificationScope&) = delete;
    NotificationScope& operator=(const NotificationScope&) = delete;

private:
    NotifyingThread* slot_;
};

void LogNotify(const char* detail) { LogWrite(LOG_ENGINE, "CbOutNotify", detail); }

void LogNotifyException(const uint32_t* value) {
    if (value)
        LogWriteDetail(LOG_ENGINE, "CbOutNotify Fehler", "0x%X", static_cast<unsigned>(*value));
    else
        LogWrite(LOG_ENGINE, "CbOutNotify Fehler", "?");
}

// The host's callback; a host built with the platform's usual compiler throws
// structured exceptions, which are caught here as well.
void CallHost(KalSynthCallback callback, KalSynthEvent& event) {
    struct Call {
        KalSynthCallback callback;
        KalSynthEvent* event;
    } call{callback, &event};
    PlatformForeignException caught;
    if (!PlatformCallCatchingForeign([](void* c) { static_cast<Call*>(c)->callback(static_cast<Call*>(c)->event); },
                                     &call, &caught))
        LogNotifyException(caught.hasValue ? &caught.value : nullptr);
}

// Whether an end notification ends the text in flight: once that text has begun,
// or with nothing in flight; before its begin only when the engine says it is
// idle (an engine that sends no begin), else it is the text before's.
bool EndsTextInFlight() {
    int32_t expected = kTextBegun;
    if (TextInFlight.compare_exchange_strong(expected, kNoText) || expected == kNoText) return true;
    if (EngineInstanceStatus() != 0) return false;
    TextInFlight.compare_exchange_strong(expected, kNoText);
    return true;
}

// False when the notification is not the host's to hear.
bool HandleCode(uint32_t code, FILE* stream, void* data) {
    switch (code) {
    case kMsgBeginProcess:
        LogNotify(" TTS_MSG_BEGINPROCESS");
        if (!StoppedTextInFlight.load()) {
            int32_t claimed = kTextClaimed;
            TextInFlight.compare_exchange_strong(claimed, kTextBegun);
            PlaybackState = Speaking;
        }
        break;
    case kMsgEndProcess:
        LogNotify(" TTS_MSG_ENDPROCESS");
        if (EndsTextInFlight()) {
            PauseRequested = false;
            PlaybackState = Idle;
        } else {
            LogWrite(LOG_ENGINE, " TTS_MSG_ENDPROCESS gehoert zu keinem Text");
            QueueNext(HandOverBy::Engine);
            return false;  // the host hears no end of a text that goes on
        }
        QueueNext(HandOverBy::Engine);
        break;
    case kMsgOutBufRequest:
        if (auto* info = static_cast<OutBufferInfo*>(data)) {
            info->size = kOutputBufferSize;
            info->buffer = outputBuffer;
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
        PlaybackState = Idle;
        break;
    case kMsgPause:
        LogNotify(" TTS_MSG_PAUSE");
        if (!StoppedTextInFlight.load()) PlaybackState = Paused;
        break;
    case kMsgResume:
        LogNotify(" TTS_MSG_RESUME");
        {
            int32_t expected = Paused;
            if (!PlaybackState.compare_exchange_strong(expected, Speaking))
                LogWrite(LOG_ENGINE, " TTS_MSG_RESUME nalvoistspeaking war nicht pause");
        }
        break;
    default:
        break;
    }
    return true;
}
}  // namespace

int32_t ENGINE_CALL CbOutNotify(uint32_t, uint32_t, FILE* stream, const EngineMessage* message) {
    if (!message) return 0;
    NotificationScope running;
    const uint32_t code = message->code;
    // Each notification reports through its own record: another notification,
    // nested in this one or on another thread, never rewrites what this one's host
    // call receives.
    KalSynthEvent event{static_cast<int>(code), 0, 0, 0};
    {
        PlatformLockGuard guard(QueueLock);
        SynthEventRecord.message = event.message;
    }
    try {
        const bool tellHost = HandleCode(code, stream, message->data);
        {
            PlatformLockGuard guard(QueueLock);
            event.mark = speakingMark;
            SynthEventRecord = event;
        }
        if ((code == kMsgBeginProcess || code == kMsgEndProcess) && tellHost && openToHost.load()) {
            // A host that registered no callback is simply not told.
            if (KalSynthCallback callback = synthCallback.load()) CallHost(callback, event);
        }
    } catch (uint32_t value) {
        LogNotifyException(&value);
    } catch (...) {
        // Nothing may pass back into the engine's thread.
        LogNotifyException(nullptr);
    }
    return 0;
}

bool WaitForOtherNotifications(uint32_t limitMs) {
    const uint32_t started = PlatformTickCount();
    for (;;) {
        if (notificationsRunning.load() <= NotificationsHere()) return true;
        if (PlatformTickCount() - started >= limitMs) return false;
        PlatformSleep(1);
    }
}

void NotificationsOpenToHost(bool open) { openToHost = open; }
void NotificationsSetHostCallback(KalSynthCallback callback) { synthCallback.store(callback); }

bool NotificationRunningHere() { return NotificationsHere() > 0; }
