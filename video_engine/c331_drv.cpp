#include "video_engine/c331_drv.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"
#include "platform/gpio.h"
#include "platform/spi.h"

#include <QMutexLocker>

#include <cstdio>

namespace {
constexpr u32 kWriteHz = 10000000;
constexpr u32 kReadHz = 5000000;
}  // namespace

c331_drv::c331_drv()
    : m_failureLines(LineLimiter::logCount(ERROR, "c331", "SPI failures and status time-outs")) {
    writeLogMsg(INFO, "====c331_drv::c331_drv()=====");
    m_cachedBank = -1;
}

c331_drv::~c331_drv() = default;

int c331_drv::initialize() {
    m_dev = Board::get().openSpi(c331reg::kSpiDevice);
    if (!m_dev || !m_dev->isOpen()) {
        writeLogMsg(ERROR, std::string("c331: can't open ") + c331reg::kSpiDevice);
        m_fd = -1;
        return m_fd;
    }
    if (m_dev->configure(3, kWriteHz, 8) != 0)
        writeLogMsg(ERROR, std::string("c331: can't set SPI mode 3 / 8 bits / 10 MHz on ") + c331reg::kSpiDevice);
    m_fd = 0;
    m_cachedBank = -1;
    return m_fd;
}

bool c331_drv::isOpen() const { return m_dev && m_dev->isOpen() && m_fd >= 0; }

void c331_drv::init_reg_acc_param() {
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    m_cachedBank = -1;
}

void c331_drv::reportFailure(const char* what, LogPlace at) {
    m_failures.fetch_add(1);
    logLimited(std::string("c331: can't send spi message (") + what + ")", at);
}

void c331_drv::logLimited(const std::string& text, LogPlace at) {
    m_failureLines.occur([&] { writeLogMsg(ERROR, text, at); });
}

int c331_drv::transfer(int fd, const u8* tx, u8* rx, int len, u32 hz) {
    if (len <= 0) return 0;
    int result = -1;
    const bool usable = fd >= 0 && fd == m_fd && isOpen();
    if (usable) {
        QMutexLocker lock(&Utils::_spi_mutex);
        // The chip shares the bus with the FPGAs: make sure neither is selected.
        GpioLines& gpio = Board::get().gpio();
        gpio.setLine(GpioName::kFpga0Select, 1);
        gpio.setLine(GpioName::kFpga1Select, 1);
        m_dev->configure(3, hz, 8);
        result = m_dev->transfer(tx, rx, u32(len)) == 0 ? len : -1;
    }
    if (result <= 0) {
        if (rx) std::fill(rx, rx + len, u8(0));
        reportFailure(usable ? "transfer" : "device not open");
    }
    return result;
}

int c331_drv::SPI_Transfer(int fd, const u8* tx, u8* rx, int len) { return transfer(fd, tx, rx, len, kReadHz); }

int c331_drv::SPI_Transfer_Write(int fd, const u8* tx, int len) { return transfer(fd, tx, nullptr, len, kWriteHz); }

bool c331_drv::selectBank(int fd, int bank) {
    if (bank == m_cachedBank) return true;
    const u8 frame[2] = {0x80, u8(bank)};
    if (SPI_Transfer_Write(fd, frame, 2) > 0) {
        m_cachedBank = bank;
        return true;
    }
    // The chip may or may not have switched: select again next time.
    m_cachedBank = -1;
    return false;
}

void c331_drv::write_C331(int fd, u32 code, u32 value, u32 base) {
    const int bank = int((c331reg::bankOf(code) + base) & 0xFF);
    const u32 reg = c331reg::regOf(code);
    const u32 n = c331reg::widthOf(code);
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    if (!selectBank(fd, bank)) return;
    for (u32 i = 0; i < n; ++i) {
        const u8 r = u8((reg + i) & 0x7F);
        const u8 frame[2] = {u8(0x80 | r), u8(i < 4 ? (value >> (8 * i)) & 0xFF : 0)};
        const bool sent = SPI_Transfer_Write(fd, frame, 2) > 0;
        // Register 0 is the bank selection itself: the chip now has the bank
        // just written, so the cache follows it.
        if (r == 0) m_cachedBank = sent ? frame[1] : -1;
    }
}

u32 c331_drv::read_C331(int fd, u32 code, u32 base) {
    const int bank = int((c331reg::bankOf(code) + base) & 0xFF);
    const u32 reg = c331reg::regOf(code);
    const u32 n = c331reg::widthOf(code);
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    if (!selectBank(fd, bank)) return 0;
    u32 value = 0;
    for (u32 i = 0; i < n; ++i) {
        const u8 tx[2] = {u8((reg + i) & 0x7F), 0xFF};
        u8 rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0) rx[1] = 0;
        if (i < 4) value |= u32(rx[1]) << (8 * i);
    }
    return value;
}

void c331_drv::write_c331_mask(int fd, u32 code, u32 value, u32 mask, u32 base) {
    const u32 old = read_C331(fd, code, base);
    write_C331(fd, code, (old & ~mask) | (value & mask), base);
}

int c331_drv::wait_c331_bits_for(int fd, u32 code, u32 mask, u32 want, u32 boundMs) {
    if (!isOpen() || fd != m_fd) return 255;
    constexpr u32 kBackToBack = 100;
    auto reached = [&] { return (read_C331(fd, code) & mask) == (want & mask); };
    for (u32 i = 0; i < kBackToBack; ++i)
        if (reached()) return 0;
    // A FIFO empties within the first pauses; an erase of seconds is read
    // every 2 ms, not every 100 us.
    return Utils::pollUntil(boundMs, reached, 100, 2000) ? 0 : 255;
}
