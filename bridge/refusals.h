// A message that fails its checks is refused, never followed, and noted here:
// counted, and written as a line to kal64.pro beside this module when
// [Default] DEBUG in kal.ini there is 1 or more. Neither process can write the
// driver's own kal.pro (its log lives inside kal_drv.dll), and a refusal
// means a broken or hostile peer: worth a line of its own, rare enough to
// open the file each time.
#pragma once
#include <cstdint>

namespace bridge {
// who: "bridge" or "helper"; reason: the decoder's reason.
void NoteRefusal(const char* who, const char* what, const char* reason);
}  // namespace bridge
