#include "core/line_limiter.h"

#include "platform/board.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

// The limiters alive and what they hold in all. Never destroyed: a limiter
// that is a static of its function leaves the list at exit, after any
// static this file could own. Recursive: a count line may be the first line
// of its place in the log, whose limiter joins the list while the counts are
// being written.
struct Registry {
    std::recursive_mutex mutex;
    std::vector<LineLimiter*> all;
};
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}
std::atomic<u64> g_heldAnywhere{0};
thread_local bool t_inside = false;

}  // namespace

LineLimiter::LineLimiter(std::function<void(u64 n)> count, u32 burst, u64 periodMs)
    : m_count(std::move(count)), m_burst(std::max<u32>(burst, 1)), m_periodMs(periodMs) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    r.all.push_back(this);
}

LineLimiter::~LineLimiter() {
    {
        Registry& r = registry();
        std::lock_guard<std::recursive_mutex> lock(r.mutex);
        r.all.erase(std::remove(r.all.begin(), r.all.end(), this), r.all.end());
    }
    // What it held leaves the total with it, unprinted: its owner (a link
    // of a test) printed what it wanted at its stop.
    std::lock_guard<std::mutex> lock(m_mutex);
    g_heldAnywhere -= m_held;
}

std::function<void(u64 n)> LineLimiter::logCount(_LogType level, std::string head, std::string what) {
    if (!head.empty()) head += ": ";
    if (!what.empty()) what += ' ';
    return [level, head, what](u64 n) {
        writeLogMsg(level, head + std::to_string(n) + " more " + what + "in the last second");
    };
}

bool LineLimiter::admit() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Read under the lock: a thread that read the clock and was pre-empted
    // before the lock would take an older time than the second opened
    // meanwhile, and the window would run backwards.
    const u64 now = Board::get().clock().nowMs();
    // A period that ended with nothing held back is over: this one starts
    // the next burst and is printed.
    if (!m_open || (m_held == 0 && now - m_since >= m_periodMs)) {
        m_open = true;
        m_since = now;
        m_taken = 1;
        return true;
    }
    if (m_taken < m_burst) {
        ++m_taken;
        return true;
    }
    ++m_held;
    ++g_heldAnywhere;
    return false;
}

u64 LineLimiter::takeDue() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const u64 now = Board::get().clock().nowMs();
    if (!m_open || now - m_since < m_periodMs) return 0;
    const u64 n = m_held;
    m_held = 0;
    g_heldAnywhere -= n;
    // A count line opens the next period, which prints no burst: a stream
    // that goes on costs a count a period. A period without one closes the
    // burst.
    m_open = n != 0;
    m_since = now;
    m_taken = m_burst;
    return n;
}

u64 LineLimiter::takeAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const u64 n = m_held;
    m_held = 0;
    g_heldAnywhere -= n;
    m_open = false;
    return n;
}

LineLimiter::Inside::Inside() : outer(t_inside) { t_inside = true; }
LineLimiter::Inside::~Inside() { t_inside = outer; }
bool LineLimiter::inside() { return t_inside; }

void LineLimiter::print(u64 n) {
    if (!n) return;
    const Inside inside;
    m_count(n);
}

// By index: a limiter may join the list while a count is printed.
void LineLimiter::writeDueCounts() {
    if (g_heldAnywhere.load() == 0) return;
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    for (size_t i = 0; i < r.all.size(); ++i) r.all[i]->print(r.all[i]->takeDue());
}

void LineLimiter::writeHeldCounts() {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    for (size_t i = 0; i < r.all.size(); ++i) r.all[i]->printHeld();
}
