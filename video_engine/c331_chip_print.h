#pragma once
// Console messages of the chip operations: blue for progress, blinking red
// for errors, printed while debug printing is on (and the thread is not in a
// DebugQuiet scope); `always` ones regardless. All take the console's road
// (core/console.h): the colour codes are the format's own, the arguments
// escaped.
#include "core/console.h"
#include "core/global.h"
#include "core/logMsg.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace c331print {

// Where the messages go: the console unless a test captures them.
inline std::atomic<FILE*> g_sink{nullptr};
// nullptr: back to the console.
inline void setSink(FILE* f) { g_sink.store(f); }

// The format between the colour and the reset that ends it.
inline void vout(const char* colour, const char* fmt, const char* reset, va_list ap) {
    const std::string wrapped = std::string(colour) + fmt + reset;
    if (FILE* f = g_sink.load()) {
        std::fputs(Console::format(wrapped.c_str(), ap).c_str(), f);
        std::fflush(f);
    } else {
        Console::vprint(Console::Stream::Out, wrapped.c_str(), ap);
    }
}

__attribute__((format(printf, 1, 2))) inline void dbg(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[1;34m", fmt, "\033[0m", ap);
    va_end(ap);
}

__attribute__((format(printf, 1, 2))) inline void err(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("\033[5m\033[1;31m", fmt, "\033[0m", ap);
    va_end(ap);
}

// Printed whatever the debug switch says (not in a DebugQuiet scope).
__attribute__((format(printf, 1, 2))) inline void always(const char* fmt, ...) {
    if (DebugQuiet::on()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("", fmt, "", ap);
    va_end(ap);
}

// The program's own text as a format without arguments, then a newline.
inline void ownLine(const char* text, ...) {
    if (DebugQuiet::on()) return;
    va_list ap;
    va_start(ap, text);
    vout("", text, "\n", ap);
    va_end(ap);
}

// A line of the program's own text as puts prints it (the text and a
// newline), whatever the switch. Only a literal, printed as it is: a text
// from elsewhere goes as an argument of `always`, which escapes it.
template <size_t N>
inline void line(const char (&text)[N]) {
    ownLine(text);
}

// Plain text (no colour) printed only while debug printing is on: the
// closing messages of the factory sequences.
__attribute__((format(printf, 1, 2))) inline void closing(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    vout("", fmt, "", ap);
    va_end(ap);
}

}  // namespace c331print
