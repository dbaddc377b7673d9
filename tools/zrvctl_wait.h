#pragma once
// How long zrvctl waits for a command's answer: the time-out given
// (--timeout, or the default) and what the device may take beyond an
// ordinary answer for the command, as docs/protocol.md gives it. Every
// command's wait is made by wait() from the two: a long erase is waited
// for as long as the device may take, never cut to a bound of its own.
#include "core/global.h"

#include <chrono>
#include <string>

namespace ClientWait {

// 64 bits: an erase of the whole flash in 4 KiB blocks is waited more than
// 26 million ms; waits on a descriptor take it in slices of what poll() takes.
using Ms = std::chrono::milliseconds;

struct Wait {
    Ms total;
    // What may still be under way when no answer came within a wait longer
    // than the time-out given, for the message; null for the time-out alone.
    const char* beyond = nullptr;
};

inline Wait wait(int givenMs, Ms allowance = Ms(0), const char* beyond = nullptr) {
    return {Ms(givenMs) + allowance, allowance.count() > 0 ? beyond : nullptr};
}

// The device answers an erase within 1 s and 3.2 s for each block (its
// erase and read-back).
inline Wait erase(int givenMs, u64 blocks) {
    return wait(givenMs, Ms(1000 + 3200 * blocks), "the erase may still be running");
}

// A flash write within 1.1 s and 0.4 s for each 256-byte page it touches.
inline Wait write(int givenMs, u64 pages) {
    return wait(givenMs, Ms(1100 + 400 * pages), "the write may still be running");
}

// The device may hold a frame for the cards 6 s before it goes out; their
// reply comes within the time-out after that, or never.
inline Wait cards(int givenMs) {
    return wait(givenMs, Ms(6000), "the time-out and the 6 s the device may hold the frame");
}

// The wait as a message gives it: the time-out given in its milliseconds
// ("2000 ms"), a longer wait in seconds ("643 s", "4.201 s").
inline std::string text(const Wait& w) {
    const long long ms = w.total.count();
    if (!w.beyond) return std::to_string(ms) + " ms";
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return std::to_string(ms / 1000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

}  // namespace ClientWait
