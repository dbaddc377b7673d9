#include "platform/linux/linux_i2c.h"

#include "platform/linux/linux_fault.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {
// The kernel refuses longer combined transfers.
constexpr int kMaxMessages = 42;

std::string hex2(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}
}  // namespace

LinuxI2cBus::LinuxI2cBus(const std::string& hostPath) : m_path(hostPath) {
    for (auto& n : m_nackNoted) n.store(false);
    m_fd = ::open(hostPath.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) writeLogMsgFor(m_path, ERROR, linuxfault::describe("I2C open", m_path, errno));
}

LinuxI2cBus::~LinuxI2cBus() {
    if (m_fd >= 0) ::close(m_fd);
}

int LinuxI2cBus::transfer(I2cMsg* msgs, int count) {
    if (m_fd < 0) return -1;
    if (!msgs || count <= 0 || count > kMaxMessages) {
        writeLogMsgFor(m_path, ERROR, "I2C transfer " + m_path + ": " + std::to_string(count) + " messages refused");
        return -1;
    }
    i2c_msg km[kMaxMessages];
    for (int i = 0; i < count; ++i) {
        // A caller's 8-bit address or a null buffer would reach the wrong
        // chip or make the kernel fault the request; refuse both here.
        if (msgs[i].addr > 0x7F || (msgs[i].len && !msgs[i].buf)) {
            writeLogMsgFor(m_path + " " + hex2(msgs[i].addr), ERROR,
                           "I2C transfer " + m_path + ": bad message to address " + hex2(msgs[i].addr));
            return -1;
        }
        km[i].addr = msgs[i].addr;
        km[i].flags = (msgs[i].flags & I2cMsg::Read) ? I2C_M_RD : 0;
        km[i].len = msgs[i].len;
        km[i].buf = msgs[i].buf;
    }
    i2c_rdwr_ioctl_data data;
    data.msgs = km;
    data.nmsgs = uint32_t(count);
    const int r = ::ioctl(m_fd, I2C_RDWR, &data);
    const unsigned addr = msgs[0].addr;
    if (r != count) {
        const int err = r < 0 ? errno : 0;
        // Each chip its own place: every absent chip of a start is named,
        // however many.
        if (!m_nackNoted[addr].exchange(true))
            writeLogMsgFor(m_path + " " + hex2(addr << 1), ERROR,
                           linuxfault::describe("I2C transfer to " + hex2(addr << 1) + " on", m_path, err));
        return -1;
    }
    m_nackNoted[addr].store(false, std::memory_order_relaxed);
    return count;
}
