#include "sdmodule/speaker.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <climits>

#include "sdmodule/limits.h"

namespace {
// Pieces handed to the driver beyond the one speaking: the driver starts the
// next at once at an end, while a stop or pause drops what is queued.
constexpr size_t kQueuedAhead = 2;
// Marks start again at 1 from here (Key and Char texts have mark 0).
constexpr int kMarkWrap = INT_MAX / 2;

Speaker* speaker = nullptr;  // the one whose thread the callback feeds; set in Start
}  // namespace

void Speaker::Start() {
    speaker = this;
    api_.SetSynthCallback(&Speaker::OnDriverEvent);
    // speech-dispatcher signals the module's main thread only.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    thread_ = std::thread(&Speaker::Run, this);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

int KAL_CDECL Speaker::OnDriverEvent(const KalSynthEvent* event) {
    // On the driver's thread: only hand the notice over.
    if (!event || !speaker) return 0;
    Item item{event->message == KAL_MSG_BEGIN ? Item::Begin : Item::End};
    if (event->message != KAL_MSG_BEGIN && event->message != KAL_MSG_END) return 0;
    item.mark = event->mark;
    speaker->Post(std::move(item));
    return 0;
}

void Speaker::Post(Item item) {
    {
        std::lock_guard<std::mutex> guard(inboxLock_);
        inbox_.push_back(std::move(item));
    }
    inboxSignal_.notify_one();
}

void Speaker::Speak(ModuleMessage message) {
    Item item{Item::Speak};
    item.generation = generation_.load();
    item.message = std::move(message);
    Post(std::move(item));
}

void Speaker::Stop(bool pause) {
    const uint32_t generation = ++generation_;
    api_.Stop();
    Item item{Item::Stopped};
    item.pause = pause;
    item.generation = generation;
    Post(std::move(item));
}

void Speaker::Finish() {
    if (!thread_.joinable()) return;
    Post(Item{Item::Quit});
    thread_.join();
}

void Speaker::Run() {
    for (;;) {
        Item item{Item::Quit};
        {
            std::unique_lock<std::mutex> guard(inboxLock_);
            if (inbox_.empty()) inboxSignal_.wait_for(guard, std::chrono::milliseconds(kInboxWaitMs));
            if (inbox_.empty()) {
                guard.unlock();
                CheckStalled();
                continue;
            }
            item = std::move(inbox_.front());
            inbox_.pop_front();
        }
        quietChecks_ = 0;
        switch (item.kind) {
        case Item::Speak: StartMessage(item); break;
        case Item::Begin: OnBegin(item.mark); break;
        case Item::End: OnEnd(item.mark); break;
        case Item::Stopped: OnStopped(item.pause); break;
        case Item::Quit:
            if (active_) api_.Stop();
            return;
        }
    }
}

void Speaker::CheckStalled() {
    // A message whose texts the driver no longer speaks, without the end
    // notice (an engine that failed a text): ended, or the server would wait
    // for ever.
    if (!active_ || handed_ == 0 || api_.IsPlaying()) {
        quietChecks_ = 0;
        return;
    }
    if (++quietChecks_ < static_cast<int>(kStalledChecks)) return;
    FinishMessage();
}

void Speaker::StartMessage(Item& item) {
    message_ = std::move(item.message);
    messageGeneration_ = item.generation;
    active_ = true;
    begunSent_ = false;
    lastBegun_ = -1;
    handed_ = 0;
    if (message_.kind == ModuleMessage::Text) {
        count_ = message_.text.segments.size();
        if (nextMark_ > kMarkWrap) nextMark_ = 1;
        firstMark_ = nextMark_;
        nextMark_ += static_cast<int>(count_);
    } else {
        count_ = message_.kind == ModuleMessage::Silent ? 0 : 1;
        firstMark_ = 0;  // the driver speaks keys and characters with mark 0
    }
    marksThrough_ = -1;
    // Stopped before it came to us: the stop's own item gives the events.
    if (generation_.load() != messageGeneration_) return;
    // The engine starts the first text's audio as it is handed over, while
    // this thread stays in the driver's wait after a hand-over (50 ms) and
    // could pass the driver's begin on only then: the begin and the marks
    // before the first text go now.
    output_.Event("701 BEGIN\n");
    begunSent_ = true;
    if (count_ == 0) {  // nothing to speak: marks only, a sound icon
        FinishMessage();
        return;
    }
    EmitMarksThrough(0);
    HandMore();
}

bool Speaker::Owns(int mark) const {
    return active_ && mark >= firstMark_ && static_cast<size_t>(mark - firstMark_) < count_;
}

void Speaker::HandMore() {
    const size_t limit = static_cast<size_t>(lastBegun_ + 1) + 1 + kQueuedAhead;
    while (active_ && handed_ < count_ && handed_ < limit) Hand(handed_++);
}

void Speaker::Hand(size_t index) {
    if (generation_.load() != messageGeneration_) return;
    switch (message_.kind) {
    case ModuleMessage::Text:
        api_.Synth(message_.text.segments[index].text.c_str(), firstMark_ + static_cast<int>(index));
        break;
    case ModuleMessage::Char: api_.Char(static_cast<int>(message_.code)); break;
    case ModuleMessage::Key: api_.Key(message_.key.c_str()); break;
    case ModuleMessage::Silent: break;
    }
    // A stop while the text was handed over may have come before it reached
    // the driver's queue: stop again, so nothing of a stopped message is heard.
    if (generation_.load() != messageGeneration_) api_.Stop();
}

void Speaker::OnBegin(int mark) {
    if (!Owns(mark) || generation_.load() != messageGeneration_) return;
    const long index = mark - firstMark_;
    if (index <= lastBegun_) return;
    EmitMarksThrough(index);
    lastBegun_ = index;
    HandMore();
}

void Speaker::OnEnd(int mark) {
    if (!Owns(mark) || generation_.load() != messageGeneration_) return;
    // The text that ended is the one that began last. A piece whose begin
    // never came (the engine skipped it) is closed when the driver is idle.
    const bool lastEnded = lastBegun_ == static_cast<long>(count_) - 1;
    if (handed_ == count_ && (lastEnded || !api_.IsPlaying())) {
        FinishMessage();
        return;
    }
    HandMore();
}

void Speaker::FinishMessage() {
    if (message_.kind == ModuleMessage::Text) EmitMarksThrough(static_cast<long>(count_) - 1);
    EmitMarks(message_.text.marksAfter);
    output_.Event("702 END\n");
    active_ = false;
}

void Speaker::EmitMarksThrough(long index) {
    if (message_.kind != ModuleMessage::Text) return;
    for (long k = marksThrough_ + 1; k <= index; ++k) EmitMarks(message_.text.segments[static_cast<size_t>(k)].marksBefore);
    if (index > marksThrough_) marksThrough_ = index;
}

void Speaker::OnStopped(bool pause) {
    if (!active_) return;  // it ended by itself before the stop
    if (!begunSent_) output_.Event("701 BEGIN\n");
    output_.Event(pause ? "704 PAUSE\n" : "703 STOP\n");
    active_ = false;
}

void Speaker::EmitMarks(const std::vector<std::string>& marks) {
    for (const std::string& name : marks) output_.Event("700-" + name + "\n700 INDEX MARK\n");
}

