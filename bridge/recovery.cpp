#include "bridge/recovery.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "bridge/module_record.h"
#include "kal_drv.h"

namespace bridge {

StoredRequest::StoredRequest(const Request& request) : op(request.op) {
    for (int i = 0; i < kArgCount; ++i) args[i] = request.args[i];
    for (int i = 0; i < kTextCount; ++i) {
        present[i] = request.texts[i].present;
        if (present[i]) texts[i].assign(static_cast<const char*>(request.texts[i].data), request.texts[i].size);
    }
}

Request StoredRequest::View() const {
    Request request;
    request.op = op;
    for (int i = 0; i < kArgCount; ++i) request.args[i] = args[i];
    for (int i = 0; i < kTextCount; ++i) {
        request.texts[i].present = present[i];
        request.texts[i].data = texts[i].data();
        request.texts[i].size = static_cast<uint32_t>(texts[i].size());
    }
    return request;
}

namespace {
constexpr int32_t kLargestSetting = 100;

// The mark the driver gives a text's events: kal_Key and kal_Char queue theirs with 0.
int32_t MarkOf(const StoredRequest& request) {
    return request.op == Op::Synth || request.op == Op::SynthMark ? request.args[0] : 0;
}

struct Entry {
    uint64_t number;
    uint32_t sentTo;  // the helper's generation; 0: not sent yet
    bool begun;
    StoredRequest request;
};

// Host threads and the event thread, under `recoveryLock`, a leaf: nothing is
// called while it is held.
struct RecoveryRecords {
    std::mutex recoveryLock;
    std::deque<Entry> journal;
    std::unique_ptr<StoredRequest> voice;
    std::map<int32_t, int32_t> parameters;
    std::unique_ptr<StoredRequest> punctuation;
};
ModuleRecord<RecoveryRecords> records;
uint64_t nextNumber = 1;
bool terminated = false;
uint32_t endsOfStoppedTexts = 0;  // ends still to come for texts a stop cleared

// The texts the driver holds that have not begun.
uint32_t WaitingCount() {
    uint32_t n = 0;
    for (const Entry& entry : records->journal) n += entry.begun ? 0 : 1;
    return n;
}
}  // namespace

uint64_t JournalAdd(const Request& request, uint32_t generation) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    // The driver's ring overwrites its oldest waiting text when a further one comes.
    if (WaitingCount() >= kJournalWaitingTexts) {
        for (auto it = records->journal.begin(); it != records->journal.end(); ++it) {
            if (!it->begun) {
                records->journal.erase(it);
                break;
            }
        }
    }
    const uint64_t number = nextNumber++;
    records->journal.push_back(Entry{number, generation, false, StoredRequest(request)});
    return number;
}

void JournalSent(uint64_t number, uint32_t generation) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    for (Entry& entry : records->journal)
        if (entry.number == number) entry.sentTo = generation;
}

void JournalClear() {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    // The text the driver was speaking still ends after the stop.
    endsOfStoppedTexts = !records->journal.empty() && records->journal.front().begun ? 1 : 0;
    records->journal.clear();
}

void JournalDoneUpTo(uint64_t number) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    std::deque<Entry>& journal = records->journal;
    while (!journal.empty() && journal.front().number <= number && journal.front().sentTo != 0) journal.pop_front();
    endsOfStoppedTexts = 0;
}

uint64_t JournalNextNumber() {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    return nextNumber;
}

void JournalEvent(const EventEntry& event) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    // The driver speaks its texts in order, and its events carry the mark of
    // the text it took last, not always the one that ended: the oldest text
    // sent is the one an end is about.
    for (auto it = records->journal.begin(); it != records->journal.end(); ++it) {
        if (it->sentTo == 0) continue;
        if (event.message == KAL_MSG_BEGIN) {
            if (it->begun) continue;
            it->begun = true;
        } else if (endsOfStoppedTexts > 0) {
            --endsOfStoppedTexts;
        } else {
            records->journal.erase(it);
        }
        return;
    }
    if (event.message == KAL_MSG_END && endsOfStoppedTexts > 0) --endsOfStoppedTexts;
}

bool JournalTakeFaulting(uint32_t generation, int32_t& mark) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    endsOfStoppedTexts = 0;
    for (auto it = records->journal.begin(); it != records->journal.end(); ++it) {
        if (it->sentTo != generation) continue;
        mark = MarkOf(it->request);
        records->journal.erase(it);
        return true;
    }
    return false;
}

std::vector<std::pair<uint64_t, StoredRequest>> JournalWaiting(uint32_t generation) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    std::vector<std::pair<uint64_t, StoredRequest>> waiting;
    for (Entry& entry : records->journal) {
        if (entry.sentTo == generation) continue;
        entry.begun = false;  // the new helper's driver has begun none of them
        waiting.emplace_back(entry.number, entry.request);
    }
    return waiting;
}

uint32_t JournalSize() {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    return static_cast<uint32_t>(records->journal.size());
}

void SettingsVoice(const Request& request) {
    std::unique_ptr<StoredRequest> stored(new StoredRequest(request));
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    records->voice.swap(stored);
    records->parameters.clear();  // the driver sets the profile's rate and volume with every voice
}

void SettingsParameter(int32_t parameter, int32_t value) {
    // The driver keeps rate and volume only, and ignores values above 100.
    if ((parameter != KAL_PARAM_RATE && parameter != KAL_PARAM_VOLUME) || value > kLargestSetting) return;
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    records->parameters[parameter] = value;
}

void SettingsPunctuation(const Request& request) {
    std::unique_ptr<StoredRequest> stored(new StoredRequest(request));
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    records->punctuation.swap(stored);
}

void SettingsTerminated(bool value) {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    terminated = value;
}

std::vector<StoredRequest> SettingsReplay() {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    std::vector<StoredRequest> calls;
    // The voice first: selecting one sets the engine's parameters afresh.
    if (records->voice) calls.push_back(*records->voice);
    for (const auto& parameter : records->parameters) {
        StoredRequest call;
        call.op = Op::SetParameter;
        call.args[0] = parameter.first;
        call.args[1] = parameter.second;
        calls.push_back(call);
    }
    if (records->punctuation) calls.push_back(*records->punctuation);
    if (terminated) {
        StoredRequest call;
        call.op = Op::Terminate;
        calls.push_back(call);
    }
    return calls;
}

void RecoveryReset() {
    std::lock_guard<std::mutex> guard(records->recoveryLock);
    records->journal.clear();
    endsOfStoppedTexts = 0;
    records->voice.reset();
    records->parameters.clear();
    records->punctuation.reset();
    terminated = false;
}

void RecoveryBegin() {
    records.Begin();
    RecoveryReset();
}

void RecoveryEnd() { records.End(); }

}  // namespace bridge
