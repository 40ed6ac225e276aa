// How the channel's wake-ups were chosen: a round trip between two processes
// (one wakes the other, which wakes the first back) with the futex events of
// bridge/posix_primitives.h against Boost.Interprocess's process-shared mutex
// and condition, both blocking every time (what an event after a pause
// costs), in shared memory from the same mapping. Prints the medians.
//   usage: kal_ipc_roundtrip [ROUND_TRIPS]
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/interprocess/sync/interprocess_condition.hpp>
#include <boost/interprocess/sync/interprocess_mutex.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "bridge/posix_primitives.h"

namespace {
using namespace bridge::posix;
namespace ipc = boost::interprocess;
using Clock = std::chrono::steady_clock;
constexpr int kDefaultTrips = 20000;
constexpr uint32_t kWaitMs = 5000;

struct Futexes {
    std::atomic<uint32_t> ping{0}, pong{0};
};
struct Boosted {
    ipc::interprocess_mutex lock;
    ipc::interprocess_condition changed;
    int turn = 0;  // 1: the child's, 2: the parent's
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double FutexTrips(void* memory, int trips) {
    Futexes* f = new (memory) Futexes();
    std::atomic<bool> never{false};
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < trips; ++i) {
            EventWait(f->ping, DeadlineIn(kWaitMs), never);
            EventSet(f->pong);
        }
        _exit(0);
    }
    std::vector<double> us;
    for (int i = 0; i < trips; ++i) {
        const Clock::time_point start = Clock::now();
        EventSet(f->ping);
        EventWait(f->pong, DeadlineIn(kWaitMs), never);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    waitpid(child, nullptr, 0);
    return Median(us);
}

double BoostTrips(void* memory, int trips) {
    Boosted* b = new (memory) Boosted();
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < trips; ++i) {
            ipc::scoped_lock<ipc::interprocess_mutex> guard(b->lock);
            while (b->turn != 1) b->changed.wait(guard);
            b->turn = 2;
            b->changed.notify_all();
        }
        _exit(0);
    }
    std::vector<double> us;
    for (int i = 0; i < trips; ++i) {
        const Clock::time_point start = Clock::now();
        ipc::scoped_lock<ipc::interprocess_mutex> guard(b->lock);
        b->turn = 1;
        b->changed.notify_all();
        while (b->turn != 2) b->changed.wait(guard);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    waitpid(child, nullptr, 0);
    return Median(us);
}
}  // namespace

int main(int argc, char** argv) {
    const int trips = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : kDefaultTrips;
    void* memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 1;
    // Alternating, so that a change of the machine's load touches both.
    std::vector<double> futex, boost;
    for (int round = 0; round < 3; ++round) {
        futex.push_back(FutexTrips(memory, trips));
        boost.push_back(BoostTrips(memory, trips));
    }
    printf("ipc: round trip between two processes, both blocking, median of %d: futex events %.1f us, "
           "Boost.Interprocess mutex+condition %.1f us (medians of 3 rounds)\n",
           trips, Median(futex), Median(boost));
    return 0;
}
