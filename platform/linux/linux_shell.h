#pragma once
#include "platform/shell.h"

// Runs commands with the C library's system(). Callers serialise through
// Utils::system_mutex.
class LinuxShellRunner : public ShellRunner {
public:
    int run(const std::string& command) override;
};
