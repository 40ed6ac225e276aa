// The POSIX primitives of the isolated mode's channel: shared memory, futex
// wake-ups with monotonic deadlines, the helper's start and the death news.
#include "bridge/posix_primitives.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

using namespace bridge::posix;

namespace {
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string TempFile(const char* name) {
    return std::string(testing::TempDir()) + name + "-" + std::to_string(getpid());
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `script` under /bin/sh as the helper would be started, and waits for it.
std::string RunAsHelper(const std::string& script, int channelFd) {
    const std::string out = TempFile("helper-out");
    unlink(out.c_str());
    Spawned helper;
    std::string error;
    EXPECT_TRUE(SpawnHelper("/bin/sh", {"-c", script + " >" + out}, channelFd, helper, error)) << error;
    int status = -1;
    EXPECT_TRUE(CollectHelper(helper.pid, 5000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script;
    close(helper.process);
    close(helper.peer);
    const std::string text = Slurp(out);
    unlink(out.c_str());
    return text;
}
}  // namespace

TEST(PosixSharedMemory, BothSidesSeeOneRegionWhoseSizeIsSealed) {
    SharedMemory created, mapped;
    std::string error;
    ASSERT_TRUE(CreateSharedMemory(1 << 16, created, error)) << error;
    EXPECT_NE(fcntl(created.fd, F_GETFD) & FD_CLOEXEC, 0);
    static_cast<char*>(created.base)[4000] = 'k';
    ASSERT_TRUE(MapSharedMemory(dup(created.fd), 1 << 16, mapped, error)) << error;
    EXPECT_EQ(static_cast<char*>(mapped.base)[4000], 'k');
    static_cast<char*>(mapped.base)[9] = 'x';
    EXPECT_EQ(static_cast<char*>(created.base)[9], 'x');
    EXPECT_NE(ftruncate(created.fd, 100), 0) << "a peer could shrink the region under the other";
    SharedMemory bigger;
    EXPECT_FALSE(MapSharedMemory(created.fd, (1 << 16) + 1, bigger, error)) << "more than the region holds";
    ReleaseSharedMemory(mapped);
    ReleaseSharedMemory(created);
}

TEST(PosixSharedMemory, AnUnsealedOrForeignDescriptorIsRefused) {
    SharedMemory mapped;
    std::string error;
    const int unsealed = memfd_create("unsealed", MFD_CLOEXEC);
    ASSERT_EQ(ftruncate(unsealed, 4096), 0);
    EXPECT_FALSE(MapSharedMemory(unsealed, 4096, mapped, error));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_FALSE(MapSharedMemory(pipeFds[0], 4096, mapped, error));
    for (int fd : {unsealed, pipeFds[0], pipeFds[1]}) close(fd);
}

TEST(PosixWakeups, AWaitEndsAtItsDeadlineAndASetWakesIt) {
    std::atomic<uint32_t> word{0};
    std::atomic<bool> gone{false};
    auto start = Clock::now();
    EXPECT_FALSE(EventWait(word, DeadlineIn(60), gone));
    const long waited = MsSince(start);
    EXPECT_GE(waited, 59);
    EXPECT_LT(waited, 1000);

    // Set before the wait: kept for the next waiter, then clear again.
    EventSet(word);
    EXPECT_TRUE(EventWait(word, DeadlineIn(0), gone));
    EXPECT_EQ(word.load(), 0u);

    start = Clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EventSet(word);
    });
    EXPECT_TRUE(EventWait(word, DeadlineIn(5000), gone));
    EXPECT_LT(MsSince(start), 2000);
    setter.join();
}

TEST(PosixWakeups, TheOtherSideGoneEndsAWaitEarly) {
    std::atomic<uint32_t> word{0};
    std::atomic<bool> gone{false};
    const auto start = Clock::now();
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        gone.store(true);
        FutexWakeAll(word);
    });
    EXPECT_FALSE(EventWait(word, DeadlineIn(10000), gone));
    EXPECT_LT(MsSince(start), 5000);
    watcher.join();
}

TEST(PosixSpawn, TheHelperGetsTheChannelAndItsEndOnlyWithDefaultSignals) {
    SharedMemory channel;
    std::string error;
    ASSERT_TRUE(CreateSharedMemory(4096, channel, error)) << error;
    // What a careless host leaves open and what it does to its signals.
    const int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, &before);
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &previous);

    // The helper writes into the region it got: it is the channel.
    RunAsHelper("printf kal 1<>/proc/$$/fd/3; true", channel.fd);
    // A helper that stays, looked at from here: what it holds and how it takes signals.
    Spawned helper;
    ASSERT_TRUE(SpawnHelper("/bin/sh", {"-c", "exec sleep 30"}, channel.fd, helper, error)) << error;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    sigaction(SIGTERM, &before, nullptr);
    close(leaked);
    // Looked at once sleep sleeps: right after exec the loader still holds
    // the libraries it opens.
    const std::string proc = "/proc/" + std::to_string(helper.pid) + "/";
    for (int i = 0; i < 5000 && Slurp(proc + "wchan").find("nanosleep") == std::string::npos; ++i) usleep(1000);
    std::string fds;
    std::vector<int> numbers;
    for (const auto& entry : std::filesystem::directory_iterator(proc + "fd")) numbers.push_back(std::stoi(entry.path().filename()));
    std::sort(numbers.begin(), numbers.end());
    for (int n : numbers) fds += std::to_string(n) + " ";
    std::string blocked, ignored;
    std::istringstream status(Slurp(proc + "status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) blocked = line.substr(8);
        if (line.rfind("SigIgn:", 0) == 0) ignored = line.substr(8);
    }
    EndHelper(helper, 5000);

    EXPECT_EQ(fds, "0 1 2 3 4 ") << "descriptor " << leaked << " was open without close-on-exec";
    auto has = [](const std::string& mask, int signal) { return (std::stoull(mask, nullptr, 16) >> (signal - 1)) & 1; };
    EXPECT_FALSE(has(blocked, SIGUSR1)) << blocked;
    EXPECT_FALSE(has(ignored, SIGTERM)) << ignored;
    EXPECT_EQ(memcmp(channel.base, "kal", 3), 0);
    ReleaseSharedMemory(channel);
}

TEST(PosixSpawn, EachSideHearsTheOtherEnd) {
    SharedMemory channel;
    std::string error;
    ASSERT_TRUE(CreateSharedMemory(4096, channel, error)) << error;

    // The helper dies (killed, as by a crash): the host's end reads EOF at once.
    Spawned helper;
    ASSERT_TRUE(SpawnHelper("/bin/sh", {"-c", "exec sleep 30"}, channel.fd, helper, error)) << error;
    EXPECT_FALSE(PeerGone(helper.peer));
    const int stop = eventfd(0, EFD_CLOEXEC);
    auto start = Clock::now();
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(helper.pid, SIGKILL);
    });
    EXPECT_TRUE(WaitPeerGone(helper.peer, stop, 5000));
    EXPECT_LT(MsSince(start), 2000);
    killer.join();
    EndHelper(helper, 5000);

    // The host goes (its end closes): the helper reads EOF on its descriptor.
    const std::string marker = TempFile("host-gone");
    unlink(marker.c_str());
    ASSERT_TRUE(SpawnHelper("/bin/sh", {"-c", "cat <&4 >/dev/null; echo gone >" + marker}, channel.fd, helper, error));
    close(helper.peer);
    int status = -1;
    EXPECT_TRUE(CollectHelper(helper.pid, 5000, &status)) << "the helper outlived its host's end";
    EXPECT_EQ(Slurp(marker), "gone\n");
    unlink(marker.c_str());
    close(helper.process);

    // A stop request ends the watch without news of death.
    ASSERT_TRUE(SpawnHelper("/bin/sh", {"-c", "exec sleep 30"}, channel.fd, helper, error)) << error;
    const uint64_t one = 1;
    ASSERT_EQ(write(stop, &one, sizeof one), 8);
    EXPECT_FALSE(WaitPeerGone(helper.peer, stop, 5000));
    EndHelper(helper, 5000);
    EXPECT_EQ(helper.pid, -1);
    close(stop);
    ReleaseSharedMemory(channel);
}
