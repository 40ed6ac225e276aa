#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"

PlatformLock QueueLock;
SpeechQueue Queue;
int32_t speakingMark;

namespace {
// guarded by QueueLock: the thread that is handing a text to the engine (0: none),
// and whether another thread asked for the next text meanwhile. One text is handed
// over at a time, so two threads never both start one; a request that arrives
// meanwhile is carried out by the handing thread once the engine has answered.
uint32_t handingThread;
bool nextRequested;

// Takes the next Pending slot in ring order; null when the engine is busy or
// nothing is pending. Called with QueueLock held.
const char* TakeNext() {
    if (Queue.pendingCount == 0) return nullptr;
    const int32_t state = PlaybackState.load();
    if (Engine.initialised && (state == kSpeaking || state == kPaused)) return nullptr;
    auto search = [] {
        while (Queue.readIndex < kQueueSlots && Queue.slots[Queue.readIndex].state != Pending)
            ++Queue.readIndex;
    };
    search();
    if (Queue.readIndex == kQueueSlots) {
        Queue.readIndex = 0;
        search();
    }
    if (Queue.readIndex == kQueueSlots) {
        Queue.pendingCount = 0;
        return nullptr;
    }
    QueueSlot& slot = Queue.slots[Queue.readIndex];
    speakingMark = slot.mark;
    slot.state = Taken;
    if (Queue.pendingCount != 0) --Queue.pendingCount;
    LogWrite(LOG_QUEUE, "Next - Speak", slot.text);
    return slot.text;
}
}  // namespace

void QueueClear() {
    PlatformLockGuard guard(QueueLock);
    for (QueueSlot& slot : Queue.slots) {
        slot.mark = 0;
        slot.state = Free;
        slot.text[0] = '\0';
    }
    Queue.writeIndex = 0;
    Queue.readIndex = 0;
    Queue.pendingCount = 0;
}

void QueueAdd(const char* text, int32_t mark) {
    {
        PlatformLockGuard guard(QueueLock);
        LogWrite(LOG_QUEUE, "Add - Speak", text);
        QueueSlot& slot = Queue.slots[Queue.writeIndex];
        slot.mark = mark;
        slot.state = Pending;
        size_t n = strnlen(text, kTextSize - 1);
        memcpy(slot.text, text, n);
        slot.text[n] = '\0';
        if (++Queue.writeIndex > kQueueSlots - 1) Queue.writeIndex = 0;
        ++Queue.pendingCount;
    }
    QueueNext();
}

int32_t QueueCountPending() {
    PlatformLockGuard guard(QueueLock);
    Queue.pendingCount = 0;
    for (QueueSlot& slot : Queue.slots) {
        if (slot.state == Pending)
            ++Queue.pendingCount;
        else
            slot.state = Free;
    }
    return Queue.pendingCount;
}

void QueueNext() {
    const uint32_t self = PlatformCurrentThreadId();
    PlatformLockEnter(&QueueLock);
    if (handingThread != 0 && handingThread != self) {
        nextRequested = true;
        PlatformLockLeave(&QueueLock);
        return;
    }
    // Non-zero when an engine that notifies synchronously brought us back here
    // from inside our own SpeakText: then the next text starts right here, as the
    // end notification expects, and the outermost call keeps the hand-over.
    const uint32_t outer = handingThread;
    for (;;) {
        nextRequested = false;
        const char* text = TakeNext();
        if (!text) break;
        handingThread = self;
        PlatformLockLeave(&QueueLock);
        SpeakText(text);  // never under the lock: the engine may notify from inside
        PlatformLockEnter(&QueueLock);
        handingThread = outer;
        if (outer != 0 || !nextRequested) break;
    }
    PlatformLockLeave(&QueueLock);
}
