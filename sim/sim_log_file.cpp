#include "sim/sim_log_file.h"

#include "core/logMsg.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
const char* kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device node";
    if (S_ISSOCK(mode)) return "a socket";
    return "something";
}

// Every file of the board is refused here, each one at a place of its own:
// a FIFO left in one file's place, refused at each write, never hides
// another file's refusal.
int refused(const std::string& hostPath, const std::string& why, LogPlace at) {
    writeLogMsgFor(hostPath, ERROR, "sim: " + hostPath + " not written: " + why, at);
    return -1;
}
}  // namespace

int simOpenFile(const std::string& hostPath, int flags, LogPlace at) {
    if (flags & O_CREAT) QDir().mkpath(QFileInfo(QString::fromStdString(hostPath)).absolutePath());
    // A link is not followed: the board's files stay under the root, and a
    // link to nothing would have the file made wherever it points.
    const int fd = ::open(hostPath.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT && !(flags & O_CREAT)) return -1;  // not written yet: the caller's erased state
        // A folder refuses a write open, a FIFO without a reader or a socket
        // refuses one that may not wait, a link any open: either way it is
        // not the file.
        struct stat st {};
        if (::lstat(hostPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return refused(hostPath, std::string(kindOf(st.st_mode)) + " is in its place", at);
        return refused(hostPath, std::string("the open failed: ") + std::strerror(e), at);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string what = st.st_mode ? std::string(kindOf(st.st_mode)) : "what is there";
        ::close(fd);
        return refused(hostPath, what + " is in its place", at);
    }
    // Writes to a regular file never wait; the flag goes so the caller has
    // the plain file it asked for.
    const int now = ::fcntl(fd, F_GETFL);
    if (now < 0 || ::fcntl(fd, F_SETFL, now & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return refused(hostPath, std::string("the open failed: ") + std::strerror(errno), at);
    }
    return fd;
}

SimLogFile::~SimLogFile() { closeLocked(); }

void SimLogFile::closeLocked() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_size = 0;
}

bool SimLogFile::openLocked(const std::string& hostPath) {
    closeLocked();
    m_path = hostPath;
    const int fd = simOpenFile(hostPath, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return false;
    m_file = ::fdopen(fd, "a");
    if (!m_file) {
        ::close(fd);
        return false;
    }
    // A file left by an earlier run counts towards the limit.
    struct stat st {};
    m_size = ::fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
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
