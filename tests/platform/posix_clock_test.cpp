// Bounded waits of the native build measure on the monotonic clock: a step of
// the wall clock (a time sync, a user setting the date) must neither stretch
// nor cut them. The wall-clock wait of the threads library is counted here,
// on this thread, by standing in for it; ThreadSanitizer has its own stand-in,
// so the count is left out of that build.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <chrono>

#include "platform/platform.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KAL_TEST_TSAN 1
#endif
#endif

#ifndef KAL_TEST_TSAN
namespace {
thread_local int wallClockWaits = 0;
}  // namespace

extern "C" int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex, const struct timespec* until) {
    ++wallClockWaits;
    typedef int (*WaitFn)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
    static const WaitFn real = reinterpret_cast<WaitFn>(dlsym(RTLD_NEXT, "pthread_cond_timedwait"));
    return real(condition, mutex, until);
}
#endif

TEST(PosixClock, ABoundedWaitEndsAfterItsLimitOnTheMonotonicClock) {
    static PlatformLock lock;
    static PlatformCondition condition;
    constexpr uint32_t kLimitMs = 30;
    PlatformLockEnter(&lock);
    const auto begun = std::chrono::steady_clock::now();
    const bool woken = PlatformConditionWait(&condition, &lock, kLimitMs);
    const auto took = std::chrono::steady_clock::now() - begun;
    PlatformLockLeave(&lock);
    EXPECT_FALSE(woken);
    EXPECT_GE(took, std::chrono::milliseconds(kLimitMs));
#ifndef KAL_TEST_TSAN
    EXPECT_EQ(0, wallClockWaits) << "the wait measured on the wall clock";
#endif
}
