#pragma once
// Orderly end of the program. SIGTERM and SIGINT end the Qt event loop (the
// handler only writes to a pipe that the GUI thread watches), on every
// display platform: none may take a signal from the program; the loss of
// the X display, which Qt's X11 platform answers with exit(1), is caught
// before that exit. Either way every worker thread is stopped and joined
// before static destruction, a pending change is persisted, and the exit
// status is 0.
#include "core/console.h"

#include <chrono>

namespace AppShutdown {

// Installs the signal handlers (and the handler of Qt's messages, which
// prints them on the console's road). Call at the very start of main: a signal
// that arrives before the event loop runs ends it as soon as it starts.
void installSignalHandlers();
// Gives back to the program each signal the display platform took while the
// QApplication was built, with a line in the log, and watches the pipe from
// the GUI thread; call once the QApplication exists.
void watchSignals();

// Stops and joins the links, the Wi-Fi thread, the USB watcher, the source
// thread, the FPGA thread and the c331 thread, then delivers the change
// signals already queued and persists the change the c331 thread had not
// taken yet. GUI thread; runs once.
void stopWorkersAndPersist();

// How long the stop waits for the console to take its last lines.
constexpr std::chrono::milliseconds kConsoleDrain = Console::kLastLinesWait;
// Waits that long at most for what was printed to be written out; called
// last, before the process ends.
void drainConsole();

}  // namespace AppShutdown
