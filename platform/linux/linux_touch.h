#pragma once
#include "platform/linux/linux_fault.h"
#include "platform/touch.h"

#include <string>

// An evdev node read non-blocking: any event since the last look counts as
// activity.
class LinuxTouchSource : public TouchSource {
public:
    explicit LinuxTouchSource(const std::string& hostPath);
    ~LinuxTouchSource() override;
    LinuxTouchSource(const LinuxTouchSource&) = delete;
    LinuxTouchSource& operator=(const LinuxTouchSource&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    bool takeActivity() override;

private:
    std::string m_path;
    int m_fd = -1;
    FaultNote m_readFault;
};
