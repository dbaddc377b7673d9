#pragma once
#include "platform/shell.h"
#include "sim/sim_log_file.h"
#include "sim/sim_ring.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// Records every command and runs none. Each command is also appended to
// "/var/log/sim_shell_commands.log" under the root with its time
// ("[YYYY-MM-DD hh:mm:ss] command"), so a person watching a PC run sees
// what the device would have run, and when. Past 4 MiB the file moves to
// ".1" and a new one starts.
class SimShell : public ShellRunner {
public:
    int run(const std::string& command) override;

    // The newest kKeep commands, oldest first: a PC that sets the clock
    // again and again must not grow a long run.
    std::vector<std::string> commands() const;
    static constexpr size_t kKeep = 4096;
    void clear();
    // Status returned for commands that start with prefix (longest prefix
    // wins); 0 otherwise.
    void setResult(const std::string& prefix, int status);

    static const char* logDevicePath() { return "/var/log/sim_shell_commands.log"; }

private:
    mutable std::mutex m_mutex;
    SimRing<std::string> m_commands{kKeep};
    std::map<std::string, int> m_results;
    SimLogFile m_logFile;
};
