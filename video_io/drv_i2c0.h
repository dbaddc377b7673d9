#pragma once
// Access to the board's I2C bus "/dev/i2c-0". The class keeps no state of its
// own: initialize() opens the bus and hands out a descriptor that names it,
// and the transfer operations take that descriptor, so every chip driver of
// the source thread uses them as class-level functions. Addresses are 8-bit
// (write) addresses; the operations shift them right by one.
#include "core/global.h"

#include <atomic>

class Drv_I2C0 {
public:
    static constexpr int kMaxWrite = 255;  // data bytes after the register byte
    static constexpr int kMaxRead = 100;

    // Opens "/dev/i2c-0" and returns its descriptor, negative when the bus
    // cannot be opened (the platform logs why).
    static int initialize();
    // Forgets a descriptor (tests that open a bus of their own).
    static void release(int fd);

    // One transfer of one write message: the register byte, then count data
    // bytes. 1 when every byte was acknowledged, 0 otherwise (also for a
    // count above 255 or an unknown descriptor).
    static int i2c_write(int fd, u8 device, u8 reg, const u8* data, int count);
    // One transfer of two messages: the register byte, then a read of count
    // bytes. 1 on success; 0 otherwise, and data is then untouched.
    static int i2c_read(int fd, u8 device, u8 reg, u8* data, int count);

    // Messages put on any bus since start (benchmark counter).
    static u64 messageCount() { return s_messages.load(); }

private:
    static std::atomic<u64> s_messages;
};
