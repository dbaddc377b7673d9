#pragma once
// Model of one IT6602 HDMI receiver with the source of its input plugged
// in (board scenario, read at every access, so plugging, unplugging and
// changes show at the next access).
//
// Registers: 0x00-0x0F are seen in every bank (identification 54 49 02 68,
// interrupts, status, bank select 0x0F bits 1-0); the rest is three banks
// of plain registers except:
//   bank 0  0x05-0x09, 0xD0: interrupts, write 1 to clear. 0x05 bit 0
//           latches on each +5 V change (and at reset release with +5 V),
//           0x07 bit 1 on each SCDT change; the others only when raised.
//           0x0A: bit 0 +5 V, bit 1 HDMI, bit 3 clock, bit 7 SCDT.
//           0x90/0x91 TMDS clock count, 0x99 interlace and depth, 0x9A
//           3162 / pixel clock (MHz), 0x9C-0xA8 the timing, 0xAA/0xAB/0xAE
//           audio. Error registers 0xB2-0xBB plain (0 unless set).
//   bank 1  0xB0 bits 1-0 hot-plug (3 high); amplitude registers plain.
//   bank 2  AVI InfoFrame 0x14-0x19, vendor InfoFrame 0x24 and 0x28-0x2B,
//           pixel clock in kHz as n = (C1 << 12) + C2 * 16 + (C0 >> 4).
// The source sends nothing while the hot-plug is low and trains again at
// once when it rises (so a restart's hot-plug pulse re-trains it, whether
// or not the reset line was pulsed). With "follows_edid" it reads the
// EDID through the reader given at that rise and takes the first timing
// descriptor's size and rate into the scenario.
#include "sim/sim_models.h"
#include "sim/sim_ring.h"
#include "sim/sim_scenario.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class SimIt6602 : public std::enable_shared_from_this<SimIt6602> {
public:
    // The chip as one bus address sees it.
    class Port : public I2cModel {
    public:
        Port(std::shared_ptr<SimIt6602> chip, uint8_t address) : m_chip(std::move(chip)), m_address(address) {}
        bool write(const uint8_t* data, uint16_t len) override { return m_chip->write(m_address, data, len); }
        bool read(uint8_t* buf, uint16_t len) override { return m_chip->read(m_address, buf, len); }
        SimIt6602& chip() { return *m_chip; }

    private:
        std::shared_ptr<SimIt6602> m_chip;
        uint8_t m_address;
    };

    enum class Strap { At90, At94Only, Absent };
    struct Write {
        uint8_t bank, reg, value;
    };
    using EdidReader = std::function<bool(std::vector<uint8_t>& edid)>;

    SimIt6602(SimScenario& scenario, int input);

    // The chip as seen at one 8-bit bus address (0x90 or 0x94).
    std::shared_ptr<I2cModel> at(uint8_t address);

    void setStrap(Strap strap);
    // The reset line: while held every access NACKs and the registers are
    // at their power-on values.
    void setReset(bool held);
    void setEdidReader(EdidReader reader);
    // Called at every message before the chip answers (outside its lock):
    // lets a test look at the rest of the system between two accesses.
    void setAccessHook(std::function<void()> hook);

    // Test knobs: latch interrupt bits (0x05-0x09, or 0xD0 of bank 0);
    // write a plain register as the chip would (errors, amplitudes); force
    // a measured register to a value (-1 lets the model compute it again).
    void raise(uint8_t reg, uint8_t bits);
    void setRegister(uint8_t bank, uint8_t reg, uint8_t value);
    void force(uint8_t bank, uint8_t reg, int value);

    // What the driver left: a register as stored, the writes in order (the
    // newest kWritesKeep), the messages seen (one per read or write message).
    static constexpr size_t kWritesKeep = 1u << 14;
    uint8_t stored(uint8_t bank, uint8_t reg) const;
    std::vector<Write> writes() const;
    void clearWrites();
    uint64_t messages() const;
    uint8_t hotPlug() const;  // bank 1 0xB0 bits 1-0

private:
    bool write(uint8_t address, const uint8_t* data, uint16_t len);
    bool read(uint8_t address, uint8_t* buf, uint16_t len);
    bool answers(uint8_t address) const;
    void runHook();
    void powerOn();
    void sync();  // scenario -> status and latches; caller holds m_mutex
    uint8_t readReg(uint8_t reg);
    void writeReg(uint8_t reg, uint8_t value);
    uint8_t& cell(uint8_t reg);
    bool measured(uint8_t bank, uint8_t reg, uint8_t& value) const;
    void followEdid();

    SimScenario& m_scenario;
    const int m_input;
    mutable std::mutex m_mutex;
    Strap m_strap = Strap::At90;
    bool m_reset = false;
    uint8_t m_common[16] = {};
    uint8_t m_bank[3][256] = {};
    uint8_t m_pointer = 0;
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> m_forced;
    SimRing<Write> m_writes{kWritesKeep};
    uint64_t m_messages = 0;
    EdidReader m_edid;
    std::function<void()> m_hook;
    SimSource m_source;
    bool m_power = false, m_scdt = false, m_hpd = false;
};

class SimBoard;
// One model per IT6602 input (0-3) behind the receiver switch at 0x90 and
// 0x94, following the board's reset line; the source reads its input's
// EDID memory when it follows the EDID.
void simAttachIt6602(SimBoard& board);
// The model of an input attached by simAttachIt6602; null if none.
std::shared_ptr<SimIt6602> simIt6602(SimBoard& board, int input);
