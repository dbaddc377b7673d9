#include "platform/linux/linux_spi.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LinuxSpiDevice::LinuxSpiDevice(const std::string& hostPath) : m_path(hostPath) {
    m_fd = ::open(hostPath.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) writeLogMsgFor(m_path, ERROR, linuxfault::describe("SPI open", m_path, errno));
}

LinuxSpiDevice::~LinuxSpiDevice() {
    if (m_fd >= 0) ::close(m_fd);
}

int LinuxSpiDevice::configure(uint8_t mode, uint32_t speedHz, uint8_t bitsPerWord) {
    if (m_fd < 0) return -1;
    if (mode > 3 || speedHz == 0 || bitsPerWord == 0) {
        writeLogMsgFor(m_path, ERROR, "SPI set-up " + m_path + ": invalid mode, speed or word size");
        return -1;
    }
    // Drivers sharing the bus set their clock before each transfer. The
    // clock travels in every message anyway, so once the device is set up a
    // change of speed alone needs no request.
    if (m_configured && mode == m_mode && bitsPerWord == m_bits) {
        m_speedHz = speedHz;
        return 0;
    }
    // Each setting is written and read back: a controller that silently
    // rounds or refuses a value would otherwise clock the chip wrongly.
    uint8_t m = mode, mBack = 0xFF;
    uint8_t b = bitsPerWord, bBack = 0;
    uint32_t s = speedHz, sBack = 0;
    const char* step = nullptr;
    if (::ioctl(m_fd, SPI_IOC_WR_MODE, &m) < 0) step = "can't set spi mode";
    else if (::ioctl(m_fd, SPI_IOC_RD_MODE, &mBack) < 0) step = "can't get spi mode";
    else if (::ioctl(m_fd, SPI_IOC_WR_BITS_PER_WORD, &b) < 0) step = "can't set bits per word";
    else if (::ioctl(m_fd, SPI_IOC_RD_BITS_PER_WORD, &bBack) < 0) step = "can't get bits per word";
    else if (::ioctl(m_fd, SPI_IOC_WR_MAX_SPEED_HZ, &s) < 0) step = "can't set max speed hz";
    else if (::ioctl(m_fd, SPI_IOC_RD_MAX_SPEED_HZ, &sBack) < 0) step = "can't get max speed hz";
    if (step) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe(step, m_path, errno));
        return -1;
    }
    if ((mBack & 3) != mode || bBack != bitsPerWord || sBack != speedHz) {
        writeLogMsgFor(m_path, ERROR,
                       "SPI set-up " + m_path + ": the controller did not keep mode " + std::to_string(mode) + ", " +
                           std::to_string(bitsPerWord) + " bits, " + std::to_string(speedHz) + " Hz");
        return -1;
    }
    m_speedHz = speedHz;
    m_bits = bitsPerWord;
    m_mode = mode;
    m_configured = true;
    return 0;
}

int LinuxSpiDevice::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) {
    if (m_fd < 0) return -1;
    if (len == 0) return 0;
    spi_ioc_transfer t;
    std::memset(&t, 0, sizeof t);
    t.tx_buf = reinterpret_cast<uintptr_t>(tx);  // null: the controller clocks out zeros
    t.rx_buf = reinterpret_cast<uintptr_t>(rx);
    t.len = len;
    t.speed_hz = m_speedHz;
    t.bits_per_word = m_bits;
    t.delay_usecs = 0;
    t.cs_change = 0;
    // The request answers with the number of bytes moved; anything less than
    // the whole message is a failed transfer, not a short success.
    const int r = ::ioctl(m_fd, SPI_IOC_MESSAGE(1), &t);
    if (r < 0 || uint32_t(r) != len) {
        m_transferFault.fail(m_path, r < 0 ? linuxfault::describe("can't send spi message", m_path, errno)
                                   : "can't send spi message " + m_path + ": short transfer");
        return -1;
    }
    m_transferFault.ok();
    return 0;
}
