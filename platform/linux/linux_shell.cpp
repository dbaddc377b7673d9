#include "platform/linux/linux_shell.h"

#include "core/logMsg.h"

#include <cstdlib>

int LinuxShellRunner::run(const std::string& command) {
    const int status = std::system(command.c_str());
    // -1: no shell could be started at all, which no command's own status
    // explains; the caller only sees "failed".
    if (status == -1) writeLogMsg(ERROR, "shell could not run: " + command);
    return status;
}
