// Speaks speech-dispatcher's messages through the driver and reports their
// events in order. Its thread hands the pieces of a message to the driver a
// few at a time and turns the driver's begin and end notifications into
// speech-dispatcher's events. The driver's end carries the mark of the text
// handed over most recently, not of the one that ended, so the speaker counts
// begins itself: an end closes the text that began last.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "kalsay/kal_api.h"
#include "sdmodule/output.h"
#include "sdmodule/ssml.h"

struct ModuleMessage {
    enum Kind { Text, Char, Key, Silent } kind = Silent;
    SpokenMessage text;  // Text, and Silent's marks
    long code = 0;       // Char: the character, spoken by the driver's profile name
    std::string key;     // Key: the key's text in the voices' code page
};

class Speaker {
public:
    Speaker(KalApi& api, Output& output) : api_(api), output_(output) {}
    ~Speaker() { Finish(); }
    // Registers the driver's callback and starts the thread.
    void Start();
    // Call only after "200 OK SPEAKING" is written: no event may come before it.
    void Speak(ModuleMessage message);
    // Stops speech now, from the protocol thread; the event (703, or 704 for a
    // pause) follows from the speaker's thread once the driver is stopped.
    void Stop(bool pause);
    // Ends the thread (after the message in hand is stopped).
    void Finish();

private:
    struct Item {
        enum Kind { Speak, Begin, End, Stopped, Quit } kind;
        explicit Item(Kind k) : kind(k) {}
        int mark = 0;
        bool pause = false;
        uint32_t generation = 0;
        ModuleMessage message;
    };
    static int KAL_CDECL OnDriverEvent(const KalSynthEvent* event);
    void Post(Item item);
    void Run();
    void StartMessage(Item& item);
    void OnBegin(int mark);
    void OnEnd(int mark);
    void OnStopped(bool pause);
    void CheckStalled();
    void FinishMessage();
    void HandMore();
    void Hand(size_t index);
    void EmitMarks(const std::vector<std::string>& marks);
    void EmitMarksThrough(long index);
    bool Owns(int mark) const;

    KalApi& api_;
    Output& output_;
    std::thread thread_;

    // The inbox: guarded by inboxLock_; filled by the protocol thread and the
    // driver's notification thread, emptied by the speaker's thread. The
    // callback takes only this lock, and nobody calls the driver holding it.
    std::mutex inboxLock_;
    std::condition_variable inboxSignal_;
    std::deque<Item> inbox_;

    // Raised by every stop (protocol thread); a hand-over that finds it
    // changed stops the driver again, since its text may have crossed the stop.
    std::atomic<uint32_t> generation_{0};

    // The message in hand: the speaker's thread only.
    bool active_ = false;
    ModuleMessage message_;
    uint32_t messageGeneration_ = 0;
    int firstMark_ = 0;     // the driver's mark of the first piece
    size_t count_ = 0;      // pieces handed to the driver in all
    size_t handed_ = 0;     // pieces handed so far
    long lastBegun_ = -1;   // the piece that began last
    long marksThrough_ = -1;  // the marks before pieces up to this one are sent
    bool begunSent_ = false;
    int quietChecks_ = 0;   // inbox checks in a row that found the driver idle
    int nextMark_ = 1;      // marks are never reused soon, so a stopped text's late notice is known
};
