#include "platform/instance_lock.h"

#include "platform/root.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace InstanceLock {

Outcome take() {
    Outcome out;
    const std::string path = Root::path(kLockFile);
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    // Non-blocking: whatever lies at the path (a FIFO left by someone) must
    // not hold the start; only a regular file is taken.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.problem = path + (fd < 0 ? std::string(": ") + std::strerror(errno) : ": not a regular file");
        if (fd >= 0) ::close(fd);
        return out;
    }
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
