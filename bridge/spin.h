// The short spin both sides make before blocking on an event: waking a blocked
// thread under Wine is a pass through the server (about 60 us between a 64-bit
// and a 32-bit process), while a spin of a few tens of microseconds catches an
// answer to a quick call without it and costs nothing when idle.
#pragma once
#include <cstdint>

namespace bridge {
// Pause instructions before a waiter blocks (about 40 us on the development machine).
constexpr uint32_t kSpinIterations = 4000;

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() or the spin is used up; returns ready()'s last answer.
template <typename Ready>
bool SpinFor(Ready ready, uint32_t iterations = kSpinIterations) {
    for (uint32_t i = 0; i < iterations; ++i) {
        if (ready()) return true;
        CpuRelax();
    }
    return ready();
}
}  // namespace bridge
