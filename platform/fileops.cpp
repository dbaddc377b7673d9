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

#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <string>

namespace {

QString q(const std::string& devicePath) { return QString::fromStdString(Root::path(devicePath)); }

void syncFolderOf(const QString& file) {
    const QByteArray dir = QFileInfo(file).absolutePath().toLocal8Bit();
    int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
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

bool readFile(const std::string& devicePath, QByteArray& out) {
    QFile f(q(devicePath));
    if (!f.open(QIODevice::ReadOnly)) return false;
    out = f.readAll();
    return f.error() == QFileDevice::NoError;
}

bool exists(const std::string& devicePath) { return QFileInfo::exists(q(devicePath)); }

bool makeDirs(const std::string& devicePath) {
    if (QFileInfo(q(devicePath)).isDir()) return true;
    return !readOnlyAt(devicePath) && QDir().mkpath(q(devicePath));
}

bool copyFile(const std::string& fromDevicePath, const std::string& toDevicePath) {
    QByteArray data;
    if (!readFile(fromDevicePath, data)) return false;
    return writeFileAtomic(toDevicePath, data);
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
    int fd = ::open(Root::path(devicePath).c_str(), O_RDONLY);
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
