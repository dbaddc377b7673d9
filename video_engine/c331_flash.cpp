// The c331's serial flash: erase, program and read through the chip's flash
// controller, and the flash-to-chip-memory DMA that loads fonts and the OSD
// bitmap. Three threads use the flash (the c331 thread for fonts and the
// OSD, the protocol for the PC's commands, the FPGA thread for a font
// upgrade); one controller and one data port serve them, so each whole
// operation runs under the flash lock. Every wait is bounded on the board
// clock: a flash that stops answering fails the operation instead of
// hanging its thread or reporting success.
#include "video_engine/c331_manage.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
namespace r = c331reg;

// Controller and status bits.
constexpr u32 kDtctlFifoEmpty = 0x20, kDtctlReadBusy = 0x80;
constexpr u32 kStatDmaBusy = 0x01, kStatWriteBusy = 0x02, kStatEraseBusy = 0x08;
constexpr u32 kRdsrWip = 0x01, kRdsrWel = 0x02;
constexpr u32 kCmdIdle = 0, kCmdDma = 2, kCmdErase = 4, kCmdWriteDisable = 5;
constexpr u32 kCtrlReset = 0x80;
constexpr u32 kFlashPage = 256;

// Pin set-up of the flash interface (GPIO bank 5).
constexpr u32 SFL_PIN_FUNC = 0x054203;
constexpr u32 SFL_PIN_DRIVE1 = 0x053C02;
constexpr u32 SFL_PIN_DRIVE2 = 0x053E02;
constexpr u32 SFL_PIN_PULL = 0x054502;
// DMA destinations by mode.
constexpr u32 DMA_DST_MEMORY = 0x041104;   // mode 0
constexpr u32 DMA_DST_CHARS = 0x042702;    // mode 1
constexpr u32 DMA_DST_COLOUR = 0x091F01;   // mode 4: colour-table index

const char* const kFifoTimeout =
    "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWbusyTimeout =
    "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWipTimeout = "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWrdiTimeout = "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kReadTimeout = "c331: serial flash still busy reading after 100 ms";
const char* const kEraseTimeout = "c331: serial flash block erase not finished after 3 s";
const char* const kDmaTimeout = "c331: serial flash DMA not finished after 10 s";

u32 eraseSize(int type) { return type == 0 ? 4096u : type == 1 ? 32768u : 65536u; }
u32 eraseCommand(int type) { return type == 0 ? 0x20u : type == 1 ? 0x52u : 0xD8u; }
}  // namespace

bool c331_manage::flash_range_ok(u64 address, u64 length) {
    return address <= kFlashSize && length <= kFlashSize - address;
}

bool c331_manage::flash_erase_ok(int block, int count, int type) {
    if (block < 0 || count < 0) return false;
    const u64 size = eraseSize(type);
    const u64 start = u64(block) * 4096;
    // A misaligned 32 or 64 KiB erase would erase the block around the
    // start, before it: refused, never rounded.
    return start % size == 0 && flash_range_ok(start, u64(count) * size);
}

std::unique_lock<std::mutex> c331_manage::flash_lock(bool wait) {
    std::unique_lock<std::mutex> lock(m_flashMutex, std::try_to_lock);
    if (lock.owns_lock() || !wait) return lock;
    // On the board's clock, as every other wait of the flash.
    if (Utils::pollUntil(kFlashLockWaitMs, [&] { return lock.try_lock(); })) return lock;
    writeLogMsg(WARNING, "c331: serial flash busy for 1 s; operation not started");
    return lock;
}

void c331_manage::request_font_reload() {
    m_fontReload.store(true);
    wake();
}

void c331_manage::sfl_pins(int fd) {
    drv->write_C331(fd, SFL_PIN_FUNC, 0x55);
    drv->write_C331(fd, SFL_PIN_DRIVE1, 0x300);
    drv->write_C331(fd, SFL_PIN_DRIVE2, 0x300);
    drv->write_C331(fd, SFL_PIN_PULL, 0x3FF);
    debugPrintf("GIO setting OK.");
}

bool c331_manage::sfl_wait(int fd, u32 code, u32 mask, u32 want, u32 boundMs, const char* message, LogPlace at) {
    if (drv->wait_c331_bits_for(fd, code, mask, want, boundMs) == 0) return true;
    // A PC's flash commands meet a stuck flash as often as it sends them.
    static LineLimiter timeouts(LineLimiter::logCount(ERROR, "c331", "serial flash time-outs"));
    timeouts.occur([message, at] {
        debugPrintf("%s\n", message);
        writeLogMsg(ERROR, message, at);
    });
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    return false;
}

bool c331_manage::sfl_clear_latch(int fd) {
    if (!(drv->read_C331(fd, r::SFL_RDSR) & kRdsrWel)) return true;
    debugPrintf("B4_SFLRDSR WEL is 1, and have to clear WEL bit.\n");
    debugPrintf("Serial Flash WRDI command process start.\n");
    drv->write_C331(fd, r::SFL_ERASE_CMD, 4);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdWriteDisable);
    if (!sfl_wait(fd, r::SFL_RDSR, kRdsrWel, 0, kSflWaitMs, kWrdiTimeout)) return false;
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    return true;
}

bool c331_manage::sfl_reissue(int fd, u32 address) {
    // The controller programs the page it collected when the address is
    // written again.
    drv->write_C331(fd, r::SFL_ADDR, address);
    return sfl_wait(fd, r::SFL_DTCTL, kDtctlFifoEmpty, kDtctlFifoEmpty, kSflWaitMs, kFifoTimeout) &&
           sfl_wait(fd, r::SFL_STAT, kStatWriteBusy, 0, kSflWaitMs, kWbusyTimeout) &&
           sfl_wait(fd, r::SFL_RDSR, kRdsrWip, 0, kSflWaitMs, kWipTimeout) && sfl_clear_latch(fd);
}

int c331_manage::sfl_erase_block(int fd, u32 address, int type) {
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_CTRL, kCtrlReset);
    drv->write_C331(fd, r::SFL_CTRL, 1);
    drv->write_C331(fd, r::SFL_WREN_CMD, 6);
    drv->write_C331(fd, r::SFL_RDSR_CMD, 5);
    drv->write_C331(fd, r::SFL_MODE, 1);
    // A write disable uses the same command register: set the erase command
    // for every block, or the next one would erase 64 KiB.
    drv->write_C331(fd, r::SFL_ERASE_CMD, eraseCommand(type));
    drv->write_C331(fd, r::SFL_ADDR, address);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdErase);
    // One bound for the whole block: the erase, then the flash's own
    // write-in-progress.
    Clock& clock = Board::get().clock();
    const u64 start = clock.nowMs();
    if (!sfl_wait(fd, r::SFL_STAT, kStatEraseBusy, 0, kSflEraseMs, kEraseTimeout)) return 2;
    const u64 spent = clock.nowMs() - start;
    const u32 left = spent >= kSflEraseMs ? 0 : u32(kSflEraseMs - spent);
    if (!sfl_wait(fd, r::SFL_RDSR, kRdsrWip, 0, left, kWipTimeout)) return 2;
    if (!sfl_clear_latch(fd)) return 2;
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    return 0;
}

int c331_manage::sfl_program(int fd, u32 address, u32 length, const u8* data) {
    drv->write_C331(fd, r::SFL_CTRL, kCtrlReset);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_CTRL, 0x31);
    drv->write_C331(fd, r::SFL_WREN_CMD, 6);
    drv->write_C331(fd, r::SFL_RDSR_CMD, 5);
    drv->write_C331(fd, r::SFL_CMD1, 0x12);
    drv->write_C331(fd, r::SFL_MODE, 1);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_AUX, 0);
    drv->write_C331(fd, r::SFL_ADDR, address);
    drv->write_C331(fd, r::SFL_ADDR, address);
    for (u32 i = 0; i < length; ++i) {
        drv->write_C331(fd, r::SFL_DATA, data[i]);
        const u32 next = address + i + 1;
        if (next % kFlashPage == 0 && !sfl_reissue(fd, next)) return 2;
        if ((i + 1) % 8192 == 0) debugPrintf("#### %8u byte of %8u byte write finish. ###\n", i + 1, length);
    }
    if ((address + length) % kFlashPage != 0 && !sfl_reissue(fd, address + length)) return 2;
    return 0;
}

int c331_manage::sfl_holds(int fd, u32 address, u32 length, const u8* want, const char* what) {
    std::vector<u8> back(length);
    if (sfl_fetch(fd, address, length, back.data(), false) != 0) return 2;
    const bool held = want ? std::equal(back.begin(), back.end(), want)
                           : std::all_of(back.begin(), back.end(), [](u8 b) { return b == 0xFF; });
    if (held) return 0;
    // A PC may send its flash commands to a protected flash without a break.
    static LineLimiter differs(LineLimiter::logCount(ERROR, "c331", "serial flash read-backs that differ"));
    differs.occur([&] {
        char line[128];
        std::snprintf(line, sizeof line, "c331: serial flash does not read back %s at 0x%06X (%u bytes)", what,
                      unsigned(address), unsigned(length));
        writeLogMsg(ERROR, line);
    });
    return 4;
}

int c331_manage::sfl_erase(int fd, u32 address, int count, int type) {
    sfl_pins(fd);
    const u32 size = eraseSize(type);
    for (int i = 0; i < count; ++i) {
        const u32 block = address + u32(i) * size;
        if (const int r = sfl_erase_block(fd, block, type)) return r;
        if (const int r = sfl_holds(fd, block, size, nullptr, "the block erased")) return r;
    }
    return 0;
}

int c331_manage::sfl_write(int fd, u32 address, u32 length, const u8* data) {
    sfl_pins(fd);
    if (const int r = sfl_program(fd, address, length, data)) return r;
    return sfl_holds(fd, address, length, data, "the bytes written");
}

int c331_manage::sfl_read(int fd, u32 address, u32 length, u8* buffer) {
    sfl_pins(fd);
    return sfl_fetch(fd, address, length, buffer, true);
}

int c331_manage::sfl_fetch(int fd, u32 address, u32 length, u8* buffer, bool progress) {
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_CTRL, kCtrlReset);
    drv->write_C331(fd, r::SFL_CTRL, 0x31);
    drv->write_C331(fd, r::SFL_CMD2, 0x0C);
    drv->write_C331(fd, r::SFL_MODE, 1);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_AUX, 0);
    drv->write_C331(fd, r::SFL_ADDR, address);
    drv->write_C331(fd, r::SFL_DTCTL, 1);
    if (!sfl_wait(fd, r::SFL_DTCTL, kDtctlReadBusy, 0, kSflWaitMs, kReadTimeout)) return 2;
    drv->write_C331(fd, r::SFL_DTCTL, 0);
    for (u32 i = 0; i < length; ++i) {
        buffer[i] = u8(drv->read_C331(fd, r::SFL_DATA));
        if (progress && (i + 1) % 1024 == 0)
            debugPrintf("#### %8u byte of %8u byte read finish. ###\n", i + 1, length);
    }
    drv->write_C331(fd, r::SFL_ADDR, address);
    return 0;
}

int c331_manage::osd_write_dma_sfl(int fd, u32 src, u32 dst, int mode, u32 size) {
    sfl_pins(fd);
    drv->write_C331(fd, r::GE_START, 0);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    drv->write_C331(fd, r::SFL_CTRL, kCtrlReset);
    drv->write_C331(fd, r::SFL_CTRL, mode == 1 ? 0x37 : 0x33);
    drv->write_C331(fd, r::SFL_MODE, 2);
    drv->write_C331(fd, r::SFL_CMD1, 0x12);
    drv->write_C331(fd, r::SFL_CMD2, 0x0C);
    drv->write_C331(fd, r::SFL_ERASE_CMD, 0xC7);
    drv->write_C331(fd, r::SFL_WREN_CMD, 6);
    drv->write_C331(fd, r::SFL_RDSR_CMD, 5);
    drv->write_C331(fd, r::SFL_ADDR, src);
    drv->write_C331(fd, r::SFL_DMA_SIZE, size | 0x80000000u);
    drv->write_C331(fd, r::SFL_DMA_MODE, u32(mode) & 15);
    if (mode == 0)
        drv->write_C331(fd, DMA_DST_MEMORY, dst);
    else if (mode == 1)
        drv->write_C331(fd, DMA_DST_CHARS, dst & 0xFFFF);
    else if (mode == 4)
        drv->write_C331(fd, DMA_DST_COLOUR, dst & 0xFF);
    drv->write_C331(fd, r::SFL_CMD_START, kCmdDma);
    if (!sfl_wait(fd, r::SFL_STAT, kStatDmaBusy, 0, kSflDmaMs, kDmaTimeout)) return 2;
    drv->write_C331(fd, r::SFL_CMD_START, kCmdIdle);
    return 0;
}

// ---- the checked operations other threads call

int c331_manage::erase_flash(int fd, int block, int count, int type) {
    if (!flash_erase_ok(block, count, type)) return 1;
    if (count == 0) return 0;
    std::unique_lock<std::mutex> lock = flash_lock(true);
    if (!lock.owns_lock()) return 3;
    return sfl_erase(fd, u32(block) * 4096, count, type);
}

int c331_manage::write_flash(int fd, u32 address, u32 length, const u8* data) {
    if (length == 0 || !data || !flash_range_ok(address, length)) return 1;
    std::unique_lock<std::mutex> lock = flash_lock(true);
    if (!lock.owns_lock()) return 3;
    return sfl_write(fd, address, length, data);
}

int c331_manage::read_flash(int fd, u32 address, u32 length, u8* buffer) {
    if (length == 0 || !buffer || !flash_range_ok(address, length)) return 1;
    std::unique_lock<std::mutex> lock = flash_lock(true);
    if (!lock.owns_lock()) return 3;
    return sfl_read(fd, address, length, buffer);
}
