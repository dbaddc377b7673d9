#include "sim/sim_it6602.h"

#include "platform/gpio.h"
#include "sim/sim_board.h"
#include "sim/sim_c331_inputs.h"
#include "sim/sim_edid_eeprom.h"
#include "video_io/source_map.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

constexpr uint8_t kId[4] = {0x54, 0x49, 0x02, 0x68};
constexpr uint8_t kBankReg = 0x0F;
constexpr uint8_t kHpdReg = 0xB0;  // bank 1

bool writeOneToClear(uint8_t bank, uint8_t reg) { return (reg >= 0x05 && reg <= 0x09) || (bank == 0 && reg == 0xD0); }

// IEC 60958 sample-frequency code of a rate.
uint8_t rateCode(uint32_t hz) {
    switch (hz) {
    case 44100: return 0x0;
    case 48000: return 0x2;
    case 32000: return 0x3;
    case 88200: return 0x8;
    case 96000: return 0xA;
    case 176400: return 0xC;
    case 192000: return 0xE;
    default: return 0x1;
    }
}

// A clock count is the whole periods of the reference the chip counts in its
// window, so it drops the part period: a count rounded up would make the
// clock read slow (3162 / 74.25 MHz = 42.6 counts 42, not 43).
uint8_t clampCount(double c) { return uint8_t(std::min(255.0, std::max(1.0, std::floor(c)))); }

}  // namespace

SimIt6602::SimIt6602(SimScenario& scenario, int input) : m_scenario(scenario), m_input(input) { powerOn(); }

std::shared_ptr<I2cModel> SimIt6602::at(uint8_t address) { return std::make_shared<Port>(shared_from_this(), address); }

void SimIt6602::setStrap(Strap strap) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strap = strap;
}

void SimIt6602::setReset(bool held) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reset = held;
    powerOn();
}

void SimIt6602::setEdidReader(EdidReader reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_edid = std::move(reader);
}

void SimIt6602::setAccessHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void SimIt6602::raise(uint8_t reg, uint8_t bits) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (reg < 0x10)
        m_common[reg] |= bits;
    else
        m_bank[0][reg] |= bits;
}

void SimIt6602::setRegister(uint8_t bank, uint8_t reg, uint8_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (reg < 0x10)
        m_common[reg] = value;
    else
        m_bank[bank % 3][reg] = value;
}

void SimIt6602::force(uint8_t bank, uint8_t reg, int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (value < 0)
        m_forced.erase({bank, reg});
    else
        m_forced[{bank, reg}] = uint8_t(value);
}

uint8_t SimIt6602::stored(uint8_t bank, uint8_t reg) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return reg < 0x10 ? m_common[reg] : m_bank[bank % 3][reg];
}

std::vector<SimIt6602::Write> SimIt6602::writes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.items();
}

void SimIt6602::clearWrites() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
}

uint64_t SimIt6602::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

uint8_t SimIt6602::hotPlug() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bank[1][kHpdReg] & 0x03;
}

bool SimIt6602::answers(uint8_t address) const {
    if (m_reset) return false;
    switch (m_strap) {
    case Strap::At90: return address == 0x90;
    case Strap::At94Only: return address == 0x94;
    default: return false;
    }
}

void SimIt6602::powerOn() {
    std::memset(m_common, 0, sizeof m_common);
    std::memset(m_bank, 0, sizeof m_bank);
    std::copy(std::begin(kId), std::end(kId), m_common);
    m_pointer = 0;
    m_power = m_scdt = m_hpd = false;
}

void SimIt6602::followEdid() {
    std::vector<uint8_t> edid;
    if (m_edid && m_edid(edid)) m_scenario.followEdid(m_input, edid);
}

void SimIt6602::sync() {
    const bool hpd = (m_bank[1][kHpdReg] & 0x03) == 0x03;
    SimSource s = m_scenario.input(m_input);
    if (hpd && !m_hpd && s.present && s.followsEdid) {
        followEdid();
        s = m_scenario.input(m_input);
    }
    m_hpd = hpd;
    m_source = s;
    const bool power = s.present;
    const bool scdt = power && hpd && simVideoTiming(s).htotal != 0;
    if (power != m_power) m_common[0x05] |= 0x01;
    if (scdt != m_scdt) m_common[0x07] |= 0x02;
    m_power = power;
    m_scdt = scdt;
}

uint8_t& SimIt6602::cell(uint8_t reg) {
    return reg < 0x10 ? m_common[reg] : m_bank[(m_common[kBankReg] & 0x03) % 3][reg];
}

bool SimIt6602::measured(uint8_t bank, uint8_t reg, uint8_t& v) const {
    auto forced = m_forced.find({bank, reg});
    if (forced != m_forced.end()) {
        v = forced->second;
        return true;
    }
    const SimSource& s = m_source;
    const SimVideoTiming t = m_scdt ? simVideoTiming(s) : SimVideoTiming{};
    const bool hdmi = m_scdt && !s.dvi;
    const double mhz = t.pixelKHz / 1000.0;
    if (reg == 0x0A) {
        v = uint8_t((m_power ? 0x01 : 0) | (hdmi ? 0x02 : 0) | (m_scdt ? 0x88 : 0));
        return true;
    }
    if (reg == 0x0B || reg == 0x0C) {
        v = 0;
        return true;
    }
    if (bank == 0) {
        const uint32_t hfp = t.htotal - t.hact - t.hsync - t.hback;
        const uint32_t vfp = t.vtotal - t.vact - t.vsync - t.vback;
        const bool audio = hdmi && s.audioRateHz;
        switch (reg) {
        case 0x90:
        case 0x91: {
            uint8_t div = 0, count = 0;
            if (mhz > 0) {
                if (12288.0 / mhz <= 255.0)
                    div = 0x02, count = clampCount(12288.0 / mhz);
                else if (6144.0 / mhz <= 255.0)
                    div = 0x01, count = clampCount(6144.0 / mhz);
                else
                    count = clampCount(3072.0 / mhz);
            }
            v = reg == 0x90 ? div : count;
            return true;
        }
        case 0x92: v = 0; return true;
        case 0x99: v = m_scdt ? uint8_t(0x40 | (t.interlaced ? 0x02 : 0)) : 0; return true;
        case 0x9A: v = mhz > 0 ? clampCount(3162.0 / mhz) : 0; return true;
        case 0x9C: v = uint8_t(t.htotal); return true;
        case 0x9D: v = uint8_t((t.htotal >> 8) & 0x3F); return true;
        case 0x9E: v = uint8_t(t.hact); return true;
        case 0x9F: v = uint8_t((t.hact >> 8) & 0x3F); return true;
        case 0xA0: v = uint8_t(t.hsync); return true;
        case 0xA1: v = uint8_t(((hfp >> 8) & 0x0F) << 4 | ((t.hsync >> 8) & 0x01)); return true;
        case 0xA2: v = uint8_t(hfp); return true;
        case 0xA3: v = uint8_t(t.vtotal); return true;
        case 0xA4: v = uint8_t(((t.vact >> 8) & 0x0F) << 4 | ((t.vtotal >> 8) & 0x0F)); return true;
        case 0xA5: v = uint8_t(t.vact); return true;
        case 0xA6: v = uint8_t(t.vsync & 0x1F); return true;
        case 0xA7: v = uint8_t(vfp & 0x3F); return true;
        case 0xA8: v = 0; return true;
        case 0xAA: v = audio ? uint8_t(0x80 | ((1u << ((s.audioChannels + 1) / 2)) - 1)) : 0; return true;
        case 0xAB: v = 0; return true;
        case 0xAE: v = audio ? rateCode(s.audioRateHz) : 0; return true;
        default: return false;
        }
    }
    if (bank == 2) {
        const uint8_t pb1 = uint8_t(uint8_t(s.color) << 5);
        const uint8_t pb2 = uint8_t(uint8_t(s.colorimetry) << 6 | 0x28);
        const uint8_t pb3 = uint8_t(uint8_t(s.range) << 2);
        const uint8_t pb4 = t.vic;
        switch (reg) {
        case 0x14: v = hdmi ? uint8_t(0x100 - ((0x82 + 0x02 + 0x0D + pb1 + pb2 + pb3 + pb4) & 0xFF)) : 0; return true;
        case 0x15: v = hdmi ? pb1 : 0; return true;
        case 0x16: v = hdmi ? pb2 : 0; return true;
        case 0x17: v = hdmi ? pb3 : 0; return true;
        case 0x18: v = hdmi ? pb4 : 0; return true;
        case 0x19: v = 0; return true;
        case 0x24: v = hdmi ? 0x81 : 0; return true;
        case 0x28: v = hdmi ? 0x03 : 0; return true;
        case 0x29: v = hdmi ? 0x0C : 0; return true;
        case 0x2A:
        case 0x2B: v = 0; return true;
        case 0xC0: v = uint8_t((t.pixelKHz & 0x0F) << 4); return true;
        case 0xC1: v = uint8_t(t.pixelKHz >> 12); return true;
        case 0xC2: v = uint8_t(t.pixelKHz >> 4); return true;
        default: return false;
        }
    }
    return false;
}

uint8_t SimIt6602::readReg(uint8_t reg) {
    uint8_t v;
    const uint8_t bank = reg < 0x10 ? 0 : m_common[kBankReg] & 0x03;
    if (measured(bank, reg, v)) return v;
    return cell(reg);
}

void SimIt6602::writeReg(uint8_t reg, uint8_t value) {
    const uint8_t bank = m_common[kBankReg] & 0x03;
    m_writes.push({bank, reg, value});
    if (reg < 0x04) return;  // identification is read-only
    if (writeOneToClear(reg < 0x10 ? 0 : bank, reg))
        cell(reg) &= uint8_t(~value);
    else
        cell(reg) = value;
}

void SimIt6602::runHook() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hook = m_hook;
    }
    if (hook) hook();
}

bool SimIt6602::write(uint8_t address, const uint8_t* data, uint16_t len) {
    runHook();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!answers(address)) return false;
    ++m_messages;
    sync();
    if (len == 0) return true;
    m_pointer = data[0];
    for (uint16_t i = 1; i < len; ++i) writeReg(m_pointer++, data[i]);
    return true;
}

bool SimIt6602::read(uint8_t address, uint8_t* buf, uint16_t len) {
    runHook();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!answers(address)) return false;
    ++m_messages;
    sync();
    for (uint16_t i = 0; i < len; ++i) buf[i] = readReg(m_pointer++);
    return true;
}

void simAttachIt6602(SimBoard& board) {
    using namespace source_bus;
    std::vector<std::weak_ptr<SimIt6602>> chips;
    for (int i = 0; i < 4; ++i) {
        auto chip = std::make_shared<SimIt6602>(board.scenario(), i);
        chip->setEdidReader(simEdidReader(board, i));
        for (uint8_t address : {kIt6602, kIt6602Alt})
            board.attachI2cBehind(kDevice, kRxSwitch >> 1, kChannel[i], address >> 1, chip->at(address));
        chips.push_back(chip);
    }
    board.simGpio().watch([chips](const std::string& name, int value) {
        if (name != GpioName::kIt6602Reset) return;
        for (const auto& w : chips)
            if (auto m = w.lock()) m->setReset(value == 0);
    });
}

std::shared_ptr<SimIt6602> simIt6602(SimBoard& board, int input) {
    using namespace source_bus;
    if (input < 0 || input > 3) return nullptr;
    auto port = std::dynamic_pointer_cast<SimIt6602::Port>(
        board.i2cModelBehind(kDevice, kRxSwitch >> 1, kChannel[input], kIt6602 >> 1));
    return port ? port->chip().shared_from_this() : nullptr;
}
