#pragma once
#include "platform/shell.h"
#include "sim/sim_log_file.h"
#include "sim/sim_ring.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// Records every command line and runs none. Each line is also appended to
// "/var/log/sim_shell_commands.log" under the root with its time
// ("[YYYY-MM-DD hh:mm:ss] command"), so a person watching a PC run sees
// what the device would have run, and when. Past 4 MiB the file moves to
// ".1" and a new one starts.
//
// A line's status is the one /bin/sh would give it, from the status of each
// program it names: lists (";", "&", "&&", "||"), pipelines ("|"), quotes
// and backslashes, "`...`" (whose program prints a word when it succeeds, as
// "pidof" prints the processes it found, and nothing else), "kill" without
// a process (its usage error, 2), and redirections to /dev/null or between
// descriptors. That is the sh the program's lines use; a line with anything
// else (variables, globs, groups, keywords, other redirections, a syntax
// error) cannot be judged: it answers 2, as sh's syntax error, and is kept
// in unjudged(), which the tests require empty.
class SimShell : public ShellRunner {
public:
    int run(const std::string& command) override;
    static constexpr int kCannotJudge = 2;

    // The newest kKeep commands, oldest first: a PC that sets the clock
    // again and again must not grow a long run.
    std::vector<std::string> commands() const;
    static constexpr size_t kKeep = 4096;
    void clear();
    // Status of each program run whose words, joined by one blank, start
    // with prefix (longest prefix wins); 0 otherwise.
    void setResult(const std::string& prefix, int status);
    std::vector<std::string> unjudged() const;

    static const char* logDevicePath() { return "/var/log/sim_shell_commands.log"; }

private:
    mutable std::mutex m_mutex;
    SimRing<std::string> m_commands{kKeep};
    std::map<std::string, int> m_results;
    SimRing<std::string> m_unjudged{64};
    SimLogFile m_logFile;
};
