#include "core/line_limiter.h"

#include "platform/board.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <vector>

namespace {

// The limiters alive and what they hold in all. Never destroyed: a limiter
// that is a static of its function leaves the list at exit, after any
// static this file could own. The lock guards the list and each limiter's
// m_printing; it is never held while a line is written.
struct Registry {
    std::mutex mutex;
    std::condition_variable printed;
    std::vector<LineLimiter*> all;
};
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}
std::atomic<u64> g_heldAnywhere{0};

// The installed board's clock, which tests drive; before any board is
// installed (a line its installation writes, or one written before it) the
// system's monotonic clock. Never installs a board: installing writes lines.
u64 nowMs() {
    static SystemClock* before = new SystemClock;
    Board* board = Board::installed();
    return (board ? board->clock() : *before).nowMs();
}

}  // namespace

LineLimiter::LineLimiter(std::function<void(u64 n)> count, u32 burst, u64 periodMs)
    : m_count(std::move(count)), m_burst(std::max<u32>(burst, 1)), m_periodMs(periodMs) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.all.push_back(this);
}

LineLimiter::~LineLimiter() {
    {
        // A count of this limiter being written goes out whole first.
        Registry& r = registry();
        std::unique_lock<std::mutex> lock(r.mutex);
        r.all.erase(std::remove(r.all.begin(), r.all.end(), this), r.all.end());
        r.printed.wait(lock, [this] { return m_printing == 0; });
    }
    // What it held leaves the total with it, unprinted: its owner (a link
    // of a test) printed what it wanted at its stop.
    std::lock_guard<std::mutex> lock(m_mutex);
    g_heldAnywhere -= m_held;
}

std::function<void(u64 n)> LineLimiter::logCount(_LogType level, std::string head, std::string what, LogPlace at) {
    const std::string kind = head + (head.empty() || what.empty() ? "" : " ") + what;
    if (!head.empty()) head += ": ";
    if (!what.empty()) what += ' ';
    return [level, head, what, kind, at](u64 n) {
        writeLogMsgFor(kind, level, head + std::to_string(n) + " more " + what + "in the last second", at);
    };
}

bool LineLimiter::admit() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Read under the lock: a thread that read the clock and was pre-empted
    // before the lock would take an older time than the period opened
    // meanwhile, and the window would run backwards.
    const u64 now = nowMs();
    // The period is fixed from the occurrence that opened it: once it has
    // passed, this one opens the next and is printed, however many came in
    // between. A stream that never pauses is then seen once a period, not
    // only at its start.
    if (!m_open || now - m_since >= m_periodMs) {
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
    const u64 now = nowMs();
    if (!m_open || now - m_since < m_periodMs) return 0;
    const u64 n = m_held;
    m_held = 0;
    g_heldAnywhere -= n;
    // The period is over and its count handed over: the next occurrence
    // opens another.
    m_open = false;
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

void LineLimiter::print(u64 n) {
    if (n) m_count(n);
}

void LineLimiter::writeCounts(bool all) {
    Registry& r = registry();
    std::vector<std::pair<LineLimiter*, u64>> due;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (LineLimiter* l : r.all) {
            const u64 n = all ? l->takeAll() : l->takeDue();
            if (!n) continue;
            ++l->m_printing;
            due.emplace_back(l, n);
        }
    }
    for (const auto& d : due) {
        d.first->print(d.second);
        std::lock_guard<std::mutex> lock(r.mutex);
        --d.first->m_printing;
    }
    if (!due.empty()) r.printed.notify_all();
}

void LineLimiter::writeDueCounts() {
    if (g_heldAnywhere.load() != 0) writeCounts(false);
}

void LineLimiter::writeHeldCounts() { writeCounts(true); }

LineLimiter& LineLimiterSet::of(const std::string& thing) {
    // A new limiter joins the list under this lock; nothing that holds the
    // list's lock comes here (no count is written under it).
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_ptr<LineLimiter>& l = m_limiters[thing];
    if (!l) l = std::make_unique<LineLimiter>(m_countOf(thing));
    return *l;
}
