#pragma once
// Writes the newest of a stream of whole-file contents on a thread of its
// own, so the thread that produces them (the GUI thread's persisting step)
// never waits for the disk. Content posted while another is being written
// replaces whatever older content still waits: only the newest reaches the
// file, and it always does. A write that fails is logged and tried again
// after kRetryMs, or at once when newer content comes. Idle, the thread
// sleeps without a bound: nothing wakes it but a post or the end.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class LatestFileWriter {
public:
    using Bytes = std::vector<uint8_t>;
    // `write` puts one content whole on disk (true when it did); `what`
    // names the file in the log.
    LatestFileWriter(std::function<bool(const Bytes&)> write, std::string what);
    // Writes what still waits (once), then stops.
    ~LatestFileWriter();

    void post(Bytes content);
    // Waits until nothing waits and nothing is being written, at most maxMs
    // of real time, so a disk that hangs never holds the caller (the stop)
    // for good; false when the time ran out or the last write failed (its
    // content is kept and tried again).
    bool drain(uint64_t maxMs = kDrainMs);

    static constexpr uint64_t kRetryMs = 1000;
    static constexpr uint64_t kDrainMs = 10000;

private:
    void run();

    std::function<bool(const Bytes&)> m_write;
    const std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_work;  // posted, or stopping
    std::condition_variable m_idle;  // a write ended
    std::optional<Bytes> m_pending;
    bool m_busy = false;
    bool m_failed = false;
    bool m_stop = false;
    uint64_t m_posts = 0;
    std::thread m_thread;
};
