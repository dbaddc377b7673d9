#pragma once
// Simulated IT6805 HDMI 2.0 receiver: the register space at 0x90 (eight
// banks through 0x0F) and the CEC block at 0xC8. The signal registers are
// worked out from the scenario's source of the receiver's input on every
// access, so plugging, unplugging or changing a source shows at the next
// poll; the hot-plug line the driver drives decides whether the source
// sends (a source re-trains when hot-plug comes back).
//
// What the driver waits for is modelled; everything else is a plain byte
// store. Fault and script knobs let tests drive the equaliser, the
// interrupts and the CEC receive FIFO.
#include "sim/sim_models.h"
#include "sim/sim_ring.h"
#include "sim/sim_scenario.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// The object itself is the receiver face at 0x90; cec() is the face at 0xC8
// and keeps the chip alive like the receiver face does.
class SimIt6805 : public I2cModel, public std::enable_shared_from_this<SimIt6805> {
public:
    // `input` is the device input (4 or 5) whose source the chip receives.
    SimIt6805(SimScenario& scenario, int input, uint8_t revision = 0x10, uint8_t id2 = 0x05);

    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* buf, uint16_t len) override;
    std::shared_ptr<I2cModel> cec();

    // With "follows_edid" the source reads the input's EDID memory through
    // this at each rise of hot-plug.
    using EdidReader = std::function<bool(std::vector<uint8_t>& edid)>;
    void setEdidReader(EdidReader reader);

    // The shared reset line: while held low both faces NACK; releasing it
    // returns the chip to its power-on registers.
    void setResetLow(bool low);
    // A chip that is not fitted NACKs for ever.
    void setAbsent(bool absent);

    // Oscillator the calibration reports; `inHundredths` makes the chip
    // report 100 times the value with flag bits 7-6 set.
    void setOscillatorKHz(uint32_t khz, bool inHundredths = false);
    // Bank 5 0xDB bits 3-2 (output block status).
    void setOutputStatusBits(uint8_t bits32);
    // A plain register holding a value before the driver touches it.
    void preset(int bank, uint8_t r, uint8_t v);
    // A port whose front-end calibration never reports done.
    void setCalibrationStalls(int port, bool stalls);

    // ---- equaliser script (front-end bank unless noted)
    void raise(uint8_t bank0Reg, uint8_t bits);                  // latch interrupt bits
    void setEqValues(uint8_t ch0, uint8_t ch1, uint8_t ch2);     // 0xD5 to 0xD7
    void setEqResults(int channel, uint16_t first, uint16_t second);  // 0x63/64, 0x6D/6E
    void setBitErrors(int channel, uint8_t low, uint8_t high);   // 0xEA/0xEB
    void setDfeReading(int channel, int index, uint8_t a, uint8_t b, uint8_t c, uint8_t d);
    void setParityOk(bool ok);
    // Overrides of what the source sends: the AVI video code, the sample-rate
    // code the chip reports (-1: the source's).
    void setVic(int vic);
    void setChipFsCode(int code);  // 0xB9/0xBE read back 0 after 0xFF written

    // ---- CEC script
    // Queues a received message (header, opcode, operands). The size byte
    // is the length unless given (error bits 6-5, bad lengths).
    void injectCec(const std::vector<uint8_t>& bytes, int sizeByte = -1);
    // The chip keeps reporting a message however often it is read.
    void setCecStuck(bool stuck);
    void setCecRxStatus(uint8_t status);  // 0x51
    struct CecSent {
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> fireWrites;  // the last two register 0x08 values written before it fired
    };
    // The newest kCecSentKeep messages sent.
    static constexpr size_t kCecSentKeep = 1024;
    std::vector<CecSent> cecSent() const;

    // ---- observation
    uint8_t reg(int bank, uint8_t r) const;   // stored byte, no side effects
    uint8_t cecReg(uint8_t r) const;
    bool hotPlugHigh() const;
    uint64_t messages() const;                // bus messages seen (both faces)
    // Every register write in order as (bank << 16 | reg << 8 | value),
    // recorded while logging is on: the newest kWritesKeep.
    static constexpr size_t kWritesKeep = 1u << 16;
    void setLogging(bool on);
    std::vector<uint32_t> writes() const;

private:
    class CecFace : public I2cModel {
    public:
        explicit CecFace(SimIt6805& chip) : m_chip(chip) {}
        bool write(const uint8_t* data, uint16_t len) override;
        bool read(uint8_t* buf, uint16_t len) override;

    private:
        SimIt6805& m_chip;
    };

    struct Signal {
        bool power = false, locked = false, hdmi = true;
        uint32_t hact = 0, hsync = 0, hfront = 0, htotal = 0;
        uint32_t vact = 0, vsync = 0, vfront = 0, vtotal = 0;
        uint32_t pclkKHz = 0, tmdsKHz = 0;
        bool interlaced = false, hpol = true, vpol = true;
        uint8_t colour = 0, quant = 0, colorimetry = 0, vic = 0;
        uint32_t audioHz = 0;
        uint8_t audioChannels = 2;
    };

    void powerOn();
    void followEdid();
    // Follows hot-plug and the source, latching the change interrupts.
    Signal sync();
    Signal signal() const;
    void refreshLatches(const Signal& s);
    uint8_t rxRead(uint8_t r);
    void rxWrite(uint8_t r, uint8_t v);
    uint8_t cecRead(uint8_t r);
    void cecWrite(uint8_t r, uint8_t v);
    bool layoutA() const { return m_revision == 0x10 || m_revision == 0xE0; }
    uint8_t bank() const { return m_regs[0][0x0F] & 0x07; }

    SimScenario& m_scenario;
    const int m_input;
    uint8_t m_revision;
    uint8_t m_id2;
    CecFace m_cecFace{*this};
    EdidReader m_edid;

    mutable std::mutex m_mutex;
    bool m_resetLow = false;
    bool m_absent = false;
    std::array<std::array<uint8_t, 256>, 8> m_regs{};
    uint8_t m_rxPointer = 0;
    uint32_t m_oscKHz = 20000;
    bool m_oscHundredths = false;
    uint8_t m_outBits = 0;
    bool m_calStalls[2] = {false, false};
    // Last signal state seen, for the change latches.
    bool m_lastPower = false, m_lastScdt = false, m_lastHpd = false, m_lastHdmi = true;
    uint8_t m_lastAvi = 0;
    unsigned m_pclkSample = 0;

    std::array<std::array<uint16_t, 2>, 3> m_eqResults{};
    std::array<std::array<uint8_t, 2>, 3> m_ber{};
    std::array<std::array<std::array<uint8_t, 4>, 16>, 3> m_dfe{};
    bool m_parityOk = true;
    int m_vic = -1;
    int m_fsCode = -1;

    struct CecMsg {
        std::vector<uint8_t> bytes;
        uint8_t size;
    };
    std::array<uint8_t, 256> m_cecRegs{};
    uint8_t m_cecPointer = 0;
    std::deque<CecMsg> m_cecFifo;
    CecMsg m_cecCurrent;
    size_t m_cecOperand = 0;
    bool m_cecStuck = false;
    SimRing<uint8_t> m_fireWrites{2};
    SimRing<CecSent> m_cecSent{kCecSentKeep};

    uint64_t m_messages = 0;
    bool m_logging = false;
    SimRing<uint32_t> m_writes{kWritesKeep};
};

class SimBoard;
// The two receivers of inputs 4 and 5 behind the receiver switch, with
// their CEC blocks, on the shared IT6805 reset line. Revisions 0x10 and
// 0x20, so a PC run sees both register layouts.
void simAttachIt6805(SimBoard& board);
// The model of receiver rx (0 or 1) attached by simAttachIt6805; null if none.
std::shared_ptr<SimIt6805> simIt6805(SimBoard& board, int rx);
