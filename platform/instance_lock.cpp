#include "platform/instance_lock.h"

#include "core/file_checks.h"
#include "core/logMsg.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace InstanceLock {

namespace {

// Something other than a regular file in the lock's place would leave every
// start unguarded: it is kept aside as a refused file is ("<place>.refused",
// one copy, the newest), so that the lock can be taken. False, with the
// reason, when it cannot be moved.
bool keepAside(const std::string& what, std::string& problem, LogPlace at = {}) {
    const std::string kept = FileCheck::keptAsidePath(kLockFile);
    if (!FileCheck::moveAside(kLockFile)) {
        problem = Root::path(kLockFile) + ": " + what + " in the lock's place cannot be kept aside (" +
                  std::strerror(errno) + ")";
        return false;
    }
    writeLogMsg(ERROR, std::string("instance lock ") + kLockFile + " refused: " + what + ", not a regular file; kept as " +
                           kept + "; the lock taken on a new file",
                at);
    return true;
}

}  // namespace

Outcome take() {
    Outcome out;
    const std::string path = Root::path(kLockFile);
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    // Non-blocking: whatever lies at the path must not hold the start; only
    // a regular file is taken, anything else is kept aside first. Only a
    // root that cannot be written runs without the lock.
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        const std::string what = FileOps::kindAt(kLockFile);
        if (!what.empty() && what != "a regular file" && !keepAside(what, out.problem)) return out;
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0644);
        if (fd < 0) {
            const int error = errno;
            out.problem = path + ": " + std::strerror(error);
            // Only something put in the place since the look is looked at
            // again; a place that cannot be written stays unguarded.
            if (error != ELOOP && error != EISDIR && error != ENXIO) return out;
            continue;
        }
        struct stat st{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) break;
        out.problem = path + ": not a regular file";
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) return out;
    out.problem = path + ": the lock was refused and then found free three times";
    // A holder that ends between the refusal and the question leaves the
    // file unlocked: ask again, a few times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock whole{};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &whole) == 0) {
            out.state = Outcome::Held;
            out.problem.clear();
            return out;  // the descriptor stays open for the whole run
        }
        struct flock asked = whole;
        if ((errno != EACCES && errno != EAGAIN) || ::fcntl(fd, F_GETLK, &asked) != 0) {
            out.problem = path + ": " + std::strerror(errno);
            break;
        }
        if (asked.l_type != F_UNLCK) {
            out.state = Outcome::HeldByOther;
            out.holder = asked.l_pid;
            out.problem.clear();
            break;
        }
    }
    ::close(fd);
    return out;
}

}  // namespace InstanceLock
