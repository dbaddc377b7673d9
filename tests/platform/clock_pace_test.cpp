// The pace of the worker threads' periodic waits, and the CPU they share.
#include "platform/clock.h"
#include "platform/tick_cpu.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <thread>
#include <vector>

namespace {

constexpr uint64_t kTick = Clock::kTickUs;
constexpr uint64_t kTol = Clock::kPaceToleranceUs;

// A thread that waits `length` again and again, woken `late` after each end
// and working `work` before the next wait; returns the ends.
std::vector<uint64_t> run(uint64_t start, uint64_t length, uint64_t late, uint64_t work, int waits) {
    std::vector<uint64_t> ends;
    uint64_t now = start, last = 0;
    for (int i = 0; i < waits; ++i) {
        last = Clock::pacedEnd(now, last, length);
        ends.push_back(last);
        now = last + late + work;
    }
    return ends;
}

TEST(ClockPace, PeriodicWaitsReachTheTickBoundariesAndKeepTheirPeriod) {
    // Started 5.3 ms off the boundaries, woken up to the slack late, a
    // little work each time: the ends reach the boundaries by at most the
    // tolerance per wait, then stay there with the exact period.
    for (uint64_t length : {10000u, 20000u, 50000u}) {
        const auto ends = run(1005300, length, kTol, 80, 12);
        uint64_t prev = 1005300;
        size_t firstOn = ends.size();
        for (size_t i = 0; i < ends.size(); ++i) {
            const uint64_t gap = ends[i] - prev;
            EXPECT_LE(gap, length + kTol) << "wait " << i << " of " << length;
            EXPECT_GE(gap + kTol, length) << "wait " << i << " of " << length;
            if (ends[i] % kTick == 0 && firstOn == ends.size()) firstOn = i;
            prev = ends[i];
        }
        ASSERT_LE(firstOn, 6u) << length;
        for (size_t i = firstOn + 1; i < ends.size(); ++i) {
            EXPECT_EQ(ends[i] % kTick, 0u) << "wait " << i << " of " << length;
            EXPECT_EQ(ends[i] - ends[i - 1], length) << "lateness added up at wait " << i;
        }
    }
}

TEST(ClockPace, LongWorkEarlyWakesAndShortWaitsStartFromNow) {
    // Work beyond the slack: counted from now again, so a poll's own time
    // (a real bus is slow) is never taken out of the wait that follows it.
    EXPECT_EQ(Clock::pacedEnd(2003500, 1990000, 10000), 2012500u);
    // Woken early by work for the thread: from now.
    EXPECT_EQ(Clock::pacedEnd(1995000, 2000000, 10000), 2004000u);
    // Straight back from a wait that ended on a boundary: the next one.
    EXPECT_EQ(Clock::pacedEnd(2001900, 2000000, 10000), 2010000u);
    // Waits shorter than a tick are no pace: exactly as asked.
    EXPECT_EQ(Clock::pacedEnd(1234567, 1230000, 5000), 1239567u);
}

TEST(TickCpu, ThreadsJoinTheChosenCpuOnlyOnceOneIsChosen) {
    auto affinity = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        pthread_getaffinity_np(pthread_self(), sizeof set, &set);
        return set;
    };
    const cpu_set_t before = affinity();
    bool joined = true;
    std::thread([&] { joined = tick_cpu::join(); }).join();
    EXPECT_FALSE(joined) << "a thread was pinned although no CPU was chosen";

    tick_cpu::choose();
    const int cpu = tick_cpu::chosen();
    ASSERT_GE(cpu, 0);
    cpu_set_t in{};
    std::thread([&] {
        joined = tick_cpu::join();
        in = affinity();
    }).join();
    tick_cpu::forget();
    EXPECT_TRUE(joined);
    EXPECT_EQ(CPU_COUNT(&in), 1);
    EXPECT_TRUE(CPU_ISSET(cpu, &in));
    // The choosing thread itself stays free until it joins.
    const cpu_set_t after = affinity();
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

}  // namespace
