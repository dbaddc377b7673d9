#pragma once
// Console messages of the chip operations: blue for progress, blinking red
// for errors, printed while debug printing is on; `always` ones regardless.
#include "core/global.h"

#include <cstdarg>
#include <cstdio>

namespace c331print {

inline void vout(const char* colour, const char* fmt, va_list ap) {
    std::fputs(colour, stdout);
    std::vprintf(fmt, ap);
    std::fputs("\033[0m", stdout);
    std::fflush(stdout);
}

__attribute__((format(printf, 1, 2))) inline void dbg(const char* fmt, ...) {
    if (g_debugSwitch.load() != 254) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[1;34m", fmt, ap);
    va_end(ap);
}

__attribute__((format(printf, 1, 2))) inline void err(const char* fmt, ...) {
    if (g_debugSwitch.load() != 254) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[5m\033[1;31m", fmt, ap);
    va_end(ap);
}

// Printed whatever the debug switch says.
__attribute__((format(printf, 1, 2))) inline void always(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    std::fflush(stdout);
    va_end(ap);
}

}  // namespace c331print
