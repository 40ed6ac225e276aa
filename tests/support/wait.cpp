#include "support/wait.h"

#include <windows.h>

namespace {
// Short against the waits the tests allow, long enough not to starve the
// threads being waited for.
constexpr DWORD kPollMs = 20;
}  // namespace

bool WaitUntil(const std::function<bool()>& done, uint32_t limitMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limitMs) return done();
        Sleep(kPollMs);
    }
    return true;
}
