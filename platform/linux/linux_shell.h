#pragma once
#include "platform/shell.h"

// Runs commands with "/bin/sh -c" in a process group of their own and waits
// at most the time-out for them: a command that hangs (a "hwclock" on a dead
// RTC, a "route" waiting for a resolver) is killed with its children and
// reported as failed, so no caller holds its mutex for longer than that.
// What a command prints never reaches the console directly: each line goes
// through the console's road (console.h), escaped, so a console that does
// not take its lines, or has gone, neither holds the command nor changes its
// status. run() returns once the command's lines are handed over (within a
// bound), so they stand before what the program prints next.
// Callers serialise through Utils::system_mutex.
class LinuxShellRunner : public ShellRunner {
public:
    static constexpr int kDefaultTimeoutMs = 5000;
    explicit LinuxShellRunner(int timeoutMs = kDefaultTimeoutMs) : m_timeoutMs(timeoutMs) {}
    int run(const std::string& command) override;

private:
    int m_timeoutMs;
};
