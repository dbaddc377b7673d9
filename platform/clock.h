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
    // G_timeTicks counts these on the monotonic clock.
    static constexpr uint64_t kTickUs = 10000;
    // How far a periodic wait may move to meet a tick boundary, and how
    // much later it may end to meet another wake-up.
    static constexpr uint64_t kPaceToleranceUs = 1000;

    virtual ~Clock() = default;
    virtual uint64_t nowUs() = 0;            // monotonic microseconds
    uint64_t nowMs() { return nowUs() / 1000; }
    virtual void sleepUs(uint64_t us) = 0;
    // Sleeps until the monotonic time `us` (returns at once when it passed),
    // or up to `slackUs` later when that lets the system serve it together
    // with another wake-up.
    virtual void sleepUntilUs(uint64_t us, uint64_t slackUs = 0) = 0;
    // The wall-clock calendar time (local time on the device).
    virtual std::tm wallTime() = 0;
    void sleepMs(uint64_t ms) { sleepUs(ms * 1000); }
    // Waits on `cv` (with `lock` held) until `ready` is true or `ms` have
    // passed; returns ready(). A thread that sleeps until there is work.
    virtual bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                         const std::function<bool()>& ready) = 0;
    // As waitFor, to the monotonic time `us` (with the slack of sleepUntilUs).
    virtual bool waitUntilUs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t us,
                             uint64_t slackUs, const std::function<bool()>& ready) = 0;

    // The periodic waits of the worker threads (each input's poll, the c331
    // input poll, the FPGA's quiet pass) keep a pace on the tick: they end
    // on a tick boundary when one lies within kPaceToleranceUs of their end,
    // may end up to kPaceToleranceUs late to ride on another wake-up (the
    // panel's tick), and a thread that comes straight back from one counts
    // the next from where the last was meant to end, so that lateness does
    // not add up. An idle program then wakes the machine about once per tick
    // for all its threads, not once per thread and wait.
    void sleepPacedMs(uint64_t ms) { sleepUntilUs(pacedEndUs(ms), kPaceToleranceUs); }
    bool waitPaced(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                   const std::function<bool()>& ready) {
        return waitUntilUs(cv, lock, pacedEndUs(ms), kPaceToleranceUs, ready);
    }
    // Where a paced wait of `lengthUs` begun at `nowUs` ends, when the
    // thread's last paced wait was meant to end at `lastEndUs` (0: none).
    static uint64_t pacedEnd(uint64_t nowUs, uint64_t lastEndUs, uint64_t lengthUs);

private:
    uint64_t pacedEndUs(uint64_t ms);
};

// The host's monotonic clock and real sleeps.
class SystemClock : public Clock {
public:
    uint64_t nowUs() override;
    void sleepUs(uint64_t us) override;
    void sleepUntilUs(uint64_t us, uint64_t slackUs = 0) override;
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                 const std::function<bool()>& ready) override;
    bool waitUntilUs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t us, uint64_t slackUs,
                     const std::function<bool()>& ready) override;
    std::tm wallTime() override;
};

// Virtual time for tests: time moves only by advance() and by sleeps, which
// advance it by their length (and yield, so other threads run).
class ManualClock : public Clock {
public:
    uint64_t nowUs() override;
    void sleepUs(uint64_t us) override;
    void sleepUntilUs(uint64_t us, uint64_t slackUs = 0) override;  // no slack in virtual time
    // Not ready: the whole bound passes in virtual time.
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t ms,
                 const std::function<bool()>& ready) override;
    bool waitUntilUs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t us, uint64_t slackUs,
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
