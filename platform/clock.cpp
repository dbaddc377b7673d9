#include "platform/clock.h"

#include <chrono>
#include <thread>

uint64_t SystemClock::nowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::sleepUs(uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

uint64_t ManualClock::nowMs() { return m_us.load() / 1000; }
void ManualClock::sleepUs(uint64_t us) {
    m_us.fetch_add(us);
    std::this_thread::yield();
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
