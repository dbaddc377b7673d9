#include "platform/tick_cpu.h"

#include <atomic>

#include <pthread.h>
#include <sched.h>

namespace tick_cpu {
namespace {
std::atomic<int> g_cpu{-1};
}

void choose() {
    const int cpu = sched_getcpu();
    if (cpu >= 0 && cpu < CPU_SETSIZE) g_cpu.store(cpu);
}

bool join() {
    const int cpu = g_cpu.load();
    if (cpu < 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

int chosen() { return g_cpu.load(); }

void forget() { g_cpu.store(-1); }

}  // namespace tick_cpu
