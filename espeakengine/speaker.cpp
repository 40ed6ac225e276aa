// SPDX-License-Identifier: GPL-3.0-or-later
#include "espeakengine/speaker.h"

#include <espeak-ng/speak_lib.h>
#include <pthread.h>

#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "espeakengine/limits.h"
#include "espeakengine/output.h"
#include "espeakengine/voices.h"

namespace {
struct Job {
    uint64_t id;
    std::string text;
};

// The engine's one process-wide record, its fields grouped by who touches
// them and what guards them.
struct SpeakerState {
    // guarded by lock: the queue, the text being spoken, the worker's state,
    // the settings it applies before each text, and what the driver gave.
    std::mutex lock;
    std::condition_variable wake;      // the worker: work, quit, resume
    std::condition_variable answered;  // callers of start and end
    std::deque<Job> jobs;
    std::string pendingText;
    uint64_t lastJob = 0;
    uint64_t activeJob = 0;  // 0: nothing being spoken
    uint64_t cutJob = 0;     // the text a stop cut, until the worker let go of it
    uint64_t deliveringJob = 0;  // the text whose block the worker is handing to the output
    std::condition_variable delivered;  // a stop waiting for that block
    bool paused = false;
    bool quitting = false;
    bool running = false;     // the worker has started eSpeak NG
    bool finished = true;     // the worker has returned
    int32_t startResult = kEngineOk;
    std::string startDetail;
    int language = 0, voice = 0, rate = 50, volume = 100;
    EngineNotifyFn notify = nullptr;
    SpeakerSampleProbe sampleProbe = nullptr;
    SpeakerTextProbe textProbe = nullptr;

    // Started, joined and detached under lock by SpeakerStart and SpeakerEnd.
    // Never destroyed: at exit a worker that did not end (a stuck output) or
    // one a forked child only has a copy of must not end the process through
    // the destructor of a thread still joinable.
    std::thread& worker = *new std::thread();
    std::thread::id workerId;

    // eSpeak NG itself: started once in a process and never terminated (its
    // terminate can hang for ever joining the library's own thread, seen with
    // 1.51 after a terminate and a new start, and the library must not be
    // unloaded while that thread runs, so this engine library stays loaded once
    // loaded: -z nodelete). Touched by one worker at a time: SpeakerStart joins
    // the last before it starts the next.
    int espeakSampleRate = 0;  // 0: not started yet
    std::string espeakData;    // the data folder it was started on

    // eSpeak NG is one library per process, whatever folder an engine library
    // is loaded from: a second copy of this library (another product folder in
    // the same host) would share its state and its callback silently. The
    // first copy to start claims the process by a name only this process can
    // hold (an abstract socket named after the process id); the others are
    // refused. Written once by the worker of the copy that claims it; never closed.
    int processClaim = -1;

    // The process this library's worker runs in: a child made by fork has no
    // worker, and its exit must neither wait for one nor touch the parent's
    // output (a WAV header, a server connection). Set at load and by the fork handler.
    pid_t workerProcess = 0;

    // Worker-only: the text being spoken and whether its begin was sent; the
    // output, which the worker deletes when it ends (a worker that never ended,
    // a stuck output at exit, keeps it, never freed under its feet).
    uint64_t speakingJob = 0;
    bool begun = false;
    AudioOutput* output = nullptr;
} speaker;

// The library's unload (at the latest, the process's end) ends the worker
// before the records above go away: a driver that never closed the engine
// must not leave a thread speaking into freed memory.
struct EndAtUnload {
    ~EndAtUnload();
} endAtUnload;

void Send(uint32_t code) {
    EngineNotifyFn target;
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        target = speaker.notify;
    }
    if (!target) return;
    EngineMessage message{code, 0, nullptr};
    target(0, 0, nullptr, &message);
}

bool Cut(uint64_t job) { return speaker.cutJob == job || speaker.quitting; }

// A text is being spoken that no stop cut. A cut one may still be letting go
// of the output (a flush): the next text is taken meanwhile and follows it,
// so a stop never leaves the host's next text waiting for the engine.
bool Holding() { return speaker.activeJob != 0 && speaker.activeJob != speaker.cutJob; }

// What the host wants of the text being spoken, for an output that waits.
TextState SpeakingState() {
    std::lock_guard<std::mutex> guard(speaker.lock);
    if (Cut(speaker.speakingJob)) return TextState::Cut;
    return speaker.paused ? TextState::Hold : TextState::Go;
}

// eSpeak NG's synth callback, on the worker inside espeak_Synth. Returning 1
// cancels the synthesis at once: the library's own cancel does not cut a
// synchronous synthesis and blocks for hundreds of milliseconds.
int OnSamples(short* samples, int count, espeak_EVENT*) {
    if (!samples) return 0;  // the synthesis is complete
    SpeakerSampleProbe probe;
    {
        std::unique_lock<std::mutex> guard(speaker.lock);
        // Paused: no sample leaves until a resume, or a stop cuts the text.
        while (speaker.paused && !Cut(speaker.speakingJob))
            speaker.wake.wait_for(guard, std::chrono::milliseconds(kPauseCheckMs));
        if (Cut(speaker.speakingJob)) return 1;
        probe = speaker.sampleProbe;
    }
    if (count <= 0) return 0;
    if (!speaker.begun) {
        speaker.begun = true;
        Send(kMsgBeginProcess);
    }
    {
        // Checked again with the block marked as on its way, so that a stop
        // either cuts it here or waits until it has reached the output: no
        // sample leaves after the stop has returned.
        std::lock_guard<std::mutex> guard(speaker.lock);
        if (Cut(speaker.speakingJob)) return 1;
        speaker.deliveringJob = speaker.speakingJob;
    }
    // Samples the output refused (it reported why) end the text where it
    // stands: its end is sent, and no later sample claims to follow them.
    const bool written = speaker.output->Write(samples, count, SpeakingState);
    if (written && probe) probe(samples, count);
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        speaker.deliveringJob = 0;
    }
    speaker.delivered.notify_all();
    return written ? 0 : 1;
}

// False with detail set when another copy of the engine library in this
// process started eSpeak NG first.
bool ClaimProcess(std::string& detail) {
    if (speaker.processClaim >= 0) return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int length = snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "kal-espeakengine-%ld",
                                static_cast<long>(getpid()));
    const int claim = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (claim < 0) return true;  // no socket to be had: nothing to compare with either
    if (bind(claim, reinterpret_cast<sockaddr*>(&address),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length)) != 0) {
        close(claim);
        detail = "another copy of the engine library in this process (another folder) already uses eSpeak NG";
        return false;
    }
    speaker.processClaim = claim;
    return true;
}

bool IsFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// eSpeak NG reads phontab without checking it: an empty, cut or zeroed file
// crashes the process inside espeak_Initialize. The file is a count of tables
// (4 bytes, the first the count), then per table 4 bytes (the first its number
// of phonemes), a 32-byte name and 16 bytes a phoneme; they fill it exactly.
constexpr size_t kPhonemeTableHead = 4 + 32;
constexpr size_t kPhonemeBytes = 16;

bool PhonemeTablesSound(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    std::string bytes;
    char buffer[8192];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    fclose(file);
    if (bytes.size() < 4 || bytes[0] == 0) return false;
    const int tables = static_cast<unsigned char>(bytes[0]);
    size_t at = 4;
    for (int i = 0; i < tables; ++i) {
        if (at + kPhonemeTableHead > bytes.size()) return false;
        const size_t phonemes = static_cast<unsigned char>(bytes[at]);
        if (phonemes == 0) return false;
        at += kPhonemeTableHead + phonemes * kPhonemeBytes;
    }
    return at == bytes.size();
}

// Why eSpeak NG cannot be started on the folder, or "" when it can.
std::string DataFault(const std::string& folder) {
    if (!IsFile(folder + "/phontab")) return "no eSpeak NG data in " + folder + " (phontab missing or empty)";
    for (const char* file : {"phondata", "phonindex", "intonations"})
        if (!IsFile(folder + "/" + file)) return "eSpeak NG's data in " + folder + " lacks " + file;
    if (!PhonemeTablesSound(folder + "/phontab")) return "eSpeak NG's phontab in " + folder + " is damaged";
    return "";
}

// On the worker: eSpeak NG and the output, or why not.
int32_t StartOnWorker(const EngineConfig& config, std::string& detail) {
    // eSpeak NG quietly falls back to its built-in folder when the one given
    // holds no data: the folder is checked here, so the configured one is used.
    detail = DataFault(config.data);
    if (!detail.empty()) return kErrNoData;
    if (speaker.espeakSampleRate == 0) {
        if (!ClaimProcess(detail)) return kErrInUse;
        // Without DONT_EXIT the library ends the whole process when its data is bad.
        const int sampleRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, static_cast<int>(kBlockMs),
                                                 config.data.c_str(), espeakINITIALIZE_DONT_EXIT);
        if (sampleRate <= 0) {
            detail = "eSpeak NG could not start on the data in " + config.data;
            return kErrEspeakInit;
        }
        speaker.espeakSampleRate = sampleRate;
        speaker.espeakData = config.data;
    } else if (config.data != speaker.espeakData) {
        detail = "eSpeak NG runs on the data in " + speaker.espeakData +
                 " in this process; another folder needs a new process";
        return kErrEspeakInit;
    }
    const int sampleRate = speaker.espeakSampleRate;
    // Set at every start: whoever called the library meanwhile may have set another.
    espeak_SetSynthCallback(OnSamples);
    switch (config.output) {
    case OutputKind::Wav: speaker.output = MakeWavOutput(config.wav, config.wavMode, config.realtime).release(); break;
    case OutputKind::Pulse: speaker.output = MakePulseOutput(config.pulse).release(); break;
    case OutputKind::None: speaker.output = MakeNoOutput().release(); break;
    }
    if (!speaker.output->Open(sampleRate, detail)) {
        delete speaker.output;
        speaker.output = nullptr;
        return kErrOutput;
    }
    return kEngineOk;
}

// The settings eSpeak NG has now; -1: not yet set.
struct Applied {
    int language = -1, voice = -1, rate = -1, volume = -1;
};

void Apply(Applied& applied, int wantLanguage, int wantVoice, int wantRate, int wantVolume, int pitch) {
    if (wantLanguage != applied.language || wantVoice != applied.voice) {
        espeak_SetVoiceByName(EspeakVoiceName(wantLanguage, wantVoice).c_str());
        applied.language = wantLanguage;
        applied.voice = wantVoice;
        applied.rate = applied.volume = -1;  // a voice brings its own rate, volume and pitch
        espeak_SetParameter(espeakPITCH, EspeakPitch(pitch), 0);
    }
    if (wantRate != applied.rate) espeak_SetParameter(espeakRATE, EspeakRate(wantRate), 0);
    if (wantVolume != applied.volume) espeak_SetParameter(espeakVOLUME, EspeakVolume(wantVolume), 0);
    applied.rate = wantRate;
    applied.volume = wantVolume;
}

void Work(EngineConfig config) {
    std::string detail;
    const int32_t result = StartOnWorker(config, detail);
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        speaker.startResult = result;
        speaker.startDetail = detail;
        speaker.running = result == kEngineOk;
        if (!speaker.running) speaker.finished = true;
    }
    speaker.answered.notify_all();
    if (result != kEngineOk) return;

    Applied applied;
    std::unique_lock<std::mutex> guard(speaker.lock);
    for (;;) {
        speaker.wake.wait(guard, [] { return speaker.quitting || !speaker.jobs.empty(); });
        if (speaker.quitting) break;
        Job job = std::move(speaker.jobs.front());
        speaker.jobs.pop_front();
        speaker.activeJob = speaker.speakingJob = job.id;
        const int wantLanguage = speaker.language, wantVoice = speaker.voice;
        const int wantRate = speaker.rate, wantVolume = speaker.volume;
        guard.unlock();

        speaker.begun = false;
        Apply(applied, wantLanguage, wantVoice, wantRate, wantVolume, config.pitch);
        espeak_Synth(job.text.c_str(), job.text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);

        guard.lock();
        bool cut = Cut(job.id);
        guard.unlock();
        // The text stays the engine's while its last samples play: a stop or a
        // pause then still acts on it.
        speaker.output->EndText(cut, SpeakingState);
        guard.lock();
        // A pause in the text's last moments holds its end until a resume or a stop.
        while (speaker.paused && !Cut(job.id)) speaker.wake.wait_for(guard, std::chrono::milliseconds(kPauseCheckMs));
        cut = Cut(job.id);
        if (speaker.activeJob == job.id) speaker.activeJob = 0;
        // Cut: the stop sent its own notification.
        if (cut) continue;
        guard.unlock();
        // A text without a sample (an empty one) still begins before it ends.
        if (!speaker.begun) Send(kMsgBeginProcess);
        // The engine counts as idle here: the driver hands over its next text
        // from inside this notification.
        Send(kMsgEndProcess);
        guard.lock();
    }
    speaker.activeJob = 0;
    guard.unlock();
    speaker.output->Close();
    delete speaker.output;
    speaker.output = nullptr;
    guard.lock();
    speaker.running = false;
    speaker.finished = true;
    guard.unlock();
    speaker.answered.notify_all();
}
}  // namespace

EndAtUnload::~EndAtUnload() { SpeakerEnd(); }

namespace {
void ForkedChild() { speaker.workerProcess = 0; }

struct WatchForks {
    WatchForks() {
        speaker.workerProcess = getpid();
        pthread_atfork(nullptr, nullptr, ForkedChild);
    }
} watchForks;
}  // namespace

const char* EngineErrorText(uint32_t code) {
    switch (code) {
    case kEngineOk: return "no error";
    case kErrNotStarted: return "the engine has not been started";
    case kErrNoData: return "eSpeak NG's data folder is missing, empty or damaged";
    case kErrEspeakInit: return "eSpeak NG could not start on its data";
    case kErrOutput: return "the audio output cannot be opened";
    case kErrBusy: return "the engine is still speaking";
    case kErrUnknownLanguage: return "unknown language";
    case kErrUnknownVoice: return "unknown voice";
    case kErrDictionary: return "the dictionary holds no replacement";
    case kErrConfig: return "espeakengine.ini or an environment variable holds a bad value";
    case kErrWorker: return "the engine's thread did not answer";
    case kErrArgument: return "a missing or bad argument";
    case kErrInUse: return "another copy of the driver in this process uses eSpeak NG";
    default: return "unknown error";
    }
}

int32_t SpeakerStart(const EngineConfig& config, std::string& detail) {
    std::unique_lock<std::mutex> guard(speaker.lock);
    if (speaker.running) return kEngineOk;
    if (!speaker.finished) {
        detail = "the previous engine thread has not ended";
        return kErrWorker;
    }
    if (speaker.worker.joinable()) speaker.worker.join();
    speaker.quitting = false;
    speaker.finished = false;
    speaker.paused = false;
    speaker.jobs.clear();
    speaker.activeJob = speaker.cutJob = 0;
    speaker.language = speaker.voice = 0;
    speaker.rate = 50;
    speaker.volume = 100;
    speaker.startResult = kErrWorker;
    speaker.worker = std::thread(Work, config);
    speaker.workerId = speaker.worker.get_id();
    if (!speaker.answered.wait_for(guard, std::chrono::milliseconds(kWorkerLimitMs),
                                   [] { return speaker.running || speaker.finished; })) {
        detail = "the engine's thread did not start eSpeak NG in time";
        speaker.quitting = true;
        return kErrWorker;
    }
    detail = speaker.startDetail;
    if (speaker.startResult != kEngineOk) {
        guard.unlock();
        speaker.worker.join();
    }
    return speaker.startResult;
}

void SpeakerEnd() {
    if (speaker.workerProcess == 0) {
        // A child made by fork: the worker, and whoever held the lock at the
        // fork, are the parent's. Nothing here is ended or written.
        return;
    }
    std::unique_lock<std::mutex> guard(speaker.lock);
    if (!speaker.worker.joinable()) return;
    speaker.quitting = true;
    speaker.paused = false;
    speaker.jobs.clear();
    speaker.wake.notify_all();
    if (std::this_thread::get_id() == speaker.workerId) {
        // Ended from inside a notification: the worker ends by itself after it.
        speaker.worker.detach();
        return;
    }
    if (speaker.answered.wait_for(guard, std::chrono::milliseconds(kWorkerLimitMs),
                                  [] { return speaker.finished; })) {
        guard.unlock();
        speaker.worker.join();
    } else {
        speaker.worker.detach();  // a stuck output: the process goes on without it
    }
}

void SpeakerSetNotify(EngineNotifyFn target) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.notify = target;
}

void SpeakerSetText(std::string text) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.pendingText = std::move(text);
}

int32_t SpeakerSpeak() {
    SpeakerTextProbe probe;
    std::string given;
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        if (!speaker.running || speaker.quitting) return kErrNotStarted;
        if (Holding() || !speaker.jobs.empty()) return kErrBusy;
        speaker.jobs.push_back(Job{++speaker.lastJob, speaker.pendingText});
        probe = speaker.textProbe;
        if (probe) given = speaker.pendingText;
    }
    speaker.wake.notify_all();
    if (probe) probe(given.c_str());
    return kEngineOk;
}

void SpeakerStop() {
    {
        std::unique_lock<std::mutex> guard(speaker.lock);
        const bool queued = !speaker.jobs.empty();
        speaker.jobs.clear();
        if (speaker.activeJob == 0) {
            if (!queued) return;
        } else {
            speaker.cutJob = speaker.activeJob;
        }
        speaker.paused = false;
        speaker.wake.notify_all();
        // A block already on its way reaches the output before the stop
        // returns (the worker itself, stopping from the host's callback, has none).
        if (std::this_thread::get_id() != speaker.workerId && speaker.cutJob != 0)
            speaker.delivered.wait_for(guard, std::chrono::milliseconds(kStopDeliveryWaitMs),
                                       [] { return speaker.deliveringJob != speaker.cutJob; });
    }
    Send(kMsgStop);
}

void SpeakerPause() {
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        if (speaker.activeJob == 0 || speaker.cutJob == speaker.activeJob || speaker.paused) return;
        speaker.paused = true;
    }
    Send(kMsgPause);
}

void SpeakerResume() {
    {
        std::lock_guard<std::mutex> guard(speaker.lock);
        if (!speaker.paused) return;
        speaker.paused = false;
    }
    speaker.wake.notify_all();
    Send(kMsgResume);
}

bool SpeakerBusy() {
    std::lock_guard<std::mutex> guard(speaker.lock);
    return Holding() || !speaker.jobs.empty();
}

void SpeakerSetLanguage(int value) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.language = value;
    speaker.voice = 0;
}
int SpeakerLanguage() {
    std::lock_guard<std::mutex> guard(speaker.lock);
    return speaker.language;
}
void SpeakerSetVoice(int value) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.voice = value;
}
void SpeakerSetRate(int value) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.rate = value;
}
void SpeakerSetVolume(int value) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.volume = value;
}

void SpeakerSetProbes(SpeakerSampleProbe samples, SpeakerTextProbe texts) {
    std::lock_guard<std::mutex> guard(speaker.lock);
    speaker.sampleProbe = samples;
    speaker.textProbe = texts;
}
