#pragma once
// Console messages of the chip operations: blue for progress, blinking red
// for errors, printed while debug printing is on (and the thread is not in a
// DebugQuiet scope); `always` ones regardless.
#include "core/global.h"
#include "core/logMsg.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace c331print {

// Where every message goes: the console (stdout) unless a test captures it.
inline std::atomic<FILE*> g_sink{nullptr};
inline FILE* sink() {
    FILE* f = g_sink.load();
    return f ? f : stdout;
}
// nullptr: back to stdout.
inline void setSink(FILE* f) { g_sink.store(f); }

inline void vout(const char* colour, const char* fmt, va_list ap) {
    FILE* f = sink();
    std::fputs(colour, f);
    std::vfprintf(f, fmt, ap);
    std::fputs("\033[0m", f);
    std::fflush(f);
}

__attribute__((format(printf, 1, 2))) inline void dbg(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[1;34m", fmt, ap);
    va_end(ap);
}

__attribute__((format(printf, 1, 2))) inline void err(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[5m\033[1;31m", fmt, ap);
    va_end(ap);
}

// Printed whatever the debug switch says (not in a DebugQuiet scope).
__attribute__((format(printf, 1, 2))) inline void always(const char* fmt, ...) {
    if (DebugQuiet::on()) return;
    FILE* f = sink();
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    std::fflush(f);
    va_end(ap);
}

// A line as puts prints it (the text and a newline), whatever the switch.
inline void line(const char* text) {
    if (DebugQuiet::on()) return;
    FILE* f = sink();
    std::fputs(text, f);
    std::fputc('\n', f);
    std::fflush(f);
}

// Plain text (no colour) printed only while debug printing is on: the
// closing messages of the factory sequences.
__attribute__((format(printf, 1, 2))) inline void closing(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    FILE* f = sink();
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    std::fflush(f);
    va_end(ap);
}

}  // namespace c331print
