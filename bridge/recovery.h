// What the client keeps so that a new helper can take over from one that
// died: the texts sent and not yet ended, in order, and the settings the host
// made. A helper that dies (crash, abort, killed, ended by its watchdog or for
// not answering) costs the text it was speaking, which gets its end event from
// here and is not tried again; the texts behind it go to the new helper in
// order, after the host's settings. Portable. The records are this file's
// own (recovery.cpp, under recoveryLock); bridge/operations.cpp calls these,
// from host threads and the event thread.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bridge/channel.h"
#include "bridge/message.h"
#include "config/limits.h"

namespace bridge {

class Connection;

// Bounds of the restart. A helper that ends within kQuickDeathMs of its start
// has died "at once": the next start waits kBackoffFirstMs, doubled for each
// further quick death up to kBackoffMaxMs. After kRestartAttempts starts that
// fail, speech stays off until kal_Initialize.
// The driver's ring holds this many texts waiting; a further one overwrites the oldest.
constexpr uint32_t kJournalWaitingTexts = 16;

// A request with its own copy of its texts.
struct StoredRequest {
    StoredRequest() = default;
    explicit StoredRequest(const Request& request);
    // The request, pointing into this record.
    Request View() const;
    Op op = Op::None;
    int32_t args[kArgCount] = {};
    bool present[kTextCount] = {};
    std::string texts[kTextCount];
};

// --- The journal of texts (kal_Synth, kal_Synth_Mark, kal_Key, kal_Char) -------
// Adds a text before it is sent to the helper of `generation` (0: none runs);
// returns its number.
uint64_t JournalAdd(const Request& request, uint32_t generation);
// The text went to the helper of `generation` after all (0: it did not reach it).
void JournalSent(uint64_t number, uint32_t generation);
// kal_Stop: every text is over; the ends still to come belong to the stopped one.
void JournalClear();
// A call answered by an idle driver (kal_Synchronize, kal_IsPlaying giving 0):
// every text numbered up to `number` is over.
void JournalDoneUpTo(uint64_t number);
// The number the next text will get (for JournalDoneUpTo).
uint64_t JournalNextNumber();
// An event the host is about to get: a begin marks the oldest text not begun
// as begun, an end ends the oldest text (after the ends a stop still owes).
void JournalEvent(const EventEntry& event);
// The text the helper of `generation` was speaking when it died, taken out:
// false when it had none. Its mark goes to `mark`. It is the oldest text sent:
// when the engine fails as one text ends and the next is handed to it, that
// is the one that ended (its end never came out); the next, the one that
// failed, is then tried once more and is the oldest at the next death.
bool JournalTakeFaulting(uint32_t generation, int32_t& mark);
// The texts to send to the new helper of `generation`, in order: all it has not got.
std::vector<std::pair<uint64_t, StoredRequest>> JournalWaiting(uint32_t generation);
uint32_t JournalSize();

// --- The host's settings ---------------------------------------------------------
// Each is noted after the driver answered it.
void SettingsVoice(const Request& request);  // SetVoiceByName or SetVoiceByProperties, which answered 0
void SettingsParameter(int32_t parameter, int32_t value);  // kal_SetParameter (its `relative` changes nothing)
void SettingsPunctuation(const Request& request);
void SettingsTerminated(bool terminated);
// The calls that make a new helper's driver as the host left the old one.
std::vector<StoredRequest> SettingsReplay();
// Forgets everything (the client unloads).
void RecoveryReset();
// The records' life: built (or kept from a pinned life) at the client's load,
// destroyed at an unload that unmaps the module.
void RecoveryBegin();
void RecoveryEnd();

}  // namespace bridge
