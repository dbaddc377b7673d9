#include "sim/sim_shell.h"

#include "platform/root.h"

#include <ctime>

int SimShell::run(const std::string& command) {
    int status = 0;
    size_t best = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push(command);
        for (const auto& kv : m_results) {
            if (command.compare(0, kv.first.size(), kv.first) == 0 && kv.first.size() >= best) {
                best = kv.first.size();
                status = kv.second;
            }
        }
    }
    // The wall-clock time of each line, so a person can match it with what
    // they did on the panel or with the client.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S]", &local);
    m_logFile.append(Root::path(logDevicePath()), std::string(stamp) + " " + command);
    return status;
}

std::vector<std::string> SimShell::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands.items();
}

void SimShell::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
}

void SimShell::setResult(const std::string& prefix, int status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_results[prefix] = status;
}
