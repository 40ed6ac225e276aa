#include "bridge/posix_primitives.h"

#include "config/limits.h"
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace bridge {
namespace posix {
namespace {

// The descriptors of the spawn start above the helper's, so that no dup2 of
// the file actions maps a descriptor onto itself (which would keep its
// close-on-exec flag and lose it at exec).
constexpr int kSpawnSourceFloor = kHelperPeerFd + 1;

std::string Reason(const char* what, int error) { return std::string(what) + ": " + strerror(error); }

int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Through syscall(): the C library's declarations of these lack C linkage in C++ (glibc 2.36).
int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
void PidfdKill(int pidfd) { syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0); }

uint32_t* Address(const std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&word));
}
}  // namespace

bool CreateSharedMemory(size_t size, SharedMemory& out, std::string& error) {
    out = SharedMemory();
    const int fd = memfd_create("kal-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        error = Reason("memfd_create", errno);
        return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        error = Reason("sizing the channel", errno);
        close(fd);
        return false;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        error = Reason("mmap", errno);
        close(fd);
        return false;
    }
    out.fd = fd;
    out.base = base;
    out.size = size;
    return true;
}

bool MapSharedMemory(int fd, size_t size, SharedMemory& out, std::string& error) {
    out = SharedMemory();
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) < size) {
        error = "the channel descriptor is not a region of the channel's size";
        return false;
    }
    // Sealed by the creator: the region cannot shrink under us afterwards.
    const int seals = fcntl(fd, F_GET_SEALS);
    if (seals < 0 || !(seals & F_SEAL_SHRINK)) {
        error = "the channel's size is not sealed";
        return false;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        error = Reason("mmap", errno);
        return false;
    }
    out.fd = fd;
    out.base = base;
    out.size = size;
    return true;
}

void ReleaseSharedMemory(SharedMemory& memory) {
    if (memory.base) munmap(memory.base, memory.size);
    if (memory.fd >= 0) close(memory.fd);
    memory = SharedMemory();
}

Deadline DeadlineIn(uint32_t ms) { return Deadline{NowNs() + int64_t{ms} * 1000000}; }
bool Passed(const Deadline& deadline) { return NowNs() >= deadline.ns; }
uint32_t MsLeft(const Deadline& deadline) {
    const int64_t left = deadline.ns - NowNs();
    return left <= 0 ? 0 : static_cast<uint32_t>((left + 999999) / 1000000);
}

bool FutexWait(const std::atomic<uint32_t>& word, uint32_t expected, const Deadline& deadline) {
    if (Passed(deadline)) return false;
    timespec until;
    until.tv_sec = static_cast<time_t>(deadline.ns / 1000000000);
    until.tv_nsec = static_cast<long>(deadline.ns % 1000000000);
    // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC; not the
    // private variant: the word is shared with the other process.
    const long r = syscall(SYS_futex, Address(word), FUTEX_WAIT_BITSET, expected, &until, nullptr,
                           FUTEX_BITSET_MATCH_ANY);
    return !(r != 0 && errno == ETIMEDOUT);
}

void FutexWakeAll(const std::atomic<uint32_t>& word) {
    syscall(SYS_futex, Address(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void EventSet(std::atomic<uint32_t>& word) {
    if (word.exchange(1) == 0) FutexWakeAll(word);
}

bool EventWait(std::atomic<uint32_t>& word, const Deadline& deadline, const std::atomic<bool>& gone) {
    for (;;) {
        if (word.exchange(0) == 1) return true;
        if (gone.load()) return false;
        if (!FutexWait(word, 0, deadline)) return word.exchange(0) == 1;
    }
}

bool SpawnHelper(const std::string& program, const std::vector<std::string>& arguments, int channelFd,
                 Spawned& out, std::string& error) {
    out = Spawned();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = Reason("socketpair", errno);
        return false;
    }
    // Copies above the helper's numbers, closed again below whatever happens.
    const int channelSource = fcntl(channelFd, F_DUPFD_CLOEXEC, kSpawnSourceFloor);
    const int peerSource = fcntl(pair[1], F_DUPFD_CLOEXEC, kSpawnSourceFloor);
    close(pair[1]);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, channelSource, kHelperChannelFd);
    posix_spawn_file_actions_adddup2(&actions, peerSource, kHelperPeerFd);
    // Whatever the host left open without close-on-exec stays out of the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, kHelperPeerFd + 1);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = channelSource < 0 || peerSource < 0
                            ? EBADF
                            : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (channelSource >= 0) close(channelSource);
    if (peerSource >= 0) close(peerSource);
    if (spawned != 0) {
        error = Reason(("cannot start " + program).c_str(), spawned);
        close(pair[0]);
        return false;
    }
    out.pid = pid;
    out.process = PidfdOpen(pid);
    out.peer = pair[0];
    return true;
}

bool PeerGone(int peer) { return WaitPeerGone(peer, -1, 0); }

bool WaitPeerGone(int peer, int stop, uint32_t ms) {
    pollfd fds[2] = {{peer, POLLIN, 0}, {stop, POLLIN, 0}};
    const Deadline deadline = DeadlineIn(ms);
    for (;;) {
        const int n = poll(fds, stop >= 0 ? 2 : 1, static_cast<int>(MsLeft(deadline)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (fds[0].revents) {
            // Nobody writes to the pair: readable means EOF, the other end has closed.
            char byte;
            const ssize_t r = recv(peer, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return true;
            if (r > 0) return true;  // a peer that writes is broken: treated as gone
        }
        if (stop >= 0 && fds[1].revents) return false;
        if (Passed(deadline)) return false;
    }
}

bool CollectHelper(pid_t pid, uint32_t ms, int* status) {
    const Deadline deadline = DeadlineIn(ms);
    for (;;) {
        int s = 0;
        const pid_t r = waitpid(pid, &s, WNOHANG);
        if (r == pid) {
            if (status) *status = s;
            return true;
        }
        if (r < 0 && errno != EINTR) return true;  // collected by the host already (ECHILD)
        if (Passed(deadline)) return false;
        timespec pause{0, kCollectPollMs * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

void EndHelper(Spawned& helper, uint32_t ms) {
    if (helper.process >= 0) {
        PidfdKill(helper.process);
        CollectHelper(helper.pid, ms, nullptr);
        close(helper.process);
    }
    if (helper.peer >= 0) close(helper.peer);
    helper = Spawned();
}

}  // namespace posix
}  // namespace bridge
