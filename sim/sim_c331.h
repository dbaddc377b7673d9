#pragma once
// Model of the c331 video processor behind its SPI chip select: a register
// file per bank behind the two-byte frames (bank select {0x80, bank}, byte
// write {0x80 | reg, data}, byte read {reg, 0xFF} answered in the second
// byte), the chip id, the status bits the driver waits on, the 32 MiB
// serial flash behind the chip's flash controller (its blocks are allocated
// on their first write: an idle run stays small), the flash-to-memory DMA
// and the graphics engine that draws the OSD.
//
// Flash programming: bytes written to 04:52 collect in a page buffer at the
// address last written to 04:4E; the next write of 04:4E programs them (bits
// only cleared) wrapping inside their 256-byte page, so a driver that does
// not re-issue the address at a page boundary leaves wrong data. 04:47 :=
// 0x80 drops the buffer. Reads of 04:52 stream from the address register.
//
// Frames run on the board clock: the output at kOutputRateHz, each input
// channel at the rate of its source (sim_c331_inputs; 60 Hz without one).
// A sync status bit (05:22 input channel n, 05:23 output channel n) reads
// set only while 05:08 / 05:09 asks for it and a frame has begun since it
// was asked for, so a wait takes the time it takes on the chip.
//
// Attach with SimBoard::attachSpi("/dev/spidev32766.0", model).
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimC331 : public SpiModel {
public:
    static constexpr uint32_t kFlashSize = 32u * 1024 * 1024;

    struct Access {
        bool write;       // false: read
        uint8_t bank;
        uint8_t reg;
        uint8_t value;    // written, or answered
    };
    // A bank selection is logged as a write of register 0.

    SimC331();

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override;

    // ---- register file (tests and hooks)
    uint8_t reg(uint8_t bank, uint8_t reg) const;
    uint16_t reg16(uint8_t bank, uint8_t reg) const;  // little-endian run
    uint32_t reg32(uint8_t bank, uint8_t reg) const;
    void setReg(uint8_t bank, uint8_t reg, uint8_t value);
    uint8_t selectedBank() const;

    // A hook returning true supplies the value of a read; hooks run in the
    // order added, before the register file. Called without the model's
    // lock held, so a hook may call reg()/setReg().
    using ReadHook = std::function<bool(uint8_t bank, uint8_t reg, uint8_t& value)>;
    void addReadHook(ReadHook hook);
    // Called after every byte write (bank, register, value), outside the lock.
    using WriteHook = std::function<void(uint8_t bank, uint8_t reg, uint8_t value)>;
    void addWriteHook(WriteHook hook);

    // ---- transfer log: the newest kLogKeep accesses and kFramesKeep frames
    static constexpr size_t kLogKeep = 1u << 16;
    static constexpr size_t kFramesKeep = 1u << 14;
    std::vector<Access> log() const;
    void clearLog();
    // Raw frames as they came on the wire (two bytes each).
    std::vector<std::vector<uint8_t>> frames() const;
    // Writes of one register (bank, reg) in order, from the kept log.
    std::vector<uint8_t> writesTo(uint8_t bank, uint8_t reg) const;

    // ---- fault knobs
    // The device answers nothing: reads give 0, writes are dropped.
    void setDead(bool dead) { m_dead = dead; }
    bool dead() const { return m_dead; }
    // Value of the chip id register (0x24 on a working chip).
    void setChipId(uint8_t id);
    // Output frames per second.
    static constexpr uint32_t kOutputRateHz = 60;
    // Frames of input channel n per second (0: none); replaces the 60 Hz.
    using ChannelRate = std::function<uint32_t(int channel)>;
    void setChannelRate(ChannelRate rate);
    // Output frames begun since start, on the board clock.
    uint64_t outputFrame() const;
    // Frames of input channel n begun since start (0 without a source).
    uint64_t inputFrame(int channel) const;

    // Keep a status bit busy: graphics engine, flash, output / input vsync.
    void setGraphicsBusy(bool busy) { setHeld(Hold::Graphics, busy); }
    void setFlashBusy(bool busy) { m_flashBusy = busy; }
    void setVsyncMissing(bool missing) { m_vsyncMissing = missing; }
    // One status bit held in its busy state: 04:53 bit 5 (write FIFO never
    // empty), bit 7 (read busy); 04:54 bits 0, 1, 3 (DMA, write, erase busy);
    // 04:55 bit 0 (WIP), bit 1 (write-enable latch set, even after a write
    // disable); 04:17 bit 0 (graphics engine busy).
    enum class Hold { FifoNotEmpty, ReadBusy, DmaBusy, WriteBusy, EraseBusy, Wip, Wel, Graphics, Count };
    void setHeld(Hold bit, bool held);
    // The write-enable latch (04:55 bit 1) is left set by every erase and
    // page program until a write disable (04:48 := 5) clears it.
    void setLatchLeftSet(bool on) { m_latchLeftSet = on; }
    bool writeEnableLatch() const;

    // ---- serial flash
    std::vector<uint8_t> flash(uint32_t address, uint32_t length) const;
    void setFlash(uint32_t address, const std::vector<uint8_t>& data);
    uint32_t flashEraseCount() const;
    // Bytes of flash that have been allocated by writes.
    size_t flashResident() const;
    // The newest kDmasKeep flash-to-chip-memory copies started (source,
    // destination, size).
    struct Dma {
        uint32_t src, dst, size, mode;
    };
    static constexpr size_t kDmasKeep = 1u << 12;
    std::vector<Dma> dmas() const;
    // Erases and page programs that touch [address, address + length) are
    // taken and change nothing, as sectors under the flash's protection
    // bits; a length of 0 protects nothing.
    void setFlashProtected(uint32_t address, uint32_t length);
    // Write-disable commands (04:48 := 5) received.
    uint32_t writeDisableCount() const;
    // Preloads the 35-byte header of a font ('P', cell width at byte 17,
    // height at byte 18): "ascii32", "cjk32", "ascii64" or "cjk64"; false
    // for another name.
    bool preloadFont(const std::string& name);

    // ---- chip memory, colour table, graphics engine
    // DMA mode 0 copies into the chip memory (bytes never written read
    // 0xFF, as erased flash copied there would).
    std::vector<uint8_t> chipMemory(uint32_t address, uint32_t length) const;
    // DMA mode 4 copies into the OSD colour table from the index in 09:1F
    // (three bytes per entry); so do writes of 09:20 after an index in 09:1F.
    static constexpr uint32_t kColourTableBytes = 1024;
    std::vector<uint8_t> colourTable(uint32_t index, uint32_t entries) const;
    // One graphics-engine operation (04:08 := 1 fill, 2 copy, 3 string) with
    // the registers it started from; a string's characters are the
    // five-byte groups written to 04:29 after 04:27/2 := 0.
    struct GraphicsOp {
        uint8_t kind;
        uint32_t src, dst;
        uint16_t width, height;  // as written: size - 1
        uint8_t srcStride, dstStride, format;
        uint16_t fill;
        uint8_t fontSize;        // 04:2A
        std::vector<std::array<uint8_t, 5>> chars;
    };
    static constexpr size_t kGraphicsKeep = 1u << 14;
    // A string's characters the chip holds for its next draw; more are lost.
    static constexpr size_t kCharsKeep = 4096;
    std::vector<GraphicsOp> graphics() const;
    void clearGraphics();

private:
    uint8_t readByte(uint8_t bank, uint8_t reg);
    void writeByte(uint8_t bank, uint8_t reg, uint8_t value);
    void flashCommand(uint8_t value);  // caller holds m_mutex
    uint32_t flashAddress() const;     // caller holds m_mutex
    uint32_t regs32(uint8_t bank, uint8_t reg) const;  // caller holds m_mutex
    void programPage();                // caller holds m_mutex
    void graphicsCommand(uint8_t value);  // caller holds m_mutex
    void bankFourWrite(uint8_t reg, uint8_t value);  // caller holds m_mutex
    void dmaToMemory(uint32_t src, uint32_t dst, uint32_t length);  // caller holds m_mutex
    bool held(Hold bit) const { return m_held[int(bit)].load(); }

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_regs;  // 256 banks x 128 registers
    uint8_t m_bank = 0;
    SimRing<Access> m_log{kLogKeep};
    SimRing<std::vector<uint8_t>> m_frames{kFramesKeep};
    std::vector<ReadHook> m_readHooks;
    std::vector<WriteHook> m_writeHooks;

    std::atomic<bool> m_dead{false};
    std::atomic<bool> m_flashBusy{false};
    std::atomic<bool> m_vsyncMissing{false};

    // Frame at which 05:08 / 05:09 asked for bit n; -1 not asked.
    int64_t m_pivsAsked[8];
    int64_t m_povsAsked[8];
    ChannelRate m_channelRate;

    // Flash in blocks; an absent block reads erased (0xFF). Caller holds m_mutex.
    static constexpr uint32_t kBlockSize = 64 * 1024;
    uint8_t flashByte(uint32_t address) const;
    uint8_t* flashBlockFor(uint32_t address);  // allocates
    void eraseFlash(uint32_t start, uint32_t size);
    bool flashProtected(uint32_t start, uint32_t size) const;
    std::vector<std::unique_ptr<uint8_t[]>> m_flash;
    uint32_t m_flashPtr = 0;
    uint32_t m_eraseCount = 0;
    uint32_t m_protectedFrom = 0, m_protectedLength = 0;
    SimRing<Dma> m_dmas{kDmasKeep};
    // Bytes waiting for the next address write, one page: a byte past the
    // page lands on the one a page before it (m_pageFold counts round).
    std::vector<uint8_t> m_page;
    size_t m_pageFold = 0;
    uint32_t m_pageAddr = 0;
    bool m_wel = false;
    uint32_t m_wrdiCount = 0;
    std::atomic<bool> m_latchLeftSet{false};
    std::atomic<bool> m_held[int(Hold::Count)]{};

    static constexpr uint32_t kMemPage = 64 * 1024;
    std::map<uint32_t, std::vector<uint8_t>> m_memory;  // by page number
    std::vector<uint8_t> m_colourTable;
    uint32_t m_colourPos = 0;
    SimRing<GraphicsOp> m_graphics{kGraphicsKeep};
    bool m_collectChars = false;
    std::vector<uint8_t> m_charBytes;
};
