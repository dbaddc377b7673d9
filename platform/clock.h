#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>

// Monotonic time and sleeps. Everything that waits goes through here, so a
// test can run a manager in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t nowMs() = 0;            // monotonic milliseconds
    virtual void sleepUs(uint64_t us) = 0;
    // The wall-clock calendar time (local time on the device).
    virtual std::tm wallTime() = 0;
    void sleepMs(uint64_t ms) { sleepUs(ms * 1000); }
    // Waits on `cv` (with `lock` held) until `ready` is true or `ms` have
    // passed; returns ready(). A thread that sleeps until there is work.
    virtual bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                         const std::function<bool()>& ready) {
        return cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
};

// The host's monotonic clock and real sleeps.
class SystemClock : public Clock {
public:
    uint64_t nowMs() override;
    void sleepUs(uint64_t us) override;
    std::tm wallTime() override;
};

// Virtual time for tests: time moves only by advance() and by sleeps, which
// advance it by their length (and yield, so other threads run).
class ManualClock : public Clock {
public:
    uint64_t nowMs() override;
    void sleepUs(uint64_t us) override;
    // Not ready: the whole bound passes in virtual time.
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                 const std::function<bool()>& ready) override;
    void advanceMs(uint64_t ms);
    void setMs(uint64_t ms);
    // Wall time: the calendar time set here, advancing with virtual time.
    std::tm wallTime() override;
    void setWallTime(const std::tm& t);
private:
    std::atomic<uint64_t> m_us{0};
    std::atomic<int64_t> m_wallBase{0};     // seconds (UTC calendar) at m_wallSetUs
    std::atomic<uint64_t> m_wallSetUs{0};
};
