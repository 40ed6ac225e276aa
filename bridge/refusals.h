// A message that fails its checks is refused, never followed, and noted here,
// as are the client's own failures the host cannot see (its callback threw, no
// slot came free): a line in kal64.pro beside this module (natively
// kal_link.pro) when [Default] DEBUG in kal.ini there is 1 or more. kal.pro
// gets only the lines about the helper from here (NoteProtocol): a refusal means a
// broken or hostile peer, worth a file of its own, rare enough to open the
// file each time.
#pragma once
#include <cstdint>

namespace bridge {
// who: "bridge" or "helper"; reason: the decoder's reason.
void NoteRefusal(const char* who, const char* what, const char* reason);
// A line about the helper (a start that failed, a helper that ended or
// stopped answering, its restart, an unload inside the host's callback) in
// the driver's protocol, kal.pro beside this module, as an error
// line ("ERR:: text") when [Default] DEBUG in kal.ini there is 1 or more.
void NoteProtocol(const char* text);
// Looks up this module's folder for the notes, at process attach: a lookup
// takes the loader lock, which the event thread must never wait for (a thread
// starting or ending in the process may hold it while it waits for ours).
void PrepareNotes();
}  // namespace bridge
