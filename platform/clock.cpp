#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include <sys/prctl.h>

uint64_t SystemClock::nowUs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {

// The calling thread's timer slack: the kernel may expire its timers with
// any other that falls due within it. Paced waits set it, every other wait
// through the clock puts the thread's default back; a thread that only
// paces keeps it without a system call per wait.
thread_local uint64_t t_slackUs = 0;  // 0: the thread's default

void useSlack(uint64_t us) {
    if (t_slackUs == us) return;
    if (prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(us * 1000)) == 0) t_slackUs = us;
}

// Where the calling thread's last paced wait was meant to end.
thread_local uint64_t t_lastPacedEndUs = 0;

}  // namespace

uint64_t Clock::pacedEnd(uint64_t nowUs, uint64_t lastEndUs, uint64_t lengthUs) {
    if (lengthUs < kTickUs) return nowUs + lengthUs;  // short waits are not a pace
    // Straight back from the last one (woken late by up to the slack, then
    // a little work): the pace goes on from where that one was meant to end.
    const bool straightBack = lastEndUs != 0 && nowUs >= lastEndUs && nowUs - lastEndUs <= 2 * kPaceToleranceUs;
    const uint64_t end = (straightBack ? lastEndUs : nowUs) + lengthUs;
    // Towards the nearest tick boundary, by at most the tolerance: a pace
    // that starts off the boundaries reaches one within a few waits.
    const uint64_t before = end / kTickUs * kTickUs;
    if (end - before <= kTickUs / 2) return end - std::min(end - before, kPaceToleranceUs);
    return end + std::min(before + kTickUs - end, kPaceToleranceUs);
}

uint64_t Clock::pacedEndUs(uint64_t ms) {
    t_lastPacedEndUs = pacedEnd(nowUs(), t_lastPacedEndUs, ms * 1000);
    return t_lastPacedEndUs;
}

void SystemClock::sleepUs(uint64_t us) {
    useSlack(0);
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void SystemClock::sleepUntilUs(uint64_t us, uint64_t slackUs) {
    // An absolute sleep, so that waits meant to end on one tick boundary end
    // on the same timer expiry.
    useSlack(slackUs);
    const timespec at{time_t(us / 1000000), long(us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

bool SystemClock::waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                          const std::function<bool()>& ready) {
    useSlack(0);
    return cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

bool SystemClock::waitUntilUs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t us,
                              uint64_t slackUs, const std::function<bool()>& ready) {
    useSlack(slackUs);
    return cv.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::microseconds(us)), ready);
}

uint64_t ManualClock::nowUs() { return m_us.load(); }
void ManualClock::sleepUs(uint64_t us) {
    m_us.fetch_add(us);
    std::this_thread::yield();
}
void ManualClock::sleepUntilUs(uint64_t us, uint64_t) {
    const uint64_t now = m_us.load();
    sleepUs(us > now ? us - now : 0);
}
void ManualClock::advanceMs(uint64_t ms) { m_us.fetch_add(ms * 1000); }
void ManualClock::setMs(uint64_t ms) { m_us.store(ms * 1000); }

bool ManualClock::waitFor(std::condition_variable&, std::unique_lock<std::mutex>& lock, uint64_t ms,
                          const std::function<bool()>& ready) {
    if (ready()) return true;
    lock.unlock();
    sleepUs(ms * 1000);
    lock.lock();
    return ready();
}

bool ManualClock::waitUntilUs(std::condition_variable&, std::unique_lock<std::mutex>& lock, uint64_t us, uint64_t,
                              const std::function<bool()>& ready) {
    if (ready()) return true;
    lock.unlock();
    sleepUntilUs(us);
    lock.lock();
    return ready();
}

std::tm SystemClock::wallTime() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

std::tm ManualClock::wallTime() {
    const std::time_t now =
        std::time_t(m_wallBase.load() + int64_t((m_us.load() - m_wallSetUs.load()) / 1000000));
    std::tm t{};
    gmtime_r(&now, &t);
    return t;
}

void ManualClock::setWallTime(const std::tm& t) {
    std::tm copy = t;
    m_wallBase.store(int64_t(timegm(&copy)));
    m_wallSetUs.store(m_us.load());
}
