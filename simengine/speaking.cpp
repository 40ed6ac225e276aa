// Speaking: the state changes of Speak/Stop/Pause/Resume and the delivery of
// their notifications, on a worker thread per instance or (Sync=1) in the call.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "simengine/journal.h"
#include "simengine/state.h"

namespace sim {
namespace {

const ULONGLONG kMinSpeakingMs = 3;
// An idle worker leaves, so that a driver that unloads us without Close does
// not keep the DLL (which the worker pins) loaded for ever.
const ULONGLONG kIdleExitMs = 300;
const ULONGLONG kStartWaitMs = 200;

ULONGLONG speakingMs(const Instance& in) {
    ULONGLONG ms = in.text.size() * ULONGLONG(g.config.msPerChar) * 50 / std::max<uint16_t>(in.rate, 1);
    return std::max(ms, kMinSpeakingMs);
}

// Calls notify with the lock dropped; the caller does not hold it.
void deliver(Instance& in, uint32_t code) {
    EngineNotifyFn notify;
    uint32_t first, second;
    FILE* stream = nullptr;
    {
        Guard guard;
        if (!in.open || !in.notify) return;
        notify = in.notify;
        first = kInstanceTag + static_cast<uint32_t>(&in - g.instances);
        second = in.serial;
        if (code == kMsgOutBufRequest || code == kMsgOutBufDone) {
            if (!in.outStream) in.outStream = std::fopen((g.folder + "simengine.out").c_str(), "ab");
            stream = in.outStream;
        }
    }
    EngineMessage message{code, 0, nullptr};
    if (code == kMsgOutBufRequest) {
        in.outBuffer = OutBufferInfo{};  // the driver sets size and buffer
        message.data = &in.outBuffer;
    } else if (code == kMsgOutBufDone) {
        if (in.outBuffer.buffer && in.outBuffer.size)  // "synthesise" silence into it
            std::memset(in.outBuffer.buffer, 0, in.outBuffer.size);
        message.data = &in.outBuffer;
    }
    journalLine("Notify code=" + std::to_string(code));
    notify(first, second, stream, &message);
}

bool stillSpeaking(Instance& in, uint32_t speech) {
    Guard guard;
    return in.open && in.speechSerial == speech && in.speech == Speech::Speaking;
}

// Sync mode: the text is done as soon as its messages are out, unless the
// driver paused, stopped or replaced it meanwhile.
void finishSync(Instance& in, uint32_t speech) {
    Guard guard;
    if (!in.open || in.speechSerial != speech || in.speech != Speech::Speaking) return;
    in.speech = Speech::Idle;  // status 0 before the end message
    guard.unlock();
    deliver(in, kMsgEndProcess);
}

void workerLoop(Guard& guard, Instance& in) {
    ULONGLONG idleSince = GetTickCount64();
    while (!in.workerQuit) {
        if (!in.pending.empty()) {
            uint32_t code = in.pending.front();
            in.pending.pop_front();
            guard.unlock();
            deliver(in, code);
            guard.lock();
            idleSince = GetTickCount64();
            continue;
        }
        ULONGLONG now = GetTickCount64();
        if (in.speech == Speech::Speaking) {
            if (now >= in.deadline) {
                in.speech = Speech::Idle;  // status 0 before the end message
                guard.unlock();
                deliver(in, kMsgEndProcess);
                guard.lock();
                idleSince = GetTickCount64();
            } else {
                SleepConditionVariableSRW(&in.wake, &g.lock, DWORD(in.deadline - now), 0);
            }
        } else if (in.speech == Speech::Paused) {
            SleepConditionVariableSRW(&in.wake, &g.lock, INFINITE, 0);
        } else if (now - idleSince >= kIdleExitMs) {
            return;
        } else {
            SleepConditionVariableSRW(&in.wake, &g.lock, DWORD(kIdleExitMs - (now - idleSince)), 0);
        }
    }
}

DWORD WINAPI workerMain(void* arg) {
    Instance& in = *static_cast<Instance*>(arg);
    {
        Guard guard;
        in.workerStarted = true;
        in.workerThreadId = GetCurrentThreadId();
        workerLoop(guard, in);
        in.workerRunning = false;
        in.workerStarted = false;
        in.workerThreadId = 0;
        WakeAllConditionVariable(&in.workerGone);
    }
    // Drops the reference taken for this thread; the DLL may unload here.
    FreeLibraryAndExitThread(g.module, 0);
}

// Never waits for the thread: it cannot start while the caller holds the
// loader lock (the driver opens us from its DllMain).
void startWorkerIfNeeded(Guard& guard, Instance& in) {
    if (in.workerRunning) return;
    in.workerRunning = true;
    in.workerStarted = false;
    in.workerQuit = false;
    guard.unlock();  // the loader lock may be needed below: never under ours
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&workerMain), &self);
    HANDLE thread = self ? CreateThread(nullptr, 0, workerMain, &in, 0, nullptr) : nullptr;
    if (thread) {
        CloseHandle(thread);
        return;
    }
    if (self) FreeLibrary(self);
    guard.lock();
    in.workerRunning = false;
    WakeAllConditionVariable(&in.workerGone);
}

// Worker mode queues the codes; sync mode delivers them now, then ends the
// text if `finish`. Buffer messages are skipped once the text is over.
void dispatch(Guard& guard, Instance& in, std::initializer_list<uint32_t> codes, bool finish) {
    if (!g.config.sync) {
        in.pending.insert(in.pending.end(), codes.begin(), codes.end());
        WakeConditionVariable(&in.wake);
        startWorkerIfNeeded(guard, in);
        return;
    }
    uint32_t speech = in.speechSerial;
    guard.unlock();
    for (uint32_t code : codes) {
        bool buffer = code == kMsgOutBufRequest || code == kMsgOutBufDone;
        if (buffer && !stillSpeaking(in, speech)) break;
        deliver(in, code);
    }
    if (finish) finishSync(in, speech);
}

}  // namespace

void startSpeaking(Guard& guard, Instance& in) {
    in.speech = Speech::Speaking;
    ++in.speechSerial;
    in.deadline = GetTickCount64() + speakingMs(in);
    if (!g.config.sync && g.config.beginInSpeak) {
        // Some engines announce the begin on the caller's thread, before Speak
        // returns, and everything after it on their own thread.
        guard.unlock();
        deliver(in, kMsgBeginProcess);
        guard.lock();
        if (g.config.bufferMessages) {
            dispatch(guard, in, {kMsgOutBufRequest, kMsgOutBufDone}, false);
        } else {
            WakeConditionVariable(&in.wake);
            startWorkerIfNeeded(guard, in);
        }
        return;
    }
    if (g.config.bufferMessages)
        dispatch(guard, in, {kMsgBeginProcess, kMsgOutBufRequest, kMsgOutBufDone}, true);
    else
        dispatch(guard, in, {kMsgBeginProcess}, true);
}

void stopSpeaking(Guard& guard, Instance& in) {
    if (in.speech == Speech::Idle) return;
    in.speech = Speech::Idle;
    auto buffer = [](uint32_t c) { return c == kMsgOutBufRequest || c == kMsgOutBufDone; };
    in.pending.erase(std::remove_if(in.pending.begin(), in.pending.end(), buffer), in.pending.end());
    dispatch(guard, in, {kMsgStop}, false);
}

void pauseSpeaking(Guard& guard, Instance& in) {
    if (in.speech != Speech::Speaking) return;
    ULONGLONG now = GetTickCount64();
    in.speech = Speech::Paused;
    in.remaining = in.deadline > now ? in.deadline - now : 0;
    dispatch(guard, in, {kMsgPause}, false);
}

void resumeSpeaking(Guard& guard, Instance& in) {
    if (in.speech != Speech::Paused) return;
    in.speech = Speech::Speaking;
    in.deadline = GetTickCount64() + in.remaining;
    dispatch(guard, in, {kMsgResume}, true);
}

void shutdownInstance(Guard& /*held*/, Instance& in) {
    in.workerQuit = true;
    WakeConditionVariable(&in.wake);
    // Not from the worker's own notify. A worker that has not started yet may
    // be held back by the loader lock our caller holds (the driver's DllMain):
    // give it a moment, then leave it to quit on its own when it starts.
    if (in.workerThreadId != GetCurrentThreadId()) {
        ULONGLONG giveUp = GetTickCount64() + kStartWaitMs;
        while (in.workerRunning && !in.workerStarted && GetTickCount64() < giveUp)
            SleepConditionVariableSRW(&in.workerGone, &g.lock, 10, 0);
        while (in.workerRunning && in.workerStarted)
            SleepConditionVariableSRW(&in.workerGone, &g.lock, INFINITE, 0);
    }
    in.open = false;
    in.notify = nullptr;
    in.pending.clear();
    in.speech = Speech::Idle;
    if (in.outStream) std::fclose(in.outStream);
    in.outStream = nullptr;
}

int workerCount() {
    int n = 0;
    for (const Instance& in : g.instances) n += in.workerRunning ? 1 : 0;
    return n;
}

}  // namespace sim
