#include "platform/fileops.h"

#include "platform/root.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace {

QString q(const std::string& devicePath) { return QString::fromStdString(Root::path(devicePath)); }

void syncFolderOf(const QString& file) {
    const QByteArray dir = QFileInfo(file).absolutePath().toLocal8Bit();
    int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A test seam: a question about device paths, set and removed from any
// thread, asked by the file operations only while set.
class PathSeam {
public:
    void set(std::function<bool(const std::string&)> ask) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set.store(bool(ask));
        m_ask = std::move(ask);
    }
    bool operator()(const std::string& devicePath) {
        if (!m_set.load()) return false;
        std::function<bool(const std::string&)> ask;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ask = m_ask;
        }
        return ask && ask(devicePath);
    }

private:
    std::mutex m_mutex;
    std::function<bool(const std::string&)> m_ask;
    std::atomic<bool> m_set{false};
};

PathSeam g_cutBeforeRename;
PathSeam g_readOnly;

bool cutHere(const std::string& devicePath) { return g_cutBeforeRename(devicePath); }

bool readOnlyAt(const std::string& devicePath) {
    if (!g_readOnly(devicePath)) return false;
    errno = EROFS;
    return true;
}

// "64 KiB", "1 MiB", "4098 bytes".
std::string sizeText(long long bytes) {
    if (bytes > 0 && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes > 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

const char* kindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISLNK(mode)) return "a link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device node";
    if (S_ISSOCK(mode)) return "a socket";
    return "something";
}

// Closes the descriptor it holds unless it is handed on.
struct OwnedFd {
    int fd;
    ~OwnedFd() {
        if (fd >= 0) ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// Opens without waiting for a writer (a FIFO) or a carrier (a terminal),
// then judges what was opened, not the name: what a name pointed to when it
// was looked at may be something else by the open.
int openRegular(const std::string& host, FileOps::Links links, FileOps::FileRead& found, struct stat& st) {
    using FileOps::FileRead;
    const bool refuseLinks = links == FileOps::Links::Refuse;
    OwnedFd owned{::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (refuseLinks ? O_NOFOLLOW : 0))};
    if (owned.fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            found = {FileRead::Missing, "missing"};
        else if (e == ELOOP && refuseLinks)
            found = {FileRead::NotAFile, "a link, not a regular file"};
        else
            found = {FileRead::Failed, std::string("the open failed: ") + std::strerror(e)};
        return -1;
    }
    if (::fstat(owned.fd, &st) != 0) {
        found = {FileRead::Failed, std::string("its status cannot be read: ") + std::strerror(errno)};
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        found = {FileRead::NotAFile, std::string(kindOf(st.st_mode)) + ", not a regular file"};
        return -1;
    }
    // Reads of a regular file never wait for a writer; the flag goes so the
    // caller has the plain file it asked for.
    const int flags = ::fcntl(owned.fd, F_GETFL);
    if (flags < 0 || ::fcntl(owned.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        found = {FileRead::Failed, std::string("the open failed: ") + std::strerror(errno)};
        return -1;
    }
    found = {FileRead::Read, ""};
    return owned.release();
}

}  // namespace

namespace FileOps {

std::string temporaryPathFor(const std::string& devicePath) {
    // Unique in the process by the serial, across processes by the pid.
    static std::atomic<unsigned> serial{0};
    return QFile::encodeName(q(devicePath)).toStdString() + ".new" + std::to_string(::getpid()) + "-" +
           std::to_string(serial.fetch_add(1));
}

bool isTemporaryName(const std::string& name) {
    // Only digits and "-" may follow the ".new", so the last one is the one.
    const size_t at = name.rfind(".new");
    if (at == std::string::npos || at == 0) return false;
    size_t i = at + 4;
    auto digits = [&] {
        const size_t from = i;
        while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
        return i > from;
    };
    if (!digits() || i >= name.size() || name[i] != '-') return false;
    ++i;
    return digits() && i == name.size();
}

void setCutBeforeRename(std::function<bool(const std::string&)> cut) { g_cutBeforeRename.set(std::move(cut)); }

void setReadOnly(std::function<bool(const std::string&)> readOnly) { g_readOnly.set(std::move(readOnly)); }

bool writeFileAtomic(const std::string& devicePath, const void* data, size_t len) {
    if (readOnlyAt(devicePath)) return false;
    const QString target = q(devicePath);
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QByteArray path = QFile::encodeName(target);
    // Beside its place, under a name no other writer (thread or process) uses.
    const std::string tmp = temporaryPathFor(devicePath);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat old;
    if (::stat(path.constData(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);  // keeps its permissions
    const char* p = static_cast<const char*>(data);
    size_t left = len;
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    // Any failure before the rename leaves the old file whole: renaming a
    // file whose data never reached the disk would put the defaults in its
    // place after a power cut. One sync of the data, one of the folder.
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && cutHere(devicePath)) return false;
    if (!ok || ::rename(tmp.c_str(), path.constData()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    syncFolderOf(target);
    return true;
}

bool writeFileAtomic(const std::string& devicePath, const QByteArray& data) {
    return writeFileAtomic(devicePath, data.constData(), size_t(data.size()));
}

int openForRead(const std::string& devicePath, FileRead& found, Links links) {
    struct stat st {};
    return openRegular(Root::path(devicePath), links, found, st);
}

FileRead readFile(const std::string& devicePath, QByteArray& out, long long maxBytes) {
    return readFileOnHost(Root::path(devicePath), out, maxBytes);
}

FileRead readFileOnHost(const std::string& hostPath, QByteArray& out, long long maxBytes) {
    out.clear();
    FileRead found;
    struct stat st {};
    const OwnedFd owned{openRegular(hostPath, Links::Follow, found, st)};
    if (owned.fd < 0) return found;
    auto notRead = [&](FileRead why) {
        out.clear();
        return why;
    };
    maxBytes = std::max(maxBytes, 0LL);
    const FileRead tooLarge{FileRead::TooLarge, "larger than " + sizeText(maxBytes)};
    if (st.st_size > maxBytes) return notRead(tooLarge);
    // Up to one byte past the limit: a file that grew since its size was
    // taken is still never read whole.
    char buf[65536];
    for (;;) {
        const size_t want = size_t(std::min<long long>(sizeof buf, maxBytes + 1 - out.size()));
        const ssize_t n = ::read(owned.fd, buf, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return notRead({FileRead::Failed, std::string("a read failed: ") + std::strerror(errno)});
        if (n == 0) return found;
        out.append(buf, int(n));
        if (out.size() > maxBytes) return notRead(tooLarge);
    }
}

bool exists(const std::string& devicePath) { return QFileInfo::exists(q(devicePath)); }

std::string kindAt(const std::string& devicePath) {
    struct stat st {};
    return ::lstat(Root::path(devicePath).c_str(), &st) == 0 ? kindOf(st.st_mode) : "";
}

bool makeDirs(const std::string& devicePath) {
    if (QFileInfo(q(devicePath)).isDir()) return true;
    return !readOnlyAt(devicePath) && QDir().mkpath(q(devicePath));
}

bool removePath(const std::string& devicePath) {
    const QString p = q(devicePath);
    QFileInfo fi(p);
    if (!fi.exists() && !fi.isSymLink()) return true;
    if (readOnlyAt(devicePath)) return false;
    if (fi.isDir() && !fi.isSymLink()) return QDir(p).removeRecursively();
    return QFile::remove(p);
}

bool removeDurably(const std::string& devicePath) {
    const bool gone = removePath(devicePath);
    syncFolderOf(q(devicePath));
    return gone;
}

bool renamePath(const std::string& fromDevicePath, const std::string& toDevicePath) {
    if (readOnlyAt(fromDevicePath) || readOnlyAt(toDevicePath)) return false;
    const QByteArray from = q(fromDevicePath).toLocal8Bit();
    const QByteArray to = q(toDevicePath).toLocal8Bit();
    if (::rename(from.constData(), to.constData()) != 0) return false;
    syncFolderOf(QString::fromLocal8Bit(to));
    return true;
}

bool setPermissions(const std::string& devicePath, unsigned mode) {
    return ::chmod(Root::path(devicePath).c_str(), mode_t(mode)) == 0;
}

bool setSyncFlag(const std::string& devicePath) {
    // Only a regular file has the flag; a FIFO left in its place must not
    // hold the open.
    FileRead found;
    const int fd = openForRead(devicePath, found);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags |= FS_SYNC_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

void syncAll() { ::sync(); }

}  // namespace FileOps
