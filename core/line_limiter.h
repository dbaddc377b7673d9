#pragma once
// A console or log line that a peer can cause as often as it sends (a
// garbage datagram, a refused connection, a frame too long to pass on): the
// first of a burst is printed whole, the rest are only counted and the count
// is printed at most once a second. A hostile stream then costs a line a
// second instead of one per datagram, and the counts still add up to what
// came. Time is the board's clock.
#include "core/global.h"

#include <mutex>

class LineLimiter {
public:
    static constexpr u64 kPeriodMs = 1000;

    // One occurrence. Calls count(n) first when n held-back occurrences have
    // fallen due, then line() when this one is to be printed itself (the
    // first after a quiet second).
    template <class Line, class Count>
    void occur(Line line, Count count) {
        const u64 due = takeDue();
        if (due) count(due);
        if (admit()) line();
    }
    // One occurrence: true when its own line is to be printed; otherwise it
    // is held back in the count.
    bool admit();
    // The occurrences held back over a second that has ended, handed over
    // once for one count line; 0 when none is due.
    u64 takeDue();
    // Milliseconds until takeDue hands a count over; -1 while none is held
    // (a thread waits for the count with this bound, and without one else).
    int msUntilDue();
    // Every occurrence held back and not handed over, due or not; the
    // limiter starts afresh (a link that stops).
    u64 takeAll();

private:
    std::mutex m_mutex;
    bool m_open = false;  // a second runs since the last line printed
    u64 m_since = 0;      // its start, board clock ms
    u64 m_held = 0;
};
