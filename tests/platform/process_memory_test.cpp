// The helper's watchdog ends the process when its memory passes a bound:
// natively that memory is what the process has touched, not what it reserved.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

#include "platform/platform.h"

TEST(ProcessMemoryTest, TouchedMemoryCountsAndReservedAddressSpaceDoesNot) {
    constexpr size_t kMb = size_t{1} << 20;
    const uint64_t before = PlatformProcessMemoryBytes();
    ASSERT_GT(before, 0u);
    // Reserved, as a malloc arena or a sanitizer's shadow is: 8 GB never touched.
    void* reserved = mmap(nullptr, 8192 * kMb, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, reserved);
    const uint64_t reservedToo = PlatformProcessMemoryBytes();
    // Touched, as a leak is: 64 MB of it.
    memset(reserved, 0x5A, 64 * kMb);
    const uint64_t touched = PlatformProcessMemoryBytes();
    munmap(reserved, 8192 * kMb);
    EXPECT_LT(reservedToo, before + 32 * kMb) << "reserved address space counted as the process's memory";
    EXPECT_GE(touched, reservedToo + 60 * kMb) << "touched memory not counted";
}
