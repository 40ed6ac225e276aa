// A thread-safe engine library for the stress and fault tests, built as a real
// library (threaded_engine.dll / threaded_engine.so) that the driver loads like
// the real engine. It ends texts on its own worker thread, on two threads
// (begin on one, end on the other) or synchronously inside Speak, and can be
// told to misbehave. Texts of the form "h<thread>n<sequence>" are checked as
// they arrive: given twice, or out of order for their host thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/contract.h"

enum ThreadedEngineMode : int32_t {
    kEndOnWorker = 0,   // begin and end from one engine thread
    kEndSynchronous = 1,  // begin and end from inside Speak
    kEndOnTwoThreads = 2,  // begin from one engine thread, end from another
};

// Slots of the engine table, for the fault script: the entry point that fails.
constexpr int32_t kNoFault = -1;

// What the engine does inside Speak for a text that holds the scripted word:
// the faults an engine in a helper process may have, which no driver in the
// host's process could survive.
enum TextFault : int32_t {
    kTextFaultNone = 0,
    kTextFaultAbort,  // abort(), as a failed stack check ends a process
    kTextFaultSegv,   // a write through a null pointer
    kTextFaultHang,   // Speak does not return (for kTextHangMs)
    kTextFaultLeak,   // Speak takes memory without end (kTextLeakStepMb at a time, up to kTextLeakMb)
};
constexpr uint32_t kTextHangMs = 600000;
constexpr uint32_t kTextLeakStepMb = 32;
constexpr uint32_t kTextLeakMb = 4096;
constexpr uint32_t kTextLeakStepMs = 5;
constexpr int kTextFaultWordSize = 64;

constexpr int kEngineHostThreads = 8;
constexpr int kEngineMaxSequence = 1 << 18;

struct ThreadedEngineControl {
    // The script: set by the test while nothing is speaking.
    std::atomic<int32_t> mode{kEndOnWorker};
    std::atomic<int32_t> failSlot{kNoFault};  // EngineApi slot that returns failResult
    std::atomic<int32_t> failResult{0};
    std::atomic<int32_t> stuckBusy{0};         // status reports busy for ever
    std::atomic<int32_t> dropEnd{0};           // the end never comes
    std::atomic<int32_t> dropBegin{0};         // nor the begin (with dropEnd: the thread died)
    std::atomic<int32_t> doubleEnd{0};         // every end is sent twice
    std::atomic<int32_t> beginInsideSpeak{0};  // begin is sent from inside Speak
    std::atomic<int32_t> endAfterStop{0};      // a stopped text still gets its end, late
    std::atomic<int32_t> languages{1};         // languages the engine lists (1 or 2)
    std::atomic<int32_t> throwSlot{kNoFault};  // EngineApi slot that throws (see ThrowForeign)
    std::atomic<int32_t> noStopMessage{0};     // Stop cuts the text but sends no stop message
    std::atomic<int32_t> closeLeavesThreads{0};  // Close returns without waiting for its threads
    std::atomic<uint32_t> initializeDelayMs{0};  // Initialize takes this long (a slow start-up)
    std::atomic<uint32_t> noticeDelayMs{0};  // pause and resume notices come this late, from the engine's thread
    std::atomic<uint32_t> textMs{0};         // a text's end comes no sooner than this after Speak
    std::atomic<int32_t> busyPolls{0};       // the next n status polls report busy
    std::atomic<uint32_t> paramDelayMs{0};   // each parameter call takes this long (a slow voice selection)
    std::atomic<int32_t> textFault{kTextFaultNone};  // what Speak does for a text holding textFaultWord
    char textFaultWord[kTextFaultWordSize] = {};     // set before textFault, while nothing speaks

    // The record, written by the engine.
    std::atomic<uint32_t> given{0};       // texts that reached Speak
    std::atomic<uint32_t> ended{0};       // ends sent for texts that were spoken
    std::atomic<uint32_t> stopped{0};     // texts cut by Stop
    std::atomic<uint32_t> duplicated{0};  // a host text given a second time
    std::atomic<uint32_t> outOfOrder{0};  // a host text given before an earlier one of its thread
    std::atomic<uint32_t> notifications{0};
    std::atomic<uint32_t> opens{0};
    std::atomic<int32_t> paramCallsNow{0};   // parameter calls running at this moment
    std::atomic<int32_t> paramCallsAtOnce{0};  // the most that ever ran at once
    std::atomic<uint32_t> closes{0};
};

// Exported by the library beside the thirty entry points.
typedef ThreadedEngineControl*(ENGINE_CALL* ThreadedEngineControlFn)();
// 1 when the host text of that thread and sequence reached Speak.
typedef int32_t(ENGINE_CALL* ThreadedEngineSeenFn)(int32_t thread, int32_t sequence);
// The last text given to Speak, cut to size - 1 characters.
typedef void(ENGINE_CALL* ThreadedEngineLastTextFn)(char* out, uint32_t size);
// Forgets every text seen, so a new run can start its sequences at 0.
typedef void(ENGINE_CALL* ThreadedEngineResetFn)();
typedef void(ENGINE_CALL* ThreadedEngineNotifyFn)(uint32_t code);

// Read by the engine's initialize from the folder it is given: faults that
// outlive reloads, one per line: "<slot> <result>" (the entry point of that
// EngineApi slot returns result), "throw <slot>" (it throws), "slow <ms>"
// (Initialize takes that long), "busy" (status busy for ever), "abort WORD",
// "segv WORD", "hang WORD", "leak WORD" (Speak of a text that holds WORD ends
// the process, hangs or takes memory without end; see TextFault), "journal" (every
// initialize, uninitialize, open and close is appended to THREADED_ENGINE_JOURNAL
// as a line "+init", "-init", "+open", "-open", across reloads of the library).
#define THREADED_ENGINE_FAULT_FILE "engine_fault.txt"
#define THREADED_ENGINE_JOURNAL "engine_journal.txt"

// Also read there: three int32 counts (engines, languages, voices), reported as
// they are, then the bytes of the entries in turn (0xFF ends an entry early; an
// entry may stay unterminated). Never more entries are written than the
// driver's capacity.
#define THREADED_ENGINE_LIST_FILE "engine_lists.bin"

// File name of the built library below the build tree, e.g. "tests/threaded_engine.dll".
#if defined(_WIN32)
#define THREADED_ENGINE_FILE "tests/threaded_engine.dll"
#else
#define THREADED_ENGINE_FILE "tests/threaded_engine.so"
#endif
