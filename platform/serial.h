#pragma once
#include <cstddef>
#include <cstdint>

// A serial tty set up raw (8N1, no flow control) at a baud rate.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool isOpen() const = 0;
    // The descriptor a reader waits on in poll() for input (-1: closed).
    virtual int descriptor() const = 0;
    // Waits at most timeoutMs for data; bytes read, 0 on time-out, -1 on error.
    virtual long readTimeout(uint8_t* buf, size_t cap, int timeoutMs) = 0;
    virtual long write(const uint8_t* data, size_t len) = 0;  // bytes or -1
    virtual void drain() = 0;                                   // tcdrain
    // RS-485 direction: RTS asserted while the line is driven.
    virtual int setRts(bool on) = 0;
};
