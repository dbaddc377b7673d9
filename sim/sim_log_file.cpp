#include "sim/sim_log_file.h"

#include <QDir>
#include <QFileInfo>

SimLogFile::~SimLogFile() { closeLocked(); }

void SimLogFile::closeLocked() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_size = 0;
}

bool SimLogFile::openLocked(const std::string& hostPath) {
    closeLocked();
    m_path = hostPath;
    QDir().mkpath(QFileInfo(QString::fromStdString(hostPath)).absolutePath());
    m_file = std::fopen(hostPath.c_str(), "a");
    if (!m_file) return false;
    // A file left by an earlier run counts towards the limit.
    std::fseek(m_file, 0, SEEK_END);
    const long at = std::ftell(m_file);
    m_size = at > 0 ? uint64_t(at) : 0;
    return true;
}

void SimLogFile::append(const std::string& hostPath, const std::string& line) {
    if (hostPath.empty()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if ((!m_file || hostPath != m_path) && !openLocked(hostPath)) return;
    const uint64_t bytes = line.size() + 1;
    if (m_size > 0 && m_size + bytes > m_limit) {
        closeLocked();
        std::rename(hostPath.c_str(), (hostPath + ".1").c_str());
        if (!openLocked(hostPath)) return;
    }
    std::fputs(line.c_str(), m_file);
    std::fputc('\n', m_file);
    // Flushed per line: a person follows the file while the program runs.
    std::fflush(m_file);
    m_size += bytes;
}
