#pragma once
// Model of the c331 video processor behind its SPI chip select: a register
// file per bank behind the two-byte frames (bank select {0x80, bank}, byte
// write {0x80 | reg, data}, byte read {reg, 0xFF} answered in the second
// byte), the chip id, the status bits the driver waits on, and the 32 MiB
// serial flash behind the chip's flash controller (its blocks are allocated
// on their first write: an idle run stays small).
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

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    void setGraphicsBusy(bool busy) { m_geBusy = busy; }
    void setFlashBusy(bool busy) { m_flashBusy = busy; }
    void setVsyncMissing(bool missing) { m_vsyncMissing = missing; }

    // ---- serial flash
    std::vector<uint8_t> flash(uint32_t address, uint32_t length) const;
    void setFlash(uint32_t address, const std::vector<uint8_t>& data);
    uint32_t flashEraseCount() const;
    // Bytes of flash that have been allocated by writes.
    size_t flashResident() const;
    // Flash-to-chip-memory copies started (source, destination, size).
    struct Dma {
        uint32_t src, dst, size, mode;
    };
    std::vector<Dma> dmas() const;

private:
    uint8_t readByte(uint8_t bank, uint8_t reg);
    void writeByte(uint8_t bank, uint8_t reg, uint8_t value);
    void flashCommand(uint8_t value);  // caller holds m_mutex
    uint32_t flashAddress() const;     // caller holds m_mutex

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_regs;  // 256 banks x 128 registers
    uint8_t m_bank = 0;
    SimRing<Access> m_log{kLogKeep};
    SimRing<std::vector<uint8_t>> m_frames{kFramesKeep};
    std::vector<ReadHook> m_readHooks;
    std::vector<WriteHook> m_writeHooks;

    std::atomic<bool> m_dead{false};
    std::atomic<bool> m_geBusy{false};
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
    std::vector<std::unique_ptr<uint8_t[]>> m_flash;
    uint32_t m_flashPtr = 0;
    uint32_t m_eraseCount = 0;
    std::vector<Dma> m_dmas;
};
