#include "platform/linux/linux_mtd.h"

#include "platform/linux/linux_fault.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LinuxMtdDevice::LinuxMtdDevice(const std::string& hostPath) : m_path(hostPath) {
    m_fd = ::open(hostPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (m_fd < 0) writeLogMsgFor(m_path, ERROR, linuxfault::describe("MTD open", m_path, errno));
}

LinuxMtdDevice::~LinuxMtdDevice() {
    if (m_fd >= 0) ::close(m_fd);
}

int LinuxMtdDevice::getInfo(MtdInfo& info) {
    if (m_fd < 0) return -1;
    mtd_info_user mi;
    std::memset(&mi, 0, sizeof mi);
    if (::ioctl(m_fd, MEMGETINFO, &mi) != 0) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("MEMGETINFO", m_path, errno));
        return -1;
    }
    info.type = mi.type;
    info.flags = mi.flags;
    info.size = mi.size;
    info.erasesize = mi.erasesize;
    info.writesize = mi.writesize;
    return 0;
}

int LinuxMtdDevice::unlock(uint32_t start, uint32_t length) {
    if (m_fd < 0) return -1;
    erase_info_user ei{start, length};
    if (::ioctl(m_fd, MEMUNLOCK, &ei) != 0) {
        // Flashes without lock bits answer "not supported": nothing was
        // locked, so the erase that follows may go ahead.
        if (errno == EOPNOTSUPP || errno == ENOTTY) return 0;
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("MEMUNLOCK", m_path, errno));
        return -1;
    }
    return 0;
}

int LinuxMtdDevice::erase(uint32_t start, uint32_t length) {
    if (m_fd < 0) return -1;
    erase_info_user ei{start, length};
    if (::ioctl(m_fd, MEMERASE, &ei) != 0) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("MEMERASE", m_path, errno));
        return -1;
    }
    return 0;
}

long LinuxMtdDevice::pwrite(const void* data, size_t len, uint64_t offset) {
    if (m_fd < 0) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pwrite(m_fd, p + done, len - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            writeLogMsgFor(m_path, ERROR, linuxfault::describe("MTD write", m_path, errno));
            return done ? long(done) : -1;
        }
        if (n == 0) break;  // end of the partition: the caller sees the short count
        done += size_t(n);
    }
    return long(done);
}

long LinuxMtdDevice::pread(void* data, size_t len, uint64_t offset) {
    if (m_fd < 0) return -1;
    uint8_t* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pread(m_fd, p + done, len - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            writeLogMsgFor(m_path, ERROR, linuxfault::describe("MTD read", m_path, errno));
            return done ? long(done) : -1;
        }
        if (n == 0) break;  // end of the partition
        done += size_t(n);
    }
    return long(done);
}
