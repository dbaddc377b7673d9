#include "sim/sim_it6805.h"

#include "platform/gpio.h"
#include "sim/sim_board.h"
#include "sim/sim_c331_inputs.h"
#include "sim/sim_edid_eeprom.h"
#include "video_io/source_map.h"
#include "video_io/ite6805_reg.h"

#include <algorithm>

using namespace it6805;

// ---------------------------------------------------------------- bus faces

bool SimIt6805::write(const uint8_t* data, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_messages;
    if (m_resetLow || m_absent) return false;
    if (len == 0) return true;
    m_rxPointer = data[0];
    for (uint16_t i = 1; i < len; ++i) rxWrite(m_rxPointer++, data[i]);
    return true;
}

bool SimIt6805::read(uint8_t* buf, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_messages;
    if (m_resetLow || m_absent) return false;
    for (uint16_t i = 0; i < len; ++i) buf[i] = rxRead(m_rxPointer++);
    return true;
}

std::shared_ptr<I2cModel> SimIt6805::cec() { return std::shared_ptr<I2cModel>(shared_from_this(), &m_cecFace); }

bool SimIt6805::CecFace::write(const uint8_t* data, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_chip.m_mutex);
    ++m_chip.m_messages;
    if (m_chip.m_resetLow || m_chip.m_absent) return false;
    if (len == 0) return true;
    m_chip.m_cecPointer = data[0];
    for (uint16_t i = 1; i < len; ++i) m_chip.cecWrite(m_chip.m_cecPointer++, data[i]);
    return true;
}

bool SimIt6805::CecFace::read(uint8_t* buf, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_chip.m_mutex);
    ++m_chip.m_messages;
    if (m_chip.m_resetLow || m_chip.m_absent) return false;
    for (uint16_t i = 0; i < len; ++i) {
        buf[i] = m_chip.cecRead(m_chip.m_cecPointer);
        // The operand register streams: reading it does not move on.
        if (m_chip.m_cecPointer != CEC_REG_RX_OPERAND) ++m_chip.m_cecPointer;
    }
    return true;
}

// ---------------------------------------------------------------- set-up

SimIt6805::SimIt6805(SimScenario& scenario, int input, uint8_t revision, uint8_t id2)
    : m_scenario(scenario), m_input(input), m_revision(revision), m_id2(id2) {
    for (auto& ch : m_ber) ch = {0x00, 0x80};  // a clean link: valid count, no errors
    std::lock_guard<std::mutex> lock(m_mutex);
    powerOn();
}

void SimIt6805::powerOn() {
    for (auto& b : m_regs) b.fill(0);
    m_cecRegs.fill(0);
    m_rxPointer = m_cecPointer = 0;
    m_cecFifo.clear();
    m_cecCurrent = CecMsg{};
    m_fireWrites.clear();
    m_pclkSample = 0;
    m_lastPower = signal().power;
    m_lastScdt = false;
    m_lastHpd = false;
    m_lastHdmi = true;
    m_lastAvi = 0;
}

void SimIt6805::setEdidReader(EdidReader reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_edid = std::move(reader);
}

void SimIt6805::setResetLow(bool low) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_resetLow && !low) powerOn();
    m_resetLow = low;
}

void SimIt6805::setAbsent(bool absent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_absent = absent;
}

void SimIt6805::setOscillatorKHz(uint32_t khz, bool inHundredths) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_oscKHz = khz;
    m_oscHundredths = inHundredths;
}

void SimIt6805::setOutputStatusBits(uint8_t bits32) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outBits = bits32 & 0x0C;
}

void SimIt6805::preset(int bank, uint8_t r, uint8_t v) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[size_t(bank & 7)][r] = v;
}

void SimIt6805::setCalibrationStalls(int port, bool stalls) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calStalls[port & 1] = stalls;
}

void SimIt6805::raise(uint8_t bank0Reg, uint8_t bits) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[0][bank0Reg] |= bits;
}

void SimIt6805::setEqValues(uint8_t ch0, uint8_t ch1, uint8_t ch2) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[BANK_FRONTEND_P0][REG_EQ_VALUE0] = ch0;
    m_regs[BANK_FRONTEND_P0][REG_EQ_VALUE0 + 1] = ch1;
    m_regs[BANK_FRONTEND_P0][REG_EQ_VALUE0 + 2] = ch2;
}

void SimIt6805::setEqResults(int channel, uint16_t first, uint16_t second) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channel >= 0 && channel < 3) m_eqResults[size_t(channel)] = {first, second};
}

void SimIt6805::setBitErrors(int channel, uint8_t low, uint8_t high) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channel >= 0 && channel < 3) m_ber[size_t(channel)] = {low, high};
}

void SimIt6805::setDfeReading(int channel, int index, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channel >= 0 && channel < 3 && index >= 0 && index < 16)
        m_dfe[size_t(channel)][size_t(index)] = {a, b, c, d};
}

void SimIt6805::setVic(int vic) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vic = vic;
}

void SimIt6805::setChipFsCode(int code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fsCode = code;
}

void SimIt6805::setParityOk(bool ok) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_parityOk = ok;
}

void SimIt6805::injectCec(const std::vector<uint8_t>& bytes, int sizeByte) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cecFifo.push_back(CecMsg{bytes, uint8_t(sizeByte < 0 ? bytes.size() : size_t(sizeByte))});
    m_cecRegs[CEC_REG_INT] |= 0x10;
}

void SimIt6805::setCecStuck(bool stuck) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cecStuck = stuck;
}

void SimIt6805::setCecRxStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cecRegs[CEC_REG_RX_STATUS] = status;
}

std::vector<SimIt6805::CecSent> SimIt6805::cecSent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cecSent.items();
}

uint8_t SimIt6805::reg(int bank, uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return r == REG_BANK ? m_regs[0][REG_BANK] : m_regs[size_t(bank & 7)][r];
}

uint8_t SimIt6805::cecReg(uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cecRegs[r];
}

bool SimIt6805::hotPlugHigh() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return (m_regs[BANK_FRONTEND_P0][REG_HPD] & HPD_MASK) == HPD_HIGH;
}

uint64_t SimIt6805::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

void SimIt6805::setLogging(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logging = on;
    m_writes.clear();
}

std::vector<uint32_t> SimIt6805::writes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.items();
}

// ---------------------------------------------------------------- signal

namespace {

// Sample-rate code the chip reports for a rate in Hz.
uint8_t fsCode(uint32_t hz) {
    switch (hz) {
    case 32000: return 0x03;
    case 44100: return 0x00;
    case 88200: return 0x08;
    case 96000: return 0x0A;
    case 176400: return 0x0C;
    case 192000: return 0x0E;
    default: return 0x02;  // 48 kHz
    }
}

}  // namespace

SimIt6805::Signal SimIt6805::signal() const {
    Signal s;
    if (m_input < 0 || m_input >= 6) return s;
    const SimSource src = m_scenario.input(m_input);
    s.power = src.present;
    const bool hpd = (m_regs[BANK_FRONTEND_P0][REG_HPD] & HPD_MASK) == HPD_HIGH;
    const SimVideoTiming t = simVideoTiming(src);
    // A source sends only while the sink holds hot-plug high; it trains
    // again as soon as hot-plug comes back.
    s.locked = s.power && hpd && t.htotal != 0;
    if (!s.locked) return s;
    s.hdmi = !src.dvi;
    s.colour = s.hdmi ? uint8_t(src.color) : 0;
    s.quant = s.hdmi ? uint8_t(src.range) : 0;
    s.colorimetry = s.hdmi ? uint8_t(src.colorimetry) : 0;
    s.audioHz = s.hdmi ? src.audioRateHz : 0;
    s.audioChannels = src.audioChannels ? src.audioChannels : 2;
    s.vic = s.hdmi ? t.vic : 0;
    // 4:2:0 carries two pixels per clock: half the horizontal values.
    const uint32_t div = s.colour == 3 ? 2 : 1;
    s.hact = t.hact / div;
    s.hsync = t.hsync / div;
    s.htotal = t.htotal / div;
    s.hfront = (t.htotal - t.hact - t.hsync - t.hback) / div;
    s.vact = t.vact;
    s.vsync = t.vsync;
    s.vtotal = t.vtotal;
    s.vfront = t.vtotal - t.vact - t.vsync - t.vback;
    s.interlaced = t.interlaced;
    const uint32_t pixel = t.pixelKHz ? t.pixelKHz : uint32_t(uint64_t(t.htotal) * t.vtotal * t.rate / 1000);
    s.pclkKHz = pixel / div;
    s.tmdsKHz = s.pclkKHz;
    return s;
}

void SimIt6805::followEdid() {
    std::vector<uint8_t> edid;
    if (!m_edid || !m_edid(edid)) return;
    m_scenario.followEdid(m_input, edid);
}

void SimIt6805::refreshLatches(const Signal& s) {
    if (s.power != m_lastPower) {
        m_lastPower = s.power;
        m_regs[0][REG_INT_P0_SYS] |= INT5_PWR5V;
    }
    if (s.locked != m_lastScdt) {
        m_lastScdt = s.locked;
        m_regs[0][REG_INT_VID] |= INT10_SCDT;
    }
    // HDMI/DVI mode change, seen while the clock runs.
    if (s.locked && s.hdmi != m_lastHdmi) m_regs[0][REG_INT_P0_SYS] |= INT5_HDMI_MODE;
    if (s.locked) m_lastHdmi = s.hdmi;
    const uint8_t avi = s.locked && s.hdmi ? uint8_t(s.colour << 5) : 0;
    if (s.locked && avi != m_lastAvi) m_regs[0][REG_INT_PKT] |= INT12_AVI;
    if (s.locked) m_lastAvi = avi;
}

SimIt6805::Signal SimIt6805::sync() {
    const bool hpd = (m_regs[BANK_FRONTEND_P0][REG_HPD] & HPD_MASK) == HPD_HIGH;
    if (hpd && !m_lastHpd) {
        const SimSource src = m_scenario.input(m_input);
        if (src.present && src.followsEdid) followEdid();
    }
    m_lastHpd = hpd;
    const Signal s = signal();
    refreshLatches(s);
    return s;
}

uint8_t SimIt6805::rxRead(uint8_t r) {
    if (r == REG_BANK) return m_regs[0][REG_BANK];
    const Signal s = sync();
    const int b = bank();
    auto& regs = m_regs[size_t(b)];
    if (b == 0) {
        const bool a = layoutA();
        switch (r) {
        case REG_ID0: return ID0;
        case REG_ID1: return ID1;
        case REG_ID2: return m_id2;
        case REG_ID3: return ID3;
        case REG_REVISION: return m_revision;
        case REG_P0_STATUS:
            if (!s.power) return 0;
            return s.locked ? uint8_t(0xBD | (s.hdmi ? ST_HDMI : 0)) : ST_PWR5V;
        case REG_P0_STATUS2:
            return s.locked ? uint8_t(ST2_LOCKS | (s.tmdsKHz > 340000 ? ST2_HDMI2 | ST2_ABOVE_1G : 0)) : 0;
        case REG_SYS_STATUS: return uint8_t((regs[r] & 0x7F) | (s.locked ? SYS_SCDT : 0));
        case REG_TMDS_SCALE:
        case REG_TMDS_COUNT: {
            if (!s.locked || !s.tmdsKHz) return r == REG_TMDS_SCALE ? 0 : 0xFF;
            // The largest scale whose count still fits a byte; the count is
            // of whole reference periods, as the pixel clock's below.
            static const uint32_t scales[] = {1024, 512, 256, 128};
            static const uint8_t bits[] = {0x80, 0x40, 0x20, 0x00};
            for (int i = 0; i < 4; ++i) {
                const uint64_t count = uint64_t(m_oscKHz) * scales[i] / s.tmdsKHz;
                if (count <= 255 || i == 3)
                    return r == REG_TMDS_SCALE ? bits[i] : uint8_t(std::min<uint64_t>(std::max<uint64_t>(count, 1), 255) - 1);
            }
            return 0;
        }
        case REG_VID_MODE: return uint8_t(s.interlaced ? 0x02 : 0x00);
        case REG_PCLK_LO:
        case REG_PCLK_HI: {
            // Twenty readings that add up to the sum the clock gives, so
            // the average is exact however the counts round.
            uint32_t c = 0;
            if (s.locked && s.pclkKHz) {
                const uint64_t sum = 10240ull * m_oscKHz / s.pclkKHz;  // never reads slow
                const unsigned k = m_pclkSample % 20;
                c = uint32_t(sum * (k + 1) / 20 - sum * k / 20);
                c = std::min<uint32_t>(c, 0x3FF);
            }
            if (r == REG_PCLK_LO) {
                ++m_pclkSample;
                return uint8_t(c);
            }
            return uint8_t((regs[r] & 0x80) | ((c >> 8) & 0x03));
        }
        case REG_VID_POL:
            return uint8_t((regs[r] & POL_AVMUTE) | (s.hpol ? POL_H : 0) | (s.vpol ? POL_V : 0));
        case REG_AUD_STATUS:
            return s.audioHz ? uint8_t(0x80 | ((1u << ((s.audioChannels + 1) / 2)) - 1)) : 0x00;
        case REG_AUD_FS: {
            const uint8_t code = m_fsCode >= 0 ? uint8_t(m_fsCode) : s.locked ? fsCode(s.audioHz) : 0;
            return uint8_t(((code & 0x30) << 2) | (code & 0x0F));
        }
        default: break;
        }
        // Timing registers of the two layouts.
        auto lo = [](uint32_t v) { return uint8_t(v & 0xFF); };
        auto hi6 = [](uint32_t v) { return uint8_t((v >> 8) & 0x3F); };
        if (r >= 0x9B && r <= 0xAB && r != REG_VID_POL) {
            if (!s.locked) return 0;
            switch (r) {
            case 0x9B: return lo(s.htotal);
            case 0x9C: return hi6(s.htotal);
            case 0x9D: return lo(s.hact);
            case 0x9E: return hi6(s.hact);
            default: break;
            }
            if (a) {
                switch (r) {
                case 0x9F: return lo(s.hsync);
                case 0xA0: return hi6(s.hsync);
                case 0xA1: return lo(s.hfront);
                case 0xA2: return hi6(s.hfront);
                case 0xA3: return lo(s.vtotal);
                case 0xA4: return hi6(s.vtotal);
                case 0xA5: return lo(s.vact);
                case 0xA6: return hi6(s.vact);
                case 0xA7: return lo(s.vsync);
                case 0xA8: return hi6(s.vsync);
                case 0xA9: return lo(s.vfront);
                case 0xAB: return hi6(s.vfront);
                default: return 0;
                }
            }
            switch (r) {
            case 0x9F: return lo(s.hsync);
            case 0xA0: return lo(s.hfront);
            case 0xA1: return uint8_t(((s.hsync >> 8) & 0x01) | ((s.hfront >> 4) & 0xF0));
            case 0xA2: return lo(s.vtotal);
            case 0xA3: return hi6(s.vtotal);
            case 0xA4: return lo(s.vact);
            case 0xA5: return hi6(s.vact);
            case 0xA6: return lo(s.vsync);
            case 0xA7: return lo(s.vfront);
            case 0xA8: return uint8_t(((s.vsync >> 8) & 0x01) | ((s.vfront >> 4) & 0xF0));
            default: return 0;
            }
        }
        return regs[r];
    }
    if (b == 1) {
        if (r == REG_OSC_READY) return OSC_READY;
        if (r == REG_OSC_D0 || r == REG_OSC_D1) {
            const uint8_t s0 = regs[REG_OSC_SEL0], s1 = regs[REG_OSC_SEL1];
            const uint32_t v = m_oscHundredths ? m_oscKHz * 100 : m_oscKHz;
            if (s0 == 0 && s1 == 0xB0) return r == REG_OSC_D0 ? uint8_t(v) : uint8_t(v >> 8);
            if (s0 == 0 && s1 == 0xB1) return r == REG_OSC_D0 ? uint8_t(v >> 16) : (m_oscHundredths ? 0xC0 : 0);
            return 0;
        }
        return regs[r];
    }
    if (b == 2) {
        if (r >= REG_AVI_DB1 && r <= REG_AVI_DB5) {
            if (!s.locked || !s.hdmi) return 0;
            switch (r) {
            case REG_AVI_DB1: return uint8_t(s.colour << 5);
            case REG_AVI_DB2: return uint8_t(s.colorimetry << 6);
            case REG_AVI_DB3: return uint8_t(s.quant << 2);
            case REG_AVI_DB4: return m_vic >= 0 ? uint8_t(m_vic) : s.vic;
            default: return 0;
            }
        }
        if (r >= REG_N_HI && r <= REG_CTS_MID) {
            if (!s.locked || !s.audioHz) return 0;
            const uint32_t n = 128 * s.audioHz / 1000;
            const uint32_t cts = uint32_t(uint64_t(s.tmdsKHz) * 1000 * n / (128ull * s.audioHz));
            switch (r) {
            case REG_N_HI: return uint8_t(n >> 12);
            case REG_N_MID: return uint8_t(n >> 4);
            case REG_N_LO_CTS_LO: return uint8_t((n & 0x0F) | ((cts & 0x0F) << 4));
            case REG_CTS_HI: return uint8_t(cts >> 12);
            default: return uint8_t(cts >> 4);
            }
        }
        return regs[r];
    }
    if (b == BANK_FRONTEND_P0) {
        const size_t ch = std::min<size_t>(2, regs[REG_EQ_CHSEL] >> 6);
        switch (r) {
        case REG_EQ_RES1_LO: return uint8_t(m_eqResults[ch][0]);
        case REG_EQ_RES1_HI: return uint8_t(m_eqResults[ch][0] >> 8);
        case REG_EQ_RES2_LO: return uint8_t(m_eqResults[ch][1]);
        case REG_EQ_RES2_HI: return uint8_t(m_eqResults[ch][1] >> 8);
        case REG_BER_LO:
        case REG_BER_HI: {
            const size_t bch = std::min<size_t>(2, (regs[REG_BER_SEL] >> 5) & 0x03);
            return m_ber[bch][r == REG_BER_LO ? 0 : 1];
        }
        default: break;
        }
        if (r >= REG_DFE_A && r <= REG_DFE_A + 3)
            return m_dfe[ch][regs[REG_DFE_INDEX] & 0x0F][size_t(r - REG_DFE_A)];
        return regs[r];
    }
    if (b == 5 && r == REG_OUT_STATUS) return uint8_t(0x10 | m_outBits);
    return regs[r];
}

void SimIt6805::rxWrite(uint8_t r, uint8_t v) {
    const int b = r == REG_BANK ? 0 : bank();
    if (m_logging) m_writes.push(uint32_t(b) << 16 | uint32_t(r) << 8 | v);
    if (r == REG_BANK) {
        m_regs[0][REG_BANK] = v;
        return;
    }
    sync();
    auto& regs = m_regs[size_t(b)];
    if (b == 0) {
        switch (r) {
        case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0D:
        case 0x10: case 0x11: case 0x12: case 0x1D: case 0xD4: case 0xD5:
            regs[r] &= uint8_t(~v);
            return;
        case REG_AUD_ERR:
        case REG_AUD_PARITY:
            regs[r] = m_parityOk ? uint8_t(regs[r] & ~v) : 0x01;
            return;
        case 0x2A:
            if ((v & 0x40) && !m_calStalls[0]) regs[REG_INT_P0_CLK] |= INT8_CAL_DONE;
            break;
        case 0x32:
            if ((v & 0x40) && !m_calStalls[1]) regs[REG_INT_P1_CLK] |= INT8_CAL_DONE;
            break;
        default: break;
        }
    }
    regs[r] = v;
}

// ---------------------------------------------------------------- CEC

uint8_t SimIt6805::cecRead(uint8_t r) {
    switch (r) {
    case CEC_REG_INT:
        // Messages left in the FIFO keep the receive interrupt raised.
        if (!m_cecFifo.empty()) m_cecRegs[r] |= 0x10;
        return m_cecRegs[r];
    case CEC_REG_RX_COUNT:
        return uint8_t((m_cecRegs[r] & 0xF0) | std::min<size_t>(m_cecFifo.size(), 15));
    case CEC_REG_RX_HEADER:
        m_cecCurrent = CecMsg{};
        m_cecOperand = 0;
        if (!m_cecFifo.empty()) {
            m_cecCurrent = m_cecFifo.front();
            if (!m_cecStuck) m_cecFifo.pop_front();
        }
        return m_cecCurrent.bytes.empty() ? 0 : m_cecCurrent.bytes[0];
    case CEC_REG_RX_OPCODE: return m_cecCurrent.bytes.size() > 1 ? m_cecCurrent.bytes[1] : 0;
    case CEC_REG_RX_SIZE: return m_cecCurrent.size;
    case CEC_REG_RX_OPERAND: {
        const size_t i = 2 + m_cecOperand++;
        return i < m_cecCurrent.bytes.size() ? m_cecCurrent.bytes[i] : 0;
    }
    default: return m_cecRegs[r];
    }
}

void SimIt6805::cecWrite(uint8_t r, uint8_t v) {
    switch (r) {
    case CEC_REG_INT: m_cecRegs[r] &= uint8_t(~v); return;
    case CEC_REG_FIRE: {
        const uint8_t old = m_cecRegs[r];
        m_fireWrites.push(v);
        if ((old & 0x88) == 0x08 && (v & 0x88) == 0x88) {
            CecSent sent;
            const size_t len = std::min<size_t>(m_cecRegs[CEC_REG_TX_LEN], 0x20);
            sent.bytes.assign(m_cecRegs.begin() + CEC_REG_TX_BUF, m_cecRegs.begin() + CEC_REG_TX_BUF + len);
            sent.fireWrites = m_fireWrites.items();
            m_cecSent.push(std::move(sent));
            m_fireWrites.clear();
            m_cecRegs[CEC_REG_INT] |= CEC_INT_TX_DONE;
        }
        m_cecRegs[r] = v;
        return;
    }
    case CEC_REG_RX_COUNT:
        if ((v & 0x80) && !m_cecStuck) m_cecFifo.clear();
        m_cecRegs[r] = uint8_t(v & 0xF0);
        return;
    default: m_cecRegs[r] = v; return;
    }
}

// ---------------------------------------------------------------- board

void simAttachIt6805(SimBoard& board) {
    using namespace source_bus;
    const uint8_t revision[2] = {0x10, 0x20}, id2[2] = {0x05, 0x07};
    std::vector<std::weak_ptr<SimIt6805>> chips;
    for (int rx = 0; rx < 2; ++rx) {
        const int input = 4 + rx;
        auto chip = std::make_shared<SimIt6805>(board.scenario(), input, revision[rx], id2[rx]);
        board.attachI2cBehind(kDevice, kRxSwitch >> 1, kChannel[input], kIt6805 >> 1, chip);
        board.attachI2cBehind(kDevice, kRxSwitch >> 1, kChannel[input], kIt6805Cec >> 1, chip->cec());
        chip->setEdidReader(simEdidReader(board, input));
        chips.push_back(chip);
    }
    board.simGpio().watch([chips](const std::string& name, int value) {
        if (name != GpioName::kIt6805Reset) return;
        for (const auto& w : chips)
            if (auto c = w.lock()) c->setResetLow(value == 0);
    });
}

std::shared_ptr<SimIt6805> simIt6805(SimBoard& board, int rx) {
    using namespace source_bus;
    if (rx < 0 || rx > 1) return nullptr;
    return std::dynamic_pointer_cast<SimIt6805>(
        board.i2cModelBehind(kDevice, kRxSwitch >> 1, kChannel[4 + rx], kIt6805 >> 1));
}
