#pragma once
#include "platform/linux/linux_fault.h"
#include "platform/serial.h"

#include <string>

// A tty set up raw, 8N1, without flow control. A rate the tty layer has no
// constant for leaves the port closed.
class LinuxSerialPort : public SerialPort {
public:
    LinuxSerialPort(const std::string& hostPath, int baud);
    ~LinuxSerialPort() override;
    LinuxSerialPort(const LinuxSerialPort&) = delete;
    LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    int descriptor() const override { return m_fd; }
    long readTimeout(uint8_t* buf, size_t cap, int timeoutMs) override;
    long write(const uint8_t* data, size_t len) override;
    void drain() override;
    int setRts(bool on) override;

    // The termios speed constant of a rate, or 0 when there is none.
    static unsigned speedConstant(int baud);

private:
    std::string m_path;
    int m_fd = -1;
    FaultNote m_readFault;
    FaultNote m_writeFault;
    FaultNote m_rtsFault;
};
