// The queue of texts and the hand-over of one text at a time to the engine.
//
// How a text is handed over. QueueNext takes the next Pending slot in ring order,
// but only while the engine is neither speaking nor paused, copies its text into
// a hand-over buffer and calls SpeakText with that copy.
//  - One thread hands over at a time (handOverThread). Another thread that wants
//    to hand over meanwhile waits until that hand-over is over (kHandOverWaitMs at
//    most) and then tries itself: usually the engine is now busy with the text
//    just started, and its text waits for the end notification.
//  - A host call hands over at most one text (HandOverBy::Host). The engine's
//    own notification thread goes on from text to text, one per end
//    notification, so no host thread is kept in the driver by texts that other
//    threads add.
//  - An engine that notifies synchronously from inside ssft_ttsSpeak brings
//    QueueNext back on the handing thread. When the engine's thread is handing
//    over, the next text starts right there (at most kMaxNestedHandOvers deep),
//    so the end event carries its mark; when a host call is, it waits for the
//    adder that is waiting, or for the handing thread once it is back.
//  - A thread that gave up waiting, or a nested call that may not start a text,
//    leaves nextRequested; the handing thread then takes one more text unless a
//    waiting thread will, so no text waits while the engine is idle.
//  - A text the engine refuses because it is busy goes back to its slot (at most
//    kBusyRefusalsKept times in a row); the engine's end or the host's next call
//    hands it over again.
//  - The wait after a start (kSpeakStartWaitMs) is spent after the hand-over.
//  - A stop, a voice change and the shut-down hold hand-overs (they may nest,
//    from another thread or from inside the host's callback) and wait for the
//    one in progress; when the hold ends its thread hands over what was queued
//    meanwhile, since the stopped text's end notification may never come.
// The engine reads a copy made for its hand-over, so neither a stop nor a new
// text in the same slot changes the text while the engine speaks it.
#include <cassert>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"

PlatformLock QueueLock;
SpeechQueue Queue;  // tests reach it through speech_testing.h
int32_t speakingMark;
std::atomic<int32_t> SlotsInUse{0};
std::atomic<bool> HandingOver{false};

namespace {
// How deep synchronous end notifications may nest hand-overs on one thread.
constexpr int32_t kMaxNestedHandOvers = 16;

// guarded by QueueLock: the hand-over in progress and who waits for it.
uint32_t handOverThread;     // 0: none
HandOverBy handOverBy;       // who started it, while handOverThread is set
int32_t handOverDepth;       // hand-overs nested in it on that thread, itself included
int32_t handOverWaiters;     // threads waiting in QueueNext for it to end
bool nextRequested;          // someone could not hand over: take one more text
int32_t handOverHolds;       // stops, voice changes, shut-downs in progress: no new hand-over
// Who holds them (a thread may hold more than once): the hold of a thread a host
// killed inside its call is let go. Holders beyond kHandOverHolders are not
// noted (never let go).
constexpr int kHandOverHolders = 8;
struct HandOverHold {
    uint32_t thread;
    int32_t count;
};
HandOverHold holders[kHandOverHolders];
PlatformCondition handOverDone;
// guarded by QueueLock while filled; the engine reads it until its text ends.
// Two, used in turn, so a new take never rewrites the text the engine read last.
char handOverTexts[2][kTextSize];
int32_t lastHandOverText;
// The slot the hand-over in progress took, and how often in a row the engine
// refused a text because it was busy. Such a text goes back to its slot, to be
// tried again at the next end notification or host call, at most
// kBusyRefusalsKept times in a row (an engine stuck busy would keep it for ever).
int32_t takenSlot;
int32_t busyRefusals;
constexpr int32_t kBusyRefusalsKept = 20;

void SetSlotState(QueueSlot& slot, int32_t state) {
    assert(PlatformLockHeldHere(&QueueLock));
    const bool wasInUse = slot.state != Free, inUse = state != Free;
    slot.state = state;
    if (wasInUse != inUse) SlotsInUse += inUse ? 1 : -1;
}

// Takes the next Pending slot in ring order into a hand-over buffer; null when
// the engine is busy or nothing is pending. QueueLock held.
const char* TakeNext() {
    assert(PlatformLockHeldHere(&QueueLock));
    if (Queue.pendingCount == 0) return nullptr;
    const int32_t state = PlaybackState.load();
    if (Engine.initialised && (state == Speaking || state == Paused)) return nullptr;
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
    takenSlot = Queue.readIndex;
    speakingMark = slot.mark;
    SetSlotState(slot, Taken);
    if (Queue.pendingCount != 0) --Queue.pendingCount;
    lastHandOverText ^= 1;
    char* text = handOverTexts[lastHandOverText];
    CopyCut(text, kTextSize, slot.text, sizeof slot.text);
    return text;
}

// Waits, QueueLock held, until no other thread hands over; false when
// kHandOverWaitMs passed first. A hand-over whose thread no longer exists (a host
// killed it inside the engine's call) is over.
bool WaitForOtherHandOver(uint32_t self) {
    assert(PlatformLockHeldHere(&QueueLock));
    const uint32_t started = PlatformTickCount();
    while (handOverThread != 0 && handOverThread != self) {
        const uint32_t waited = PlatformTickCount() - started;
        if (waited >= kHandOverWaitMs) {
            if (PlatformThreadExists(handOverThread)) return false;
            handOverThread = 0;
            handOverDepth = 0;
            HandingOver = false;
            PlatformConditionWakeAll(&handOverDone);
            return true;
        }
        PlatformConditionWait(&handOverDone, &QueueLock, kHandOverWaitMs - waited);
    }
    return true;
}

// Whether hand-overs are held, after letting go the holds of threads that no
// longer exist. QueueLock held.
bool HandOversHeldNow() {
    assert(PlatformLockHeldHere(&QueueLock));
    if (handOverHolds == 0) return false;
    for (HandOverHold& hold : holders) {
        if (hold.count == 0 || PlatformThreadExists(hold.thread)) continue;
        handOverHolds -= hold.count;
        hold = HandOverHold{0, 0};
    }
    if (handOverHolds < 0) handOverHolds = 0;
    return handOverHolds > 0;
}

// Marks this thread as the one handing over for its scope; QueueLock is held
// when it begins and when it ends.
class HandOverScope {
public:
    HandOverScope(uint32_t self, HandOverBy by) : nested_(handOverThread != 0) {
        assert(PlatformLockHeldHere(&QueueLock));
        if (!nested_) {
            handOverThread = self;
            handOverBy = by;
            HandingOver = true;
        }
        ++handOverDepth;
    }
    ~HandOverScope() {
        assert(PlatformLockHeldHere(&QueueLock));
        --handOverDepth;
        if (nested_) return;
        handOverThread = 0;
        HandingOver = false;
        PlatformConditionWakeAll(&handOverDone);
    }
    bool nested() const { return nested_; }
    HandOverScope(const HandOverScope&) = delete;
    HandOverScope& operator=(const HandOverScope&) = delete;

private:
    const bool nested_;
};

// The engine refused the text just taken because it was busy: the text goes
// back to its slot, unless the slot changed meanwhile (a stop, an overwrite) or
// the engine refused too often in a row. True when it went back. QueueLock held.
bool KeepRefusedText() {
    assert(PlatformLockHeldHere(&QueueLock));
    QueueSlot& slot = Queue.slots[takenSlot];
    if (slot.state != Taken || busyRefusals >= kBusyRefusalsKept) {
        busyRefusals = 0;
        return false;
    }
    ++busyRefusals;
    SetSlotState(slot, Pending);
    ++Queue.pendingCount;
    Queue.readIndex = takenSlot;
    return true;
}

// Called back inside this thread's own hand-over, the thread may not start another
// text: a host call has handed over its one, or the nesting is deep enough.
bool MayNotNest() {
    assert(PlatformLockHeldHere(&QueueLock));
    return handOverBy == HandOverBy::Host || handOverDepth >= kMaxNestedHandOvers;
}
}  // namespace

void QueueClear() {
    PlatformLockGuard guard(QueueLock);
    for (QueueSlot& slot : Queue.slots) {
        slot.mark = 0;
        SetSlotState(slot, Free);
        slot.text[0] = '\0';
    }
    Queue.writeIndex = 0;
    Queue.readIndex = 0;
    Queue.pendingCount = 0;
}

void QueueAdd(const char* text, int32_t mark) {
    LogWrite(LOG_QUEUE, "Add - Speak", text);
    {
        PlatformLockGuard guard(QueueLock);
        QueueSlot& slot = Queue.slots[Queue.writeIndex];
        slot.mark = mark;
        SetSlotState(slot, Pending);
        CopyCut(slot.text, sizeof slot.text, text);
        if (++Queue.writeIndex > kQueueSlots - 1) Queue.writeIndex = 0;
        ++Queue.pendingCount;
        // The engine speaks (or is paused) and no start is under way: the end
        // notification of that text takes this one, so the lock is taken once.
        const int32_t state = PlaybackState.load();
        if (handOverThread == 0 && Engine.initialised && (state == Speaking || state == Paused)) return;
    }
    QueueNext(HandOverBy::Host);
}

int32_t QueueCountPendingAndFreeTaken() {
    PlatformLockGuard guard(QueueLock);
    Queue.pendingCount = 0;
    for (QueueSlot& slot : Queue.slots) {
        if (slot.state == Pending)
            ++Queue.pendingCount;
        else
            SetSlotState(slot, Free);
    }
    return Queue.pendingCount;
}

void QueueNext(HandOverBy by) {
    const uint32_t self = PlatformCurrentThreadId();
    PlatformLockGuard guard(QueueLock);
    for (;;) {
        if (Queue.pendingCount == 0 || HandOversHeldNow()) return;
        if (handOverThread != 0 && handOverThread != self) {
            ++handOverWaiters;
            const bool over = WaitForOtherHandOver(self);
            --handOverWaiters;
            if (over) continue;
            nextRequested = true;  // the handing thread takes it once it is back
            return;
        }
        if (handOverThread == self && MayNotNest()) {
            nextRequested = true;
            return;
        }
        const char* text = TakeNext();
        if (!text) {
            nextRequested = false;  // nothing to take, or the next end notification takes it
            return;
        }
        Outcome result;
        bool nested;
        {
            HandOverScope handOver(self, by);
            nested = handOver.nested();
            // Never under the lock: the engine may notify from inside, on this thread or another.
            PlatformLockRelease unlocked(guard);
            LogWrite(LOG_QUEUE, "Next - Speak", text);
            result = SpeakTextWithoutWait(text);
        }
        if (result == Outcome::EngineBusy && !nested && KeepRefusedText()) return;
        if (result != Outcome::EngineBusy) busyRefusals = 0;
        if (result == Outcome::Ok && SpeechTimingsInUse().speakStartWaitMs != 0) {
            PlatformLockRelease unlocked(guard);
            PlatformSleep(SpeechTimingsInUse().speakStartWaitMs);
        }
        if (nested || !nextRequested || handOverWaiters > 0) return;
        nextRequested = false;
    }
}

void QueueSuspendHandOvers() {
    const uint32_t self = PlatformCurrentThreadId();
    PlatformLockGuard guard(QueueLock);
    ++handOverHolds;
    HandOverHold* mine = nullptr;
    for (HandOverHold& hold : holders)
        if (hold.count != 0 && hold.thread == self) mine = &hold;
    for (HandOverHold& hold : holders)
        if (!mine && hold.count == 0) mine = &hold;
    if (mine) {
        mine->thread = self;
        ++mine->count;
    }
    WaitForOtherHandOver(self);
}

void QueueResumeHandOvers() {
    const uint32_t self = PlatformCurrentThreadId();
    PlatformLockGuard guard(QueueLock);
    if (handOverHolds > 0) --handOverHolds;
    for (HandOverHold& hold : holders) {
        if (hold.count != 0 && hold.thread == self) {
            if (--hold.count == 0) hold.thread = 0;
            break;
        }
    }
}
