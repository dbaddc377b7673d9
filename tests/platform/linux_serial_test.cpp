// The real serial backend against a pseudo-terminal pair: the port under
// test is the slave side, the test plays the far end on the master.
#include "platform/linux/linux_serial.h"

#include "support/test_env.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        slaveName = name;
    }
    void TearDown() override {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    // Everything the far end receives within the time-out.
    std::vector<uint8_t> masterRead(size_t want, int timeoutMs = 1000) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            uint8_t buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    int master = -1, slave = -1;
    std::string slaveName;
};

TEST_F(SerialPty, SetUpIsRaw8N1AtTheRequestedRate) {
    LinuxSerialPort port(slaveName, 115200);
    ASSERT_TRUE(port.isOpen());
    termios tio;
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    // Rate both ways, eight data bits; no parity, second stop bit, flow
    // control, line editing, echo, signals, input or output processing.
    EXPECT_EQ((Vals{::cfgetospeed(&tio), ::cfgetispeed(&tio), tio.c_cflag & CSIZE,
                    tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tio.c_lflag & (ICANON | ECHO | ISIG),
                    tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), tio.c_oflag & OPOST}),
              (Vals{B115200, B115200, CS8, 0, 0, 0, 0}));

    LinuxSerialPort slow(slaveName, 9600);
    ASSERT_TRUE(slow.isOpen());
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B9600));
}

TEST_F(SerialPty, UnsupportedRateOrMissingNodeLeavesThePortClosed) {
    LinuxSerialPort odd(slaveName, 12345);
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_FALSE(odd.isOpen());
    EXPECT_EQ((Vals{odd.write(b, 4), odd.readTimeout(b, 4, 10), odd.setRts(true)}), (Vals{-1, -1, -1}));
    odd.drain();

    LinuxSerialPort missing("/nonexistent/ttyS9", 115200);
    EXPECT_FALSE(missing.isOpen());
}

TEST_F(SerialPty, EveryByteValuePassesUnchangedBothWays) {
    LinuxSerialPort port(slaveName, 115200);
    ASSERT_TRUE(port.isOpen());
    // A frame of every byte value: CR, XON/XOFF, ^C and 0xFF must all
    // survive, which a cooked or flow-controlled line would not.
    std::vector<uint8_t> frame(256);
    for (int i = 0; i < 256; ++i) frame[size_t(i)] = uint8_t(i);

    ASSERT_EQ(port.write(frame.data(), frame.size()), long(frame.size()));
    port.drain();
    EXPECT_EQ(masterRead(frame.size()), frame);

    ASSERT_EQ(::write(master, frame.data(), frame.size()), ssize_t(frame.size()));
    std::vector<uint8_t> got;
    uint8_t buf[64];
    for (int i = 0; i < 100 && got.size() < frame.size(); ++i) {
        const long n = port.readTimeout(buf, sizeof buf, 100);
        ASSERT_GE(n, 0);
        ASSERT_LE(n, long(sizeof buf));
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, frame);
}

TEST_F(SerialPty, ReadTimesOutWithZeroAndReportsAHangUp) {
    LinuxSerialPort port(slaveName, 115200);
    ASSERT_TRUE(port.isOpen());
    uint8_t buf[16];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.readTimeout(buf, sizeof buf, 120), 0);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    // Once the far end is gone a read must fail, not report "nothing yet"
    // for ever.
    ::close(master);
    master = -1;
    EXPECT_EQ(port.readTimeout(buf, sizeof buf, 100), -1);
}

}  // namespace
