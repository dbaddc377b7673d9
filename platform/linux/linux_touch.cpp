#include "platform/linux/linux_touch.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>

LinuxTouchSource::LinuxTouchSource(const std::string& hostPath) : m_path(hostPath) {
    m_fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) writeLogMsgFor(m_path, ERROR, linuxfault::describe("touch open", m_path, errno));
}

LinuxTouchSource::~LinuxTouchSource() {
    if (m_fd >= 0) ::close(m_fd);
}

bool LinuxTouchSource::takeActivity() {
    if (m_fd < 0) return false;
    bool any = false;
    input_event ev[16];
    // Drain everything queued so one touch is not reported over many ticks;
    // the bound keeps a flood of events from holding the caller.
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::read(m_fd, ev, sizeof ev);
        if (n >= ssize_t(sizeof(input_event))) {
            any = true;
            if (size_t(n) < sizeof ev) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            m_readFault.fail(m_path, linuxfault::describe("touch read", m_path, errno));
            return any;
        }
        break;
    }
    m_readFault.ok();
    return any;
}
