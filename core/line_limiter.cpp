#include "core/line_limiter.h"

#include "platform/board.h"

bool LineLimiter::admit() {
    const u64 now = Board::get().clock().nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    // A second that ended with nothing held back is over: this one starts
    // the next burst and is printed.
    if (!m_open || (m_held == 0 && now - m_since >= kPeriodMs)) {
        m_open = true;
        m_since = now;
        return true;
    }
    ++m_held;
    return false;
}

u64 LineLimiter::takeDue() {
    const u64 now = Board::get().clock().nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open || now - m_since < kPeriodMs) return 0;
    const u64 n = m_held;
    m_held = 0;
    // A count line opens the next second; a second without one closes the
    // burst.
    m_open = n != 0;
    m_since = now;
    return n;
}

int LineLimiter::msUntilDue() {
    const u64 now = Board::get().clock().nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open || m_held == 0) return -1;
    const u64 end = m_since + kPeriodMs;
    return now >= end ? 0 : int(end - now);
}

u64 LineLimiter::takeAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const u64 n = m_held;
    m_held = 0;
    m_open = false;
    return n;
}
