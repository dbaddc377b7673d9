#pragma once
// A console or log line that a peer can cause as often as it sends (a
// garbage datagram, a refused connection, a frame too long to pass on, a
// file stored, a clock set): the first of each second is printed whole, the
// rest of that second are only counted and the count is printed once the
// second is over. The second is a fixed period that starts with the line
// printed; the first occurrence after it is printed again and starts the
// next, however many came in between. A hostile stream then costs a line
// and a count a second instead of a line per frame, a stream that goes on
// still shows what it is doing now, and the counts add up to what came.
// Time is the installed board's clock (the system's before any board is
// installed). The log itself keeps
// one for every place that writes to it (logMsg.h), with a burst of several
// lines and a longer period; what a limiter here lets through, and its
// counts, still take the log's limit of their places.
//
// Every limiter of the process is on one list, so no count waits for an
// occurrence to bring it: the panel's 10 ms tick writes the counts that fell
// due (writeDueCounts), and the stop writes those still held
// (writeHeldCounts) once the threads that count are gone. No lock is held
// while a count is written: a count line may be the first line of its
// place, whose limiter then joins the list, in this thread or another.
#include "core/global.h"
#include "core/logMsg.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class LineLimiter {
public:
    static constexpr u64 kPeriodMs = 1000;

    // count(n) prints the line of n occurrences held back (n > 0); it may
    // run in any thread that calls into a limiter, so it only prints. The
    // first `burst` occurrences of each period of `periodMs` (from the
    // first of them) are printed whole, the rest held; their count comes
    // at the period's end.
    explicit LineLimiter(std::function<void(u64 n)> count, u32 burst = 1, u64 periodMs = kPeriodMs);
    ~LineLimiter();
    LineLimiter(const LineLimiter&) = delete;
    LineLimiter& operator=(const LineLimiter&) = delete;

    // The usual count line, written to the log at `level`:
    // "<head>: <n> more <what> in the last second" (no "<head>: " when head
    // is empty, no "<what> " when what is). Its counts have the log's limit
    // of a place of their own: the place that made the limiter, with head
    // and what.
    static std::function<void(u64 n)> logCount(_LogType level, std::string head, std::string what,
                                               LogPlace at = {});

    // One occurrence: prints a count that fell due, then calls line() when
    // this one is to be printed itself (one of the first `burst` of its
    // period); otherwise it is held back in the count.
    template <class Line>
    void occur(Line line) {
        print(takeDue());
        if (admit()) line();
    }
    // Prints every occurrence held back, due or not; the limiter starts
    // afresh (a link that stops).
    void printHeld() { print(takeAll()); }

    // Every limiter of the process: the counts that fell due (the tick),
    // and every count held (the stop). Cheap while nothing is held.
    static void writeDueCounts();
    static void writeHeldCounts();

    // The steps of occur, for tests. admit: true when this occurrence is
    // printed, else it is held back. takeDue: the occurrences held back
    // over a second that has ended, handed over once; 0 when none is due.
    // takeAll: every occurrence held back, due or not; starts afresh.
    bool admit();
    u64 takeDue();
    u64 takeAll();

private:
    void print(u64 n);
    // The counts taken under the list's lock, written once it is released.
    static void writeCounts(bool all);

    const std::function<void(u64)> m_count;
    const u32 m_burst;
    const u64 m_periodMs;
    std::mutex m_mutex;
    bool m_open = false;  // a period runs, its count not yet handed over
    u64 m_since = 0;      // its start: the occurrence that opened it, board clock ms
    u32 m_taken = 0;      // lines of its burst printed
    u64 m_held = 0;
    // Counts of this limiter being written by writeCounts, off the list's
    // lock; its destructor waits for them (guarded by the list's lock).
    u32 m_printing = 0;
};

// A limiter for each of several things one line of code speaks of (each
// device, each program a shell runs), made at a thing's first occurrence
// and kept for good: one thing's flood never holds back another's first
// line, nor adds to its count. The things come from a set the program
// knows (its devices, its own programs), never from a peer.
class LineLimiterSet {
public:
    // countOf(thing) gives the count line of that thing's limiter.
    explicit LineLimiterSet(std::function<std::function<void(u64 n)>(const std::string& thing)> countOf)
        : m_countOf(std::move(countOf)) {}
    LineLimiterSet(const LineLimiterSet&) = delete;
    LineLimiterSet& operator=(const LineLimiterSet&) = delete;

    LineLimiter& of(const std::string& thing);

private:
    const std::function<std::function<void(u64 n)>(const std::string& thing)> m_countOf;
    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<LineLimiter>> m_limiters;
};
