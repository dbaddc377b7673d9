#include "core/latest_file_writer.h"

#include "core/logMsg.h"
#include "platform/board.h"

#include <pthread.h>

#include <chrono>

#include <utility>

LatestFileWriter::LatestFileWriter(std::function<bool(const Bytes&)> write, std::string what)
    : m_write(std::move(write)), m_what(std::move(what)) {
    m_thread = std::thread(&LatestFileWriter::run, this);
    pthread_setname_np(m_thread.native_handle(), "persist");
}

LatestFileWriter::~LatestFileWriter() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    m_thread.join();
}

void LatestFileWriter::post(Bytes content) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = std::move(content);
        ++m_posts;
    }
    m_work.notify_all();
}

bool LatestFileWriter::drain(uint64_t maxMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool idle = m_idle.wait_for(lock, std::chrono::milliseconds(maxMs),
                                      [this] { return !m_busy && (!m_pending || m_failed); });
    return idle && !m_failed;
}

void LatestFileWriter::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_pending || m_stop; });
        if (!m_pending) return;  // stopping with nothing left
        const bool last = m_stop;
        Bytes content = std::move(*m_pending);
        m_pending.reset();
        m_busy = true;
        lock.unlock();
        const bool ok = m_write(content);
        // Each writer's line has its own limit: one file's failing disk
        // never hides another's.
        if (!ok) writeLogMsgFor(m_what, ERROR, m_what + " cannot be written; trying again");
        lock.lock();
        m_busy = false;
        m_failed = !ok;
        // Newer content replaces what failed; else the failed one waits here.
        if (!ok && !m_pending) m_pending = std::move(content);
        m_idle.notify_all();
        if (ok) continue;
        if (last) return;  // the stop's one more try failed too
        const uint64_t seen = m_posts;
        Board::get().clock().waitFor(m_work, lock, kRetryMs, [&] { return m_stop || m_posts != seen; });
    }
}
