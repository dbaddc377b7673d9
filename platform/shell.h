#pragma once
#include <string>

// The one door to shell commands. The real runner runs them with /bin/sh,
// as system() would, what they print going to the console's road; the
// simulated one records the command and runs nothing, so "reboot",
// "ifconfig" and friends never reach the host of a PC run or a test.
class ShellRunner {
public:
    virtual ~ShellRunner() = default;
    // Returns the raw status as system() would (0 = success).
    virtual int run(const std::string& command) = 0;
};
