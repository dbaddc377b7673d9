#pragma once
// Register access to the c331 video processor over SPI. The chip's registers
// are byte-wide and grouped in banks of up to 127; register 0 of every bank
// selects the bank. Every frame on the wire is two bytes:
//   bank selection  {0x80, bank}
//   byte write      {0x80 | register, data}
//   byte read       {register & 0x7F, 0xFF}  (data arrives in the second byte)
// A multi-byte register is a run of byte registers, least significant first.
#include "core/global.h"
#include "core/line_limiter.h"

#include <atomic>
#include <memory>
#include <string>

class SpiDevice;

// Register code: bank << 16 | first register << 8 | width in bytes (1-4).
// Blocks that exist per channel, window or layer repeat 16 banks apart; the
// callers pass 16 x index as the bank base.
namespace c331reg {
constexpr u32 code(u32 bank, u32 reg, u32 width) { return (bank & 0xFF) << 16 | (reg & 0xFF) << 8 | (width & 0xFF); }
constexpr u32 bankOf(u32 c) { return (c >> 16) & 0xFF; }
constexpr u32 regOf(u32 c) { return (c >> 8) & 0xFF; }
constexpr u32 widthOf(u32 c) { return c & 0xFF; }

constexpr const char* kSpiDevice = "/dev/spidev32766.0";
constexpr u32 kBankBaseStep = 16;

constexpr u32 CHIP_ID = 0xB20801;        // reads kChipId on a working chip
constexpr u8 kChipId = 0x24;

// Clock-domain hold and control.
constexpr u32 RTCT_HOLD = 0x002901;      // bit 0 holds the clock-domain registers
constexpr u32 RTCT_FIRST = 0x002201;     // 0x22 .. 0x28, one byte each
// Layer background colour and fill, per layer (bank base 16 x layer).
constexpr u32 LAYER_BKG_COLOR = 0x084903;
constexpr u32 LAYER_BKG_FILL = 0x084801;
// Sync status: bit n set when input / output channel n saw its vertical sync.
constexpr u32 PIVS_REQ = 0x050801;
constexpr u32 POVS_REQ = 0x050901;
constexpr u32 PIVS_STAT = 0x052201;
constexpr u32 POVS_STAT = 0x052301;
// Graphics engine (bank 4): start, busy (bit 0).
constexpr u32 GE_START = 0x040801;
constexpr u32 GE_STATUS = 0x041701;
// Serial-flash controller (bank 4).
constexpr u32 SFL_CTRL = 0x044701;
constexpr u32 SFL_CMD_START = 0x044801;
constexpr u32 SFL_CMD1 = 0x044901;
constexpr u32 SFL_CMD2 = 0x044A01;
constexpr u32 SFL_ERASE_CMD = 0x044B01;
constexpr u32 SFL_WREN_CMD = 0x044C01;
constexpr u32 SFL_RDSR_CMD = 0x044D01;
constexpr u32 SFL_ADDR = 0x044E04;
constexpr u32 SFL_DATA = 0x045201;
constexpr u32 SFL_DTCTL = 0x045301;      // bit 5 write FIFO empty, bit 7 read busy
constexpr u32 SFL_STAT = 0x045401;       // bit 0 DMA busy, bit 1 write busy, bit 3 erase busy
constexpr u32 SFL_RDSR = 0x045501;       // bit 0 WIP, bit 1 WEL
constexpr u32 SFL_DMA_SIZE = 0x045604;
constexpr u32 SFL_DMA_MODE = 0x045A01;
constexpr u32 SFL_MODE = 0x045F01;
constexpr u32 SFL_AUX = 0x046001;
}  // namespace c331reg

class c331_drv {
public:
    c331_drv();
    ~c331_drv();

    // Opens "/dev/spidev32766.0" (SPI mode 3, 8 bits, 10 MHz) and returns the
    // handle every register operation takes; -1 when the device cannot be
    // opened (logged). The register operations then read 0 and write nothing.
    int initialize();
    // Forgets the cached bank so the next access selects its bank again
    // (the chip may have been reset).
    void init_reg_acc_param();

    // One full-duplex transfer (5 MHz) / one write-only transfer (10 MHz)
    // under Utils::_spi_mutex, with both FPGA select lines driven inactive
    // first. Result > 0 on success, <= 0 on failure (logged, rate-limited).
    int SPI_Transfer(int fd, const u8* tx, u8* rx, int len);
    int SPI_Transfer_Write(int fd, const u8* tx, int len);

    void write_C331(int fd, u32 code, u32 value, u32 base = 0);
    // A register whose transfer fails reads as 0.
    u32 read_C331(int fd, u32 code, u32 base = 0);
    // Changes only the bits of mask (read, then write; not atomic against
    // another thread writing the same register).
    void write_c331_mask(int fd, u32 code, u32 value, u32 mask, u32 base = 0);

    // Polls a status register until (value & mask) == want, bounded in time
    // on the board clock, for the flash controller and the graphics engine,
    // whose operations take from microseconds (a FIFO) to seconds (a block
    // erase): 100 reads back to back, then reads with pauses from 100 us
    // growing to 2 ms until boundMs passed. 0 when reached, 255 at the bound
    // (not logged: the caller reports its own message) or at once when the
    // device is not open.
    int wait_c331_bits_for(int fd, u32 code, u32 mask, u32 want, u32 boundMs);

    // Failed transfers since start (tests, diagnostics).
    u32 failureCount() const { return m_failures.load(); }
    bool isOpen() const;
    int cachedBank() const { return m_cachedBank; }

private:
    bool selectBank(int fd, int bank);  // caller holds _c331_bnk_mutex
    int transfer(int fd, const u8* tx, u8* rx, int len, u32 hz);
    // Its line is the caller's place in the log (so is logLimited's).
    void reportFailure(const char* what, LogPlace at = {});
    // A failing bus or a stuck status bit (which a PC's commands meet as
    // often as it sends them) logs the first of each second, then a
    // count.
    void logLimited(const std::string& text, LogPlace at = {});

    std::unique_ptr<SpiDevice> m_dev;
    int m_fd = -1;
    int m_cachedBank = -1;  // guarded by Utils::_c331_bnk_mutex
    std::atomic<u32> m_failures{0};
    LineLimiter m_failureLines;
};
