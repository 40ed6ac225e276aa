// A lock knows the thread inside it in debug builds, so that the functions that
// need it held can assert so. Release builds do not track it (always true).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

#ifndef NDEBUG
TEST(LockOwner, HeldOnlyByTheThreadInsideAndNotWhileItWaits) {
    static PlatformLock lock;
    static PlatformCondition condition;
    EXPECT_FALSE(PlatformLockHeldHere(&lock));
    PlatformLockEnter(&lock);
    EXPECT_TRUE(PlatformLockHeldHere(&lock));
    bool elsewhere = true;
    std::thread([&] { elsewhere = PlatformLockHeldHere(&lock); }).join();
    EXPECT_FALSE(elsewhere) << "another thread took itself for the owner";

    // While this thread waits on a condition, another may enter and owns it then.
    std::atomic<bool> otherOwned{false};
    std::thread other([&] {
        PlatformLockEnter(&lock);
        otherOwned = PlatformLockHeldHere(&lock);
        PlatformConditionWakeAll(&condition);
        PlatformLockLeave(&lock);
    });
    while (!otherOwned.load()) PlatformConditionWait(&condition, &lock, 100);
    EXPECT_TRUE(PlatformLockHeldHere(&lock)) << "the owner is back after the wait";
    PlatformLockLeave(&lock);
    other.join();
    EXPECT_FALSE(PlatformLockHeldHere(&lock));

    ASSERT_TRUE(PlatformLockTryEnter(&lock));
    EXPECT_TRUE(PlatformLockHeldHere(&lock));
    PlatformLockLeave(&lock);
    EXPECT_FALSE(PlatformLockHeldHere(&lock));
}
#else
TEST(LockOwner, ReleaseBuildsDoNotTrackTheOwner) {
    static PlatformLock lock;
    EXPECT_TRUE(PlatformLockHeldHere(&lock));  // the debug builds (native sanitizer runs) check it
}
#endif
