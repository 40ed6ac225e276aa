// The link over POSIX (Linux): the Channel in an anonymous memfd, followed by
// the wake-ups as futex words; the helper (kal_helper) started with
// posix_spawn with nothing but the channel and its end of a socket pair; each
// side's watcher thread hears the other side's end as EOF on the pair and
// wakes every waiter. The same Channel, slots, lanes and messages as on
// Windows; only the wake-ups live after it, since handle values mean nothing here.
//
// Why a memfd, not shm_open: it has no name, so no other process can open it,
// nothing is left in /dev/shm when either side crashes, and it reaches the
// helper only as the descriptor handed at its start; its size is sealed, so a
// peer cannot shrink it under the other and make a read fault.
#include "bridge/link.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "bridge/posix_primitives.h"
#include "config/limits.h"

namespace bridge {
namespace {
using namespace posix;

const char kHelperProgram[] = "kal_helper";
// A helper whose client has gone gives its own threads kOrphanGraceMs to end it
// (the main thread's wait returns PeerGone) before it ends itself; an ended
// helper is collected within kCollectMs (it ends at once after a SIGKILL).

// The wake-ups after the Channel, on their own cache lines.
constexpr size_t kWakeAreaOffset = (sizeof(Channel) + 63) / 64 * 64;
struct WakeArea {
    std::atomic<uint32_t> words[kWakeCount];
};
constexpr size_t kMappingSize = kWakeAreaOffset + sizeof(WakeArea);

// The wake-ups only one side uses stay in that process: a peer cannot fake them.
bool IsOwn(uint32_t wake) { return wake == kWakeSlotFreed || wake == kWakeQuit; }

// What both sides share: the mapping, the other side's end, and the watcher
// that sets `gone` and wakes every waiter when that end closes.
struct Side {
    // Constant once the watcher runs.
    SharedMemory memory;
    int peer = -1;
    int stop = -1;  // an eventfd: the watcher ends without news of death
    std::thread watcher;
    std::atomic<uint32_t> own[kWakeCount] = {};  // the wake-ups IsOwn names
    // Set once by the watcher.
    std::atomic<bool> gone{false};

    std::atomic<uint32_t>& Word(uint32_t wake) {
        if (IsOwn(wake)) return own[wake];
        return reinterpret_cast<WakeArea*>(static_cast<char*>(memory.base) + kWakeAreaOffset)->words[wake];
    }
    void WakeEveryone() {
        for (uint32_t i = 0; i < kWakeCount; ++i) FutexWakeAll(Word(i));
    }
    void Watch(bool orphanEnds) {
        watcher = std::thread([this, orphanEnds] {
            if (!WaitPeerGone(peer, stop, UINT32_MAX)) return;
            gone.store(true);
            WakeEveryone();
            if (!orphanEnds) return;
            // The helper never outlives its client, whatever its other threads do.
            timespec grace{kOrphanGraceMs / 1000, (kOrphanGraceMs % 1000) * 1000000L};
            nanosleep(&grace, nullptr);
            HelperProcessExit(kExitQuit);
        });
    }
    void StopWatching() {
        if (!watcher.joinable()) return;
        const uint64_t one = 1;
        if (write(stop, &one, sizeof one) == sizeof one) watcher.join();
        else watcher.detach();
    }
    void Signal(uint32_t wake) {
        if (wake < kWakeCount && memory.base) EventSet(Word(wake));
    }
    Woke Wait(uint32_t wake, uint32_t timeoutMs) {
        if (wake >= kWakeCount || !memory.base) return Woke::PeerGone;
        std::atomic<uint32_t>& word = Word(wake);
        const Deadline deadline = DeadlineIn(timeoutMs == kUntilPeerGone ? UINT32_MAX : timeoutMs);
        // The quit stays set once given: every thread of the helper sees it.
        if (wake == kWakeQuit) {
            for (;;) {
                if (word.load()) return Woke::Signalled;
                if (gone.load()) return Woke::PeerGone;
                if (!FutexWait(word, 0, deadline)) return word.load() ? Woke::Signalled : Woke::Timeout;
            }
        }
        if (EventWait(word, deadline, gone)) return Woke::Signalled;
        return gone.load() ? Woke::PeerGone : Woke::Timeout;
    }
};

std::string FolderOf(const std::string& file) { return file.substr(0, file.find_last_of('/') + 1); }

std::string CurrentFolder() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size())) return buffer.data();
        if (errno != ERANGE) return "";
        buffer.resize(buffer.size() * 2);
    }
}

// The helper's arguments as the client gave them (argv without the program).
std::vector<std::string> OwnArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find('\0', at);
        arguments.push_back(all.substr(at, end - at));
        at = end == std::string::npos ? all.size() : end + 1;
    }
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}
}  // namespace

// --- The client --------------------------------------------------------------
struct ClientLink::Impl : Side {
    Spawned helper;
    // How the helper ended, once collected (WaitHelperEnd, HelperExitCode).
    std::atomic<bool> collected{false};
    std::atomic<uint32_t> exitCode{0};
    void Collected(int status) {
        // A signal reads as the shell writes it: 128 + the signal (134 an abort, 139 a fault).
        exitCode.store(WIFSIGNALED(status) ? 128u + static_cast<uint32_t>(WTERMSIG(status))
                                           : static_cast<uint32_t>(WEXITSTATUS(status)));
        collected.store(true);
    }
    // The event thread: started once, parked when its body has returned true.
    EventThreadBody body = nullptr;
    void* argument = nullptr;
    std::atomic<uint32_t> parked{0};
};

std::unique_ptr<ClientLink> ClientLink::Create(std::string& error) {
    std::unique_ptr<ClientLink> link(new ClientLink(new Impl()));
    Impl& l = *link->impl_;
    if (!CreateSharedMemory(kMappingSize, l.memory, error)) return nullptr;
    l.stop = eventfd(0, EFD_CLOEXEC);
    if (l.stop < 0) {
        error = "cannot create the watcher's stop";
        return nullptr;
    }
    return link;
}

ClientLink::~ClientLink() {
    Impl& l = *impl_;
    l.StopWatching();
    EndHelper(l.helper, kCollectMs);
    if (l.stop >= 0) close(l.stop);
    ReleaseSharedMemory(l.memory);
    delete impl_;
}

Channel* ClientLink::channel() const { return static_cast<Channel*>(impl_->memory.base); }
void* ClientLink::process() const { return reinterpret_cast<void*>(static_cast<intptr_t>(impl_->helper.pid)); }

// kal_helper from the client's folder, in the host's current folder (given as
// its one argument, of any length).
bool ClientLink::StartHelper(const PathText& folder, std::string& error) {
    Impl& l = *impl_;
    if (!SpawnHelper(folder + kHelperProgram, {CurrentFolder()}, l.memory.fd, l.helper, error)) return false;
    l.peer = l.helper.peer;
    l.Watch(false);
    return true;
}

void ClientLink::Signal(uint32_t wake) { impl_->Signal(wake); }

Woke ClientLink::Wait(uint32_t wake, uint32_t timeoutMs) {
    if (impl_->helper.pid <= 0 && !IsOwn(wake)) return Woke::PeerGone;
    return impl_->Wait(wake, timeoutMs);
}

void ClientLink::KillHelper() {
    if (impl_->helper.process >= 0) syscall(SYS_pidfd_send_signal, impl_->helper.process, SIGKILL, nullptr, 0);
}

bool ClientLink::WaitHelperEnd(uint32_t timeoutMs) {
    Impl& l = *impl_;
    if (l.helper.pid <= 0) return true;
    if (l.collected.load()) return true;
    // Its end of the pair closes as it ends; then it is collected, not left a zombie.
    if (!l.gone.load() && !WaitPeerGone(l.peer, -1, timeoutMs)) return false;
    int status = 0;
    if (!CollectHelper(l.helper.pid, timeoutMs, &status)) return false;
    l.Collected(status);
    return true;
}

uint32_t ClientLink::HelperExitCode() {
    if (!HelperEnded()) return 0;
    WaitHelperEnd(kCollectMs);
    return impl_->exitCode.load();
}

bool ClientLink::HelperEnded() { return impl_->helper.pid <= 0 || impl_->gone.load() || PeerGone(impl_->peer); }

bool ClientLink::StartEventThread(EventThreadBody body, void* argument) {
    Impl* l = impl_;
    l->body = body;
    l->argument = argument;
    try {
        std::thread([l] {
            std::atomic<uint32_t>* parked = &l->parked;  // read first: the body may dispose of the link
            if (l->body(l->argument)) {
                parked->store(1);
                FutexWakeAll(*parked);
            }
        }).detach();
    } catch (...) {
        return false;
    }
    return true;
}

bool ClientLink::WaitParked(uint32_t timeoutMs) {
    const Deadline deadline = DeadlineIn(timeoutMs);
    while (!impl_->parked.load())
        if (!FutexWait(impl_->parked, 0, deadline)) return impl_->parked.load() != 0;
    return true;
}

// --- The helper --------------------------------------------------------------
struct HelperLink::Impl : Side {};

// Started as: kal_helper HOSTFOLDER, with the channel as descriptor
// kHelperChannelFd and its end of the pair as kHelperPeerFd.
std::unique_ptr<HelperLink> HelperLink::Attach(int& exitCode) {
    const std::vector<std::string> arguments = OwnArguments();
    if (arguments.size() != 1) {
        exitCode = kExitBadCommandLine;
        return nullptr;
    }
    std::unique_ptr<HelperLink> link(new HelperLink(new Impl()));
    Impl& l = *link->impl_;
    std::string error;
    l.stop = eventfd(0, EFD_CLOEXEC);
    if (l.stop < 0 || !MapSharedMemory(kHelperChannelFd, kMappingSize, l.memory, error)) {
        exitCode = kExitBadSection;
        return nullptr;
    }
    const Channel* channel = static_cast<const Channel*>(l.memory.base);
    if (channel->magic != kChannelMagic || channel->version != kChannelVersion || channel->size != sizeof(Channel)) {
        exitCode = kExitBadSection;
        return nullptr;
    }
    l.peer = kHelperPeerFd;
    l.Watch(true);
    // Works in the host's folder, as the driver would in-process; stays in its
    // own when that one cannot be entered.
    if (chdir(arguments[0].c_str()) != 0) {
        // nothing: relative paths then resolve against the helper's start folder
    }
    return link;
}

HelperLink::~HelperLink() {
    impl_->StopWatching();
    delete impl_;
}

Channel* HelperLink::channel() const { return static_cast<Channel*>(impl_->memory.base); }
void HelperLink::Signal(uint32_t wake) { impl_->Signal(wake); }
Woke HelperLink::Wait(uint32_t wake, uint32_t timeoutMs) { return impl_->Wait(wake, timeoutMs); }
std::string HelperLink::OwnFolder() const { return ModuleFolder(nullptr); }

void HelperLink::SetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }

// --- The process -------------------------------------------------------------
uint64_t CurrentThreadId() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

int64_t SharedClockNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);  // one clock for every process of the machine
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void PinThisModule() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// `module`: an address inside the module, or null for the program.
PathText ModuleFolder(void* module) {
    if (!module) {
        std::vector<char> buffer(PATH_MAX);
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
        return FolderOf(std::string(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0));
    }
    Dl_info info;
    if (!dladdr(module, &info) || !info.dli_fname) return "";
    char* real = realpath(info.dli_fname, nullptr);
    const std::string file = real ? real : info.dli_fname;
    free(real);
    return FolderOf(file);
}

void HelperProcessSetup() {
    // Nothing is written to the pair; a host that closed it must not end us by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
}

void HelperProcessExit(int code) { _exit(code); }

}  // namespace bridge
