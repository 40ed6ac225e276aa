// The threaded engine library (see threaded_engine.h). Every notification is
// sent without the engine's lock held, as a real engine's thread would.
#include "support/threaded_engine.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include "platform/platform.h"
#define ENGINE_EXPORT extern "C" __declspec(dllexport)
#else
#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
ThreadedEngineControl control;

using Clock = std::chrono::steady_clock;
struct Event {
    uint32_t code;
    uint64_t job;
    Clock::time_point due;  // not delivered before
};

// guarded by lock: everything below.
std::mutex lock;
std::condition_variable wake;
std::deque<Event> firstQueue, secondQueue;  // the two engine threads' work
std::deque<Event> notices;  // late pause and resume notices, sent by the first thread ahead of its work
std::thread firstThread, secondThread;
bool quitting = false;
bool paused = false;
uint64_t activeJob = 0;  // 0: idle
uint64_t lastJob = 0;
EngineNotifyFn notify = nullptr;
char pendingText[4096];
char lastText[4096];
int32_t lastSequence[kEngineHostThreads];
uint8_t seen[kEngineHostThreads][kEngineMaxSequence / 8];

// Throws as the platform's usual C++ compiler does (a structured exception with
// its code and magic; no value the driver can read) where the engine would be
// built with it, else an unsigned value. Thrown across this library's edge, so
// only the driver's guard can catch it.
[[noreturn]] void ThrowForeign() {
#if defined(_WIN32)
    const ULONG_PTR arguments[3] = {0x19930520, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, arguments);
    for (;;) {
    }
#else
    throw uint32_t{0xE1};
#endif
}

bool Fails(int32_t slot, int32_t& result) {
    if (control.throwSlot.load() == slot) ThrowForeign();
    if (control.failSlot.load() != slot) return false;
    result = control.failResult.load();
    return true;
}

int32_t SlotOf(size_t offset) { return static_cast<int32_t>(offset / sizeof(void*)); }
#define FAIL_IF_SCRIPTED(field)                                          \
    do {                                                                 \
        int32_t result_;                                                 \
        if (Fails(SlotOf(offsetof(EngineApi, field)), result_)) return result_; \
    } while (0)

void Send(uint32_t code) {
    EngineNotifyFn target;
    {
        std::lock_guard<std::mutex> guard(lock);
        target = notify;
    }
    if (!target) return;
    ++control.notifications;
    EngineMessage message{code, 0, nullptr};
    target(0x11, 0x12, nullptr, &message);
}

// Records a host text "h<thread>n<sequence>" as given. Called with lock held.
void RecordGiven(const char* text) {
    ++control.given;
    int thread = -1, sequence = -1;
    if (sscanf(text, "h%dn%d", &thread, &sequence) != 2) return;
    if (thread < 0 || thread >= kEngineHostThreads || sequence < 0 || sequence >= kEngineMaxSequence) return;
    uint8_t& bits = seen[thread][sequence / 8];
    const uint8_t bit = static_cast<uint8_t>(1u << (sequence % 8));
    if (bits & bit) ++control.duplicated;
    else if (sequence < lastSequence[thread]) ++control.outOfOrder;
    bits |= bit;
    if (sequence > lastSequence[thread]) lastSequence[thread] = sequence;
}

// Delivers one event on an engine thread. Called with the guard held; drops it around the call.
void Deliver(std::unique_lock<std::mutex>& guard, const Event& event) {
    if (event.code == kMsgEndProcess) {
        const bool late = event.job != activeJob;  // the text was stopped meanwhile
        if (late && !control.endAfterStop.load()) return;
        if (!late) {
            activeJob = 0;
            ++control.ended;
        }
        guard.unlock();
        Send(kMsgEndProcess);
        if (control.doubleEnd.load() && !late) Send(kMsgEndProcess);
        guard.lock();
        return;
    }
    if (event.job != activeJob) return;  // a begin for a stopped text is not sent
    guard.unlock();
    Send(event.code);
    guard.lock();
}

// In two-thread mode the first thread passes each end to the second.
void Worker(std::deque<Event>* queue, std::deque<Event>* handOff) {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        wake.wait(guard, [&] {
            return quitting || (handOff && !notices.empty()) ||
                   (!queue->empty() && !(paused && queue->front().code == kMsgEndProcess));
        });
        if (quitting) return;
        if (handOff && !notices.empty()) {
            const Event notice = notices.front();
            if (notice.due > Clock::now()) {
                wake.wait_until(guard, notice.due);
                continue;
            }
            notices.pop_front();
            guard.unlock();
            Send(notice.code);
            guard.lock();
            continue;
        }
        if (queue->front().due > Clock::now()) {
            wake.wait_until(guard, queue->front().due);
            continue;
        }
        const Event event = queue->front();
        queue->pop_front();
        if (handOff && event.code == kMsgEndProcess && control.mode.load() == kEndOnTwoThreads) {
            handOff->push_back(event);
            wake.notify_all();
            continue;
        }
        Deliver(guard, event);
    }
}

void StopThreads() {
    {
        std::lock_guard<std::mutex> guard(lock);
        quitting = true;
    }
    wake.notify_all();
    if (firstThread.joinable()) firstThread.join();
    if (secondThread.joinable()) secondThread.join();
    std::lock_guard<std::mutex> guard(lock);
    firstQueue.clear();
    secondQueue.clear();
    notices.clear();
    quitting = false;
}

// A library unloaded without its close leaves its threads running: they are let
// go rather than ending the process.
struct ThreadsAtUnload {
    ~ThreadsAtUnload() {
        const bool threadsLeft = firstThread.joinable() || secondThread.joinable();
        if (firstThread.joinable()) firstThread.detach();
        if (secondThread.joinable()) secondThread.detach();
#if defined(_WIN32)
        // The static thread runtime's TLS index goes back, unless threads let go still use it:
        // the tests load this library thousands of times in one process.
        if (!threadsLeft) PlatformFreeRuntimeTlsIndexes();
#else
        (void)threadsLeft;
#endif
    }
} threadsAtUnload;

// A folder may come in the Windows form (a kal.ini written for Windows names one so):
// natively a backslash reads as a slash, as the driver's own routines read it.
void NativeSeparators(char* path) {
#if !defined(_WIN32)
    for (; *path; ++path)
        if (*path == '\\') *path = '/';
#else
    (void)path;
#endif
}

void Copy(char* out, size_t size, const char* text) {
    if (size == 0) return;
    snprintf(out, size, "%s", text ? text : "");
}
}  // namespace

// Lists scripted by a file in the engine's folder (see threaded_engine.h); when
// absent the engine lists one engine, its languages and two voices.
struct ListScript {
    bool present = false;
    int32_t counts[3] = {0, 0, 0};  // engines, languages, voices: reported as given
    std::vector<unsigned char> bytes;  // entry contents, taken in turn
} script;

void ReadListFile(const char* folder) {
    char path[600];
    snprintf(path, sizeof path, "%s%s", folder ? folder : "", THREADED_ENGINE_LIST_FILE);
    NativeSeparators(path);
    script = ListScript();
    FILE* file = fopen(path, "rb");
    if (!file) return;
    script.present = fread(script.counts, sizeof script.counts, 1, file) == 1;
    unsigned char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) script.bytes.insert(script.bytes.end(), buffer, buffer + n);
    fclose(file);
}

// Fills at most capacity entries from the script's bytes (unterminated if so)
// and reports the scripted count, whatever it is.
template <typename Entry>
void FillScripted(int which, Entry* list, int32_t* count, size_t& at) {
    const int32_t capacity = *count;
    const int32_t wanted = script.counts[which];
    for (int32_t i = 0; i < capacity && i < wanted; ++i) {
        memset(list[i].text, 0, sizeof list[i].text);
        for (size_t j = 0; j < sizeof list[i].text && at < script.bytes.size(); ++j) {
            const unsigned char c = script.bytes[at++];
            if (c == 0xFF) break;  // ends this entry early
            list[i].text[j] = static_cast<char>(c);
        }
    }
    *count = wanted;
}
size_t scriptAt = 0;

// A fault that must outlive a reload of the library (a start-up fault) is read
// from the engine's folder: "<slot> <result>".
char journalPath[600];  // empty: no journal

int32_t TextFaultNamed(const char* word) {
    const char* const names[] = {"abort", "segv", "hang", "leak"};
    for (int32_t i = 0; i < 4; ++i)
        if (strcmp(word, names[i]) == 0) return kTextFaultAbort + i;
    return kTextFaultNone;
}

// Inside Speak, for a text holding the scripted word: the fault as a real engine has it.
void FaultOnText(const char* text) {
    const int32_t fault = control.textFault.load();
    if (fault == kTextFaultNone || !strstr(text, control.textFaultWord)) return;
    switch (fault) {
    case kTextFaultAbort: abort();
    case kTextFaultSegv: {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
        break;
    }
    case kTextFaultHang: std::this_thread::sleep_for(std::chrono::milliseconds(kTextHangMs)); break;
    case kTextFaultLeak:
        // Touched, so that it counts as the process's memory; never given back.
        for (uint32_t taken = 0; taken < kTextLeakMb; taken += kTextLeakStepMb) {
            const size_t size = size_t{kTextLeakStepMb} << 20;
            char* block = static_cast<char*>(malloc(size));
            if (!block) break;
            memset(block, 0x5A, size);
            static std::vector<char*> leaked;  // reachable, so a leak checker stays quiet
            leaked.push_back(block);
            std::this_thread::sleep_for(std::chrono::milliseconds(kTextLeakStepMs));
        }
        break;
    }
}

void ReadFaultFile(const char* folder) {
    char path[600];
    snprintf(path, sizeof path, "%s%s", folder ? folder : "", THREADED_ENGINE_FAULT_FILE);
    NativeSeparators(path);
    journalPath[0] = '\0';
    control.textFault = kTextFaultNone;
    FILE* file = fopen(path, "r");
    if (!file) return;
    char word[32];
    while (fscanf(file, "%31s", word) == 1) {
        int value = 0;
        if (strcmp(word, "busy") == 0) {
            control.stuckBusy = 1;
        } else if (strcmp(word, "journal") == 0) {
            snprintf(journalPath, sizeof journalPath, "%s%s", folder ? folder : "", THREADED_ENGINE_JOURNAL);
            NativeSeparators(journalPath);
        } else if (strcmp(word, "throw") == 0 && fscanf(file, "%d", &value) == 1) {
            control.throwSlot = value;
        } else if (const int32_t fault = TextFaultNamed(word)) {
            char faultWord[kTextFaultWordSize];
            if (fscanf(file, "%63s", faultWord) != 1) break;
            memcpy(control.textFaultWord, faultWord, sizeof faultWord);
            control.textFault = fault;
        } else if (strcmp(word, "slow") == 0 && fscanf(file, "%d", &value) == 1) {
            control.initializeDelayMs = static_cast<uint32_t>(value);
        } else if (sscanf(word, "%d", &value) == 1) {
            int result = 0;
            if (fscanf(file, "%d", &result) != 1) break;
            control.failSlot = value;
            control.failResult = result;
        } else {
            break;
        }
    }
    fclose(file);
}

void Journal(const char* line) {
    static std::mutex journalLock;
    std::lock_guard<std::mutex> guard(journalLock);
    if (!journalPath[0]) return;
    if (FILE* file = fopen(journalPath, "a")) {
        fprintf(file, "%s\n", line);
        fclose(file);
    }
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsInitialize(const char* folder, EngineClassHandle* out) {
    ReadFaultFile(folder);
    ReadListFile(folder);
    scriptAt = 0;
    if (const uint32_t delay = control.initializeDelayMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    FAIL_IF_SCRIPTED(initialize);
    Journal("+init");
    *out = EngineClassHandle{0x21, 0x22};
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsGetEngineList(uint32_t, uint32_t, int32_t, EngineEntry* list, int32_t* count) {
    FAIL_IF_SCRIPTED(getEngineList);
    if (script.present) {
        FillScripted(0, list, count, scriptAt);
        return 0;
    }
    if (*count < 1) return 0;
    Copy(list[0].text, sizeof list[0].text, "Threaded");
    *count = 1;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsGetLanguageList(uint32_t, uint32_t, const EngineEntry*, LanguageEntry* list,
                                                          int32_t* count) {
    FAIL_IF_SCRIPTED(getLanguageList);
    if (script.present) {
        FillScripted(1, list, count, scriptAt);
        return 0;
    }
    const char* names[] = {"Deutsch", "English"};
    int32_t n = control.languages.load() > 1 ? 2 : 1;
    if (n > *count) n = *count;
    for (int32_t i = 0; i < n; ++i) Copy(list[i].text, sizeof list[i].text, names[i]);
    *count = n;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsUnInitialize(uint32_t, uint32_t) {
    Journal("-init");
    FAIL_IF_SCRIPTED(unInitialize);
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsOpen(uint32_t, uint32_t, const EngineEntry*, EngineInstanceHandle* out, int32_t) {
    FAIL_IF_SCRIPTED(open);
    StopThreads();
    {
        std::lock_guard<std::mutex> guard(lock);
        activeJob = 0;
        paused = false;
    }
    firstThread = std::thread(Worker, &firstQueue, &secondQueue);
    secondThread = std::thread(Worker, &secondQueue, nullptr);
    ++control.opens;
    Journal("+open");
    *out = EngineInstanceHandle{0x11, 0x12};
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsClose(uint32_t, uint32_t) {
    ++control.closes;
    Journal("-open");
    if (control.closeLeavesThreads.load()) {
        // As an engine that does not wait for its own notification thread.
        std::lock_guard<std::mutex> guard(lock);
        notify = nullptr;
        if (firstThread.joinable()) firstThread.detach();
        if (secondThread.joinable()) secondThread.detach();
    } else {
        StopThreads();  // a real engine waits for its threads too
    }
    FAIL_IF_SCRIPTED(close);
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsSetOutDevice(uint32_t, uint32_t, const OutDeviceRecord* device) {
    FAIL_IF_SCRIPTED(setOutDevice);
    std::lock_guard<std::mutex> guard(lock);
    notify = device ? device->notify : nullptr;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsStop(uint32_t, uint32_t) {
    FAIL_IF_SCRIPTED(stop);
    uint64_t cut = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (activeJob == 0) return 0;
        cut = activeJob;
        activeJob = 0;
        paused = false;
        ++control.stopped;
        for (std::deque<Event>* queue : {&firstQueue, &secondQueue}) {
            for (auto it = queue->begin(); it != queue->end();)
                it = it->job == cut ? queue->erase(it) : it + 1;
        }
        if (control.endAfterStop.load()) firstQueue.push_back(Event{kMsgEndProcess, cut, Clock::now()});
    }
    if (!control.noStopMessage.load()) Send(kMsgStop);
    wake.notify_all();
    return 0;
}

// With noticeDelayMs the notice comes later, from the engine's first thread
// (as an engine that queues it behind its own work). Called with lock held.
bool QueueNotice(uint32_t code) {
    const uint32_t delay = control.noticeDelayMs.load();
    if (delay == 0) return false;
    notices.push_back(Event{code, activeJob, Clock::now() + std::chrono::milliseconds(delay)});
    wake.notify_all();
    return true;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsPause(uint32_t, uint32_t) {
    FAIL_IF_SCRIPTED(pause);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (activeJob == 0 || paused) return 0;
        paused = true;
        if (QueueNotice(kMsgPause)) return 0;
    }
    Send(kMsgPause);
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsResume(uint32_t, uint32_t) {
    FAIL_IF_SCRIPTED(resume);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!paused) return 0;
        paused = false;
        if (QueueNotice(kMsgResume)) {
            wake.notify_all();
            return 0;
        }
    }
    wake.notify_all();
    Send(kMsgResume);
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsGetInstStatus(uint32_t, uint32_t, int32_t* status) {
    FAIL_IF_SCRIPTED(getInstStatus);
    std::lock_guard<std::mutex> guard(lock);
    bool busyPoll = false;
    for (int32_t n = control.busyPolls.load(); n > 0 && !busyPoll;)
        busyPoll = control.busyPolls.compare_exchange_weak(n, n - 1);
    *status = (control.stuckBusy.load() || activeJob != 0 || busyPoll) ? 1 : 0;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsSetParamList(uint32_t, uint32_t, const ParamRecord*, int32_t) {
    FAIL_IF_SCRIPTED(setParamList);
    const int32_t now = ++control.paramCallsNow;
    for (int32_t most = control.paramCallsAtOnce.load(); now > most;)
        if (control.paramCallsAtOnce.compare_exchange_weak(most, now)) break;
    if (const uint32_t delay = control.paramDelayMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    --control.paramCallsNow;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsGetVoiceList(uint32_t, uint32_t, const EngineEntry*, const LanguageEntry*,
                                                       VoiceEntry* list, int32_t* count) {
    FAIL_IF_SCRIPTED(getVoiceList);
    if (script.present) {
        FillScripted(2, list, count, scriptAt);
        return 0;
    }
    const char* names[] = {"Anna", "Petra"};
    int32_t n = *count < 2 ? *count : 2;
    for (int32_t i = 0; i < n; ++i) Copy(list[i].text, sizeof list[i].text, names[i]);
    *count = n < 0 ? 0 : n;
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsLoadDictionary(uint32_t, uint32_t, int32_t, const void*, uint32_t,
                                                         EngineDictionaryHandle* out) {
    FAIL_IF_SCRIPTED(loadDictionary);
    *out = EngineDictionaryHandle{0x51, 0x52};
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsUnloadDictionary(uint32_t, uint32_t, uint32_t, uint32_t) {
    FAIL_IF_SCRIPTED(unloadDictionary);
    return 0;
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsSetText(uint32_t, uint32_t, const TextRecord* text) {
    FAIL_IF_SCRIPTED(setText);
    std::lock_guard<std::mutex> guard(lock);
    const uint32_t n = text->length < sizeof pendingText - 1 ? text->length : sizeof pendingText - 1;
    memcpy(pendingText, text->text, n);  // read while the call lasts, as the engine reads it
    pendingText[n] = '\0';
    return 0;
}

ENGINE_EXPORT const char* ENGINE_CALL ssft_ttsErrorGetString(uint32_t) {
    if (control.failSlot.load() == SlotOf(offsetof(EngineApi, errorGetString))) return nullptr;
    return "simulierter Fehler";
}

ENGINE_EXPORT int32_t ENGINE_CALL ssft_ttsSpeak(uint32_t, uint32_t, int32_t) {
    FAIL_IF_SCRIPTED(speak);
    {
        char text[sizeof pendingText];
        {
            std::lock_guard<std::mutex> guard(lock);
            memcpy(text, pendingText, sizeof text);
        }
        FaultOnText(text);
    }
    uint64_t job;
    const int32_t mode = control.mode.load();
    const bool beginHere = (mode == kEndSynchronous || control.beginInsideSpeak.load()) && !control.dropBegin.load();
    {
        std::lock_guard<std::mutex> guard(lock);
        job = activeJob = ++lastJob;
        RecordGiven(pendingText);
        snprintf(lastText, sizeof lastText, "%s", pendingText);
    }
    // The begin always comes before the end, wherever each is sent from.
    if (beginHere) Send(kMsgBeginProcess);
    std::unique_lock<std::mutex> guard(lock);
    if (mode == kEndSynchronous) {
        if (!control.dropEnd.load()) Deliver(guard, Event{kMsgEndProcess, job, Clock::now()});
        return 0;
    }
    const Clock::time_point now = Clock::now();
    if (!beginHere && !control.dropBegin.load()) firstQueue.push_back(Event{kMsgBeginProcess, job, now});
    if (!control.dropEnd.load())
        firstQueue.push_back(Event{kMsgEndProcess, job, now + std::chrono::milliseconds(control.textMs.load())});
    guard.unlock();
    wake.notify_all();
    return 0;
}

// Bound but never called by the driver.
#define UNUSED_ENTRY(name) \
    ENGINE_EXPORT int32_t ENGINE_CALL name() { return 0; }
UNUSED_ENTRY(ssft_ttsSetInDevice)
UNUSED_ENTRY(ssft_ttsProcess)
UNUSED_ENTRY(ssft_ttsGetParamList)
UNUSED_ENTRY(ssft_ttsGetLipSyncInfo)
UNUSED_ENTRY(ssft_ttsGetPPList)
UNUSED_ENTRY(ssft_ttsBackward)
UNUSED_ENTRY(ssft_ttsForward)
UNUSED_ENTRY(ssft_ttsGetSpeechDBList)
UNUSED_ENTRY(ssft_ttsActivateDictionary)
UNUSED_ENTRY(ssft_ttsDeactivateDictionary)
UNUSED_ENTRY(ssft_ttsGetWordTranscriptions)
UNUSED_ENTRY(ssft_ttsFreeTranscriptions)

// Each of the thirty has the shape the driver binds it with.
ENGINE_CHECK_ENTRY_POINTS()

ENGINE_EXPORT ThreadedEngineControl* ENGINE_CALL threaded_engine_control() { return &control; }

ENGINE_EXPORT int32_t ENGINE_CALL threaded_engine_seen(int32_t thread, int32_t sequence) {
    if (thread < 0 || thread >= kEngineHostThreads || sequence < 0 || sequence >= kEngineMaxSequence) return 0;
    std::lock_guard<std::mutex> guard(lock);
    return (seen[thread][sequence / 8] >> (sequence % 8)) & 1;
}

ENGINE_EXPORT void ENGINE_CALL threaded_engine_last_text(char* out, uint32_t size) {
    std::lock_guard<std::mutex> guard(lock);
    Copy(out, size, lastText);
}

// Sends one notification from the caller's thread, as an engine thread would
// deliver one it had on its way (a begin that crossed a stop, say).
ENGINE_EXPORT void ENGINE_CALL threaded_engine_notify(uint32_t code) { Send(code); }

ENGINE_EXPORT void ENGINE_CALL threaded_engine_reset() {
    std::lock_guard<std::mutex> guard(lock);
    memset(seen, 0, sizeof seen);
    for (int32_t& last : lastSequence) last = -1;
    lastText[0] = '\0';
    for (auto* counter : {&control.given, &control.ended, &control.stopped, &control.duplicated, &control.outOfOrder,
                          &control.notifications})
        counter->store(0);
}
