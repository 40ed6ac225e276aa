// What the channel needs of a POSIX system (Linux), below the seam: the shared
// memory, wake-ups on its words, the helper's start and the news that the
// other side has gone. Used by bridge/link_posix.cpp and its tests only.
//
// - Shared memory: an anonymous memfd (close-on-exec), handed to the helper as
//   a descriptor at its start. No name exists, so no other process can open
//   it and a crash leaves nothing behind in /dev/shm to clean up.
// - Wake-ups: futexes on 32-bit words of the shared memory, waited for with an
//   absolute deadline on CLOCK_MONOTONIC.
// - Death: each side holds one end of a socket pair; when a process ends, for
//   whatever reason, the kernel closes its end and the other end reads EOF.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bridge {
namespace posix {

// Where the helper finds what it is handed: the channel and its end of the socket pair.
constexpr int kHelperChannelFd = 3;
constexpr int kHelperPeerFd = 4;

struct SharedMemory {
    int fd = -1;
    void* base = nullptr;
    size_t size = 0;
};
// A zero-filled region of `size` bytes, its size sealed (the peer cannot shrink
// it under us and make a read fault).
bool CreateSharedMemory(size_t size, SharedMemory& out, std::string& error);
// The helper's side: maps the region behind `fd` when it holds at least `size` bytes.
bool MapSharedMemory(int fd, size_t size, SharedMemory& out, std::string& error);
void ReleaseSharedMemory(SharedMemory& memory);

// A point on CLOCK_MONOTONIC, `ms` from now; waits take it so that a wall-clock
// step neither stretches nor cuts them, and a wait woken early goes on to the same end.
struct Deadline {
    int64_t ns;
};
Deadline DeadlineIn(uint32_t ms);
bool Passed(const Deadline& deadline);
uint32_t MsLeft(const Deadline& deadline);

// Blocks while *word == expected, until woken or the deadline passes; false
// when the deadline passed. Spurious returns happen: callers look again.
bool FutexWait(const std::atomic<uint32_t>& word, uint32_t expected, const Deadline& deadline);
void FutexWakeAll(const std::atomic<uint32_t>& word);

// An auto-reset event on one shared word (0 clear, 1 set): a set wakes one
// waiter, or the next one to come.
void EventSet(std::atomic<uint32_t>& word);
// True when the event was set (and is clear again); false when the deadline
// passed or `gone` became true (the waiter then looks at `gone` itself).
bool EventWait(std::atomic<uint32_t>& word, const Deadline& deadline, const std::atomic<bool>& gone);

// The helper program, started with posix_spawn (safe in a threaded host: no
// code of ours runs in the child before exec). It inherits standard output and
// error, /dev/null as input, the channel as kHelperChannelFd and its end of the
// socket pair as kHelperPeerFd, and no other descriptor; default signal
// dispositions and an empty signal mask, whatever the host set.
struct Spawned {
    pid_t pid = -1;
    int process = -1;  // a pidfd: a signal through it never reaches a process that took a reused id
    int peer = -1;     // our end of the socket pair, close-on-exec
};
bool SpawnHelper(const std::string& program, const std::vector<std::string>& arguments, int channelFd,
                 Spawned& out, std::string& error);
// True when the other end of the socket pair has gone (the other process ended).
bool PeerGone(int peer);
// Blocks until the other end has gone or `stop` (an eventfd) was written, at
// most `ms`; true when the peer has gone.
bool WaitPeerGone(int peer, int stop, uint32_t ms);
// Ends the helper (SIGKILL) and collects it, waiting at most `ms` (a host that
// collects its children itself may have done so already); closes the
// descriptors of `helper`.
void EndHelper(Spawned& helper, uint32_t ms);
// Collects the helper once it has ended, waiting at most `ms`; true when it has.
bool CollectHelper(pid_t pid, uint32_t ms, int* status);

}  // namespace posix
}  // namespace bridge
