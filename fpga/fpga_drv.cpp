#include "fpga/fpga_drv.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_regs.h"
#include "platform/board.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace fpgareg;

namespace {
// First status polls while a flash works, growing eightfold: a page program
// takes well under a millisecond, an erase tens to hundreds.
constexpr u32 kProgramPollUs = 50;
constexpr u32 kErasePollUs = 500;

bool isFlash0(u8 flash) { return flash == 2; }
}  // namespace

fpga_drv::fpga_drv() { writeLogMsg(INFO, "====fpga_drv::fpga_drv()====="); }

fpga_drv::~fpga_drv() = default;

int fpga_drv::initialize_vbyne1(int index) {
    if (index < 0 || index > 3) return -1;
    m_dev[index] = Board::get().openSpi(kSpiDevices[index]);
    if (!m_dev[index] || !m_dev[index]->isOpen()) {
        writeLogMsgFor(kSpiDevices[index], ERROR, std::string("fpga_drv: can't open ") + kSpiDevices[index]);
        return -1;
    }
    debugPrintf("\n fpga_drv SPI - Open Succeed. Start Init SPI...");
    // The backend writes each setting, reads it back and logs what failed;
    // the device is used regardless, as a later transfer shows the fault.
    if (m_dev[index]->configure(kSpiMode, kSpiHz, kSpiBits) != 0) debugPrintf("can't set spi mode\n");
    return index;
}

bool fpga_drv::valid(int fd) const { return fd >= 0 && fd < 4 && m_dev[fd] && m_dev[fd]->isOpen(); }

int fpga_drv::transfer(int fd, const u8* tx, u8* rx, int len) {
    if (len <= 0) return 0;
    if (valid(fd) && m_dev[fd]->transfer(tx, rx, u32(len)) == 0) {
        m_transferFault[fd].ok();
        return len;
    }
    if (rx) std::fill(rx, rx + len, u8(0));
    const int slot = fd >= 0 && fd < 4 ? fd : 0;
    const char* device = fd >= 0 && fd < 4 ? kSpiDevices[fd] : "a device that did not open";
    m_transferFault[slot].fail(device, std::string("can't send spi message on ") + device);
    return -1;
}

int fpga_drv::SPI_Transfer(int fd, const u8* tx, u8* rx, int len) { return transfer(fd, tx, rx, len); }

int fpga_drv::SPI_Transfer_Write(int fd, const u8* tx, int len) { return transfer(fd, tx, nullptr, len); }

bool fpga_drv::FPGA_SPI_WAIT_BUSY(int fd, u32 boundMs, u32 pollUs) {
    const u8 tx[2] = {FL_STATUS, 0xFF};
    bool failed = false, busy = true;
    Utils::pollUntil(
        boundMs,
        [&] {
            u8 rx[2] = {};
            failed = transfer(fd, tx, rx, 2) <= 0;
            busy = rx[1] & FL_STATUS_BUSY;
            return failed || !busy;
        },
        pollUs, 8 * pollUs);
    if (failed) return false;
    if (!busy) {
        if (fd >= 0 && fd < 4) m_busyFault[fd].ok();
        return true;
    }
    m_busyFault[fd].fail(kSpiDevices[fd], std::string("fpga flash ") + kSpiDevices[fd] + " still busy after " +
                                              std::to_string(boundMs) + " ms; operation abandoned");
    return false;
}

int fpga_drv::selectFlash(u8 flash) {
    GpioLines& gpio = Board::get().gpio();
    if (isFlash0(flash)) {
        gpio.setLine(GpioName::kFpga1Select, 1);
        gpio.setLine(GpioName::kFpga0Select, 0);
        gpio.setLine(GpioName::kFpga0FlashSelect, 0);
        return 2;
    }
    gpio.setLine(GpioName::kFpga0Select, 1);
    gpio.setLine(GpioName::kFpga1Select, 0);
    gpio.setLine(GpioName::kFpga1FlashSelect, 0);
    return 3;
}

void fpga_drv::releaseFlash(u8 flash) {
    GpioLines& gpio = Board::get().gpio();
    gpio.setLine(isFlash0(flash) ? GpioName::kFpga0FlashSelect : GpioName::kFpga1FlashSelect, 1);
    gpio.setLine(GpioName::kFpga0Select, 1);
    gpio.setLine(GpioName::kFpga1Select, 1);
}

u8 fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(u8 flash, u32 sector, u8 type, u32 count) {
    static const u8 kCommand[3] = {FL_ERASE_4K, FL_ERASE_32K, FL_ERASE_64K};
    static const u32 kSectors[3] = {1, 8, 16};
    if (type > 2) return 0;
    if (u64(sector) + u64(count) * kSectors[type] > kSectorCount) return 0;
    const u32 bound = type == 0 ? kErase4kBoundMs : kEraseBlockBoundMs;
    QMutexLocker lock(&Utils::_spi_mutex);
    const int fd = selectFlash(flash);
    bool ok = FPGA_SPI_WAIT_BUSY(fd, bound, kErasePollUs);
    u32 address = sector * kSectorSize;
    for (u32 i = 0; ok && i < count; ++i, address += kSectors[type] * kSectorSize) {
        const u8 we = FL_WRITE_ENABLE;
        const u8 cmd[4] = {kCommand[type], u8(address >> 16), u8(address >> 8), 0};
        ok = transfer(fd, &we, nullptr, 1) > 0 && FPGA_SPI_WAIT_BUSY(fd, kProgramBoundMs, kProgramPollUs) &&
             transfer(fd, cmd, nullptr, 4) > 0 && FPGA_SPI_WAIT_BUSY(fd, bound, kErasePollUs);
    }
    releaseFlash(flash);
    return ok ? 1 : 0;
}

u8 fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(u8 flash, u32 address, const u8* buffer, u32 len) {
    if (len == 0 || !buffer || u64(address) + len > kFlashSize) return 0;
    const u8* data = buffer + 4;
    u8 cmd[4 + kFlashPage];
    QMutexLocker lock(&Utils::_spi_mutex);
    const int fd = selectFlash(flash);
    bool ok = true;
    u32 done = 0;
    while (ok && done < len) {
        const u32 a = address + done;
        const u32 chunk = std::min(len - done, kFlashPage - a % kFlashPage);
        const u8 we = FL_WRITE_ENABLE;
        cmd[0] = FL_PROGRAM;
        cmd[1] = u8(a >> 16);
        cmd[2] = u8(a >> 8);
        cmd[3] = u8(a);
        std::memcpy(cmd + 4, data + done, chunk);
        ok = transfer(fd, &we, nullptr, 1) > 0 && transfer(fd, cmd, nullptr, int(4 + chunk)) > 0 &&
             FPGA_SPI_WAIT_BUSY(fd, kProgramBoundMs, kProgramPollUs);
        done += chunk;
    }
    releaseFlash(flash);
    return ok ? 1 : 0;
}

u8 fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(u8 flash, u32 address, u32 len, u8* dst) {
    if (len == 0 || !dst || u64(address) + len > kFlashSize) return 0;
    std::vector<u8> tx(5 + kFlashChunk, 0xFF), rx(5 + kFlashChunk);
    QMutexLocker lock(&Utils::_spi_mutex);
    const int fd = selectFlash(flash);
    bool ok = true;
    for (u32 done = 0; ok && done < len;) {
        const u32 a = address + done;
        const u32 chunk = std::min(len - done, kFlashChunk);
        tx[0] = FL_FAST_READ;
        tx[1] = u8(a >> 16);
        tx[2] = u8(a >> 8);
        tx[3] = u8(a);
        tx[4] = 0;  // dummy
        ok = transfer(fd, tx.data(), rx.data(), int(5 + chunk)) > 0;
        if (ok) std::memcpy(dst + done, rx.data() + 5, chunk);
        done += chunk;
    }
    releaseFlash(flash);
    return ok ? 1 : 0;
}

u8 fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(u8 flash, u8* dst) {
    if (!dst) return 0;
    u8 tx[5 + kUidLength] = {FL_UID, 0, 0, 0, 0};
    std::fill(tx + 5, tx + sizeof tx, u8(0xFF));
    u8 rx[sizeof tx] = {};
    QMutexLocker lock(&Utils::_spi_mutex);
    const int fd = selectFlash(flash);
    const bool ok = transfer(fd, tx, rx, int(sizeof tx)) > 0;
    releaseFlash(flash);
    if (ok) std::memcpy(dst, rx + 5, kUidLength);
    return ok ? 1 : 0;
}

bool fpga_drv::erase_verified(u8 flash, u32 sector, u8 type, u32 count) {
    static const u32 kSectors[3] = {1, 8, 16};
    if (FPGA_SPI_FLASH_VBYONE_ERASE(flash, sector, type, count) != 1) return false;
    std::vector<u8> back(kSectorSize);
    const u32 sectors = count * kSectors[type];
    for (u32 s = sector; s < sector + sectors; ++s) {
        if (FPGA_SPI_FLASH_VBYONE_READ(flash, s * kSectorSize, kSectorSize, back.data()) != 1) return false;
        if (std::any_of(back.begin(), back.end(), [](u8 b) { return b != 0xFF; })) return false;
    }
    return true;
}

bool fpga_drv::program_verified(u8 flash, u32 address, const u8* buffer, u32 len) {
    if (FPGA_SPI_FLASH_VBYONE_WRITE(flash, address, buffer, len) != 1) return false;
    std::vector<u8> back(len);
    return FPGA_SPI_FLASH_VBYONE_READ(flash, address, len, back.data()) == 1 &&
           std::memcmp(back.data(), buffer + 4, len) == 0;
}
