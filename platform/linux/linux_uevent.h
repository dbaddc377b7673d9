#pragma once
#include "platform/linux/linux_fault.h"
#include "platform/uevent.h"

// The kernel's kobject uevents on a netlink socket (multicast group 1).
class LinuxUeventSource : public UeventSource {
public:
    LinuxUeventSource();
    ~LinuxUeventSource() override;
    LinuxUeventSource(const LinuxUeventSource&) = delete;
    LinuxUeventSource& operator=(const LinuxUeventSource&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    // The message is followed by a NUL inside buf, so its header can be
    // taken as a C string even when the kernel's message was cut at cap.
    long receive(char* buf, size_t cap, int timeoutMs) override;
    void interrupt() override;

private:
    int m_fd = -1;
    int m_stopFd = -1;  // an eventfd, readable once interrupted
    FaultNote m_receiveFault;
};
