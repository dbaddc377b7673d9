#pragma once
// The SPI link to the two output FPGAs and the NOR flash behind each.
//
// The driver owns the four spidev devices; a descriptor is the device's
// index (0/1 FPGA bus, 2/3 flash of FPGA 0/1), -1 when it did not open.
// The select, command and flash-select lines are driven through the board's
// GPIO lines. Every flash operation holds Utils::_spi_mutex from its first
// line change to its last, so it never interleaves with a register access
// or a c331 transfer.
#include "core/global.h"
#include "platform/linux/linux_fault.h"

#include <memory>

class SpiDevice;

class fpga_drv {
public:
    fpga_drv();
    ~fpga_drv();
    fpga_drv(const fpga_drv&) = delete;
    fpga_drv& operator=(const fpga_drv&) = delete;

    // Opens and configures device `index` (mode 3, 10 MHz, 8 bits); the
    // descriptor, or -1 when the open did not succeed.
    int initialize_vbyne1(int index);

    // One message of len bytes; len on success, -1 on failure (logged once
    // until the next success). A failed read leaves rx zeroed.
    int SPI_Transfer(int fd, const u8* tx, u8* rx, int len);
    int SPI_Transfer_Write(int fd, const u8* tx, int len);

    // Polls the flash status until its busy bit clears; false when a
    // transfer fails or it is still busy after boundMs of the platform clock
    // (logged). The caller holds the SPI mutex and the lines.
    bool FPGA_SPI_WAIT_BUSY(int fd, u32 boundMs, u32 pollUs);

    // Flash index 2: the flash behind FPGA 0, any other: FPGA 1.
    // Erase `count` blocks of type 0/1/2 (4, 32, 64 KB) from 4 KB sector
    // `sector`; 1 when done, 0 when refused (nothing touched) or failed.
    u8 FPGA_SPI_FLASH_VBYONE_ERASE(u8 flash, u32 sector, u8 type, u32 count);
    // Programs len data bytes that start at buffer + 4 (the caller leaves
    // four bytes of room in front, as the callers always have); the buffer
    // is only read. 1 when done, 0 when refused or failed.
    u8 FPGA_SPI_FLASH_VBYONE_WRITE(u8 flash, u32 address, const u8* buffer, u32 len);
    // Reads len bytes into dst; 1 when done, 0 when refused or failed.
    u8 FPGA_SPI_FLASH_VBYONE_READ(u8 flash, u32 address, u32 len, u8* dst);
    // The flash's 8-byte unique id; 1 when read, 0 when the transfer failed.
    u8 FPGA_SPI_FLASH_SSTF016B_RD_UID(u8 flash, u8* dst);

    // The erase and the program above, done only when the flash reads back
    // what was asked: every byte of the blocks erased, the bytes programmed.
    // A flash whose protection bits cover the place takes the commands and
    // keeps its bytes, and a program over bytes not erased clears bits
    // only; both answer false here. Whatever the program stores in a flash
    // goes through these two, so nothing is called stored that was not.
    bool erase_verified(u8 flash, u32 sector, u8 type, u32 count);
    bool program_verified(u8 flash, u32 address, const u8* buffer, u32 len);

    // How long a flash may stay busy: page program and write enable, a
    // 4 KB erase, a 32 or 64 KB erase.
    static constexpr u32 kProgramBoundMs = 20;
    static constexpr u32 kErase4kBoundMs = 1000;
    static constexpr u32 kEraseBlockBoundMs = 4000;

private:
    struct FlashLines;
    bool valid(int fd) const;
    int transfer(int fd, const u8* tx, u8* rx, int len);
    // Selects the flash's lines (caller holds the SPI mutex); returns its
    // descriptor.
    int selectFlash(u8 flash);
    void releaseFlash(u8 flash);

    std::unique_ptr<SpiDevice> m_dev[4];
    FaultNote m_transferFault[4];
    FaultNote m_busyFault[4];
};
