#include "sim/sim_c331_inputs.h"

#include "sim/sim_board.h"
#include "sim/sim_c331.h"

#include <memory>
#include <mutex>

namespace {

const int kPortInput[6] = {3, 2, 1, 0, 5, 4};
constexpr uint32_t kMeasureClock = 200000000;

struct Known {
    uint32_t w, h, rate;
    bool interlaced;
    SimVideoTiming t;
};

// Usual timings: active, sync, back porch, total per direction, CEA code,
// pixel clock. The last two are the VESA ones of the monitors sources most
// often send to (1280x1024 DMT, 1920x1200 reduced blanking), without a code.
const Known kKnown[] = {
    {1920, 1080, 60, false, {1920, 44, 148, 2200, 1080, 5, 36, 1125, 60, false, 16, 148500}},
    {1920, 1080, 50, false, {1920, 44, 148, 2640, 1080, 5, 36, 1125, 50, false, 31, 148500}},
    {1920, 1080, 30, false, {1920, 44, 148, 2200, 1080, 5, 36, 1125, 30, false, 34, 74250}},
    {1920, 1080, 25, false, {1920, 44, 148, 2640, 1080, 5, 36, 1125, 25, false, 33, 74250}},
    {1920, 1080, 24, false, {1920, 44, 148, 2750, 1080, 5, 36, 1125, 24, false, 32, 74250}},
    {1920, 1080, 60, true, {1920, 44, 148, 2200, 540, 5, 15, 562, 60, true, 5, 74250}},
    {1920, 1080, 50, true, {1920, 44, 148, 2640, 540, 5, 15, 562, 50, true, 20, 74250}},
    {1280, 720, 60, false, {1280, 40, 220, 1650, 720, 5, 20, 750, 60, false, 4, 74250}},
    {1280, 720, 50, false, {1280, 40, 220, 1980, 720, 5, 20, 750, 50, false, 19, 74250}},
    {1280, 720, 30, false, {1280, 40, 220, 3300, 720, 5, 20, 750, 30, false, 62, 74250}},
    {1280, 720, 25, false, {1280, 40, 220, 3960, 720, 5, 20, 750, 25, false, 61, 74250}},
    {1280, 720, 24, false, {1280, 40, 220, 3300, 720, 5, 20, 750, 24, false, 60, 59400}},
    {3840, 2160, 60, false, {3840, 88, 296, 4400, 2160, 10, 72, 2250, 60, false, 97, 594000}},
    {3840, 2160, 30, false, {3840, 88, 296, 4400, 2160, 10, 72, 2250, 30, false, 95, 297000}},
    {720, 480, 60, false, {720, 62, 60, 858, 480, 6, 30, 525, 60, false, 2, 27000}},
    {720, 480, 60, true, {720, 62, 57, 858, 240, 3, 15, 262, 60, true, 6, 13500}},
    {720, 576, 50, false, {720, 64, 68, 864, 576, 5, 39, 625, 50, false, 17, 27000}},
    {720, 576, 50, true, {720, 63, 69, 864, 288, 3, 19, 312, 50, true, 21, 13500}},
    {1280, 1024, 60, false, {1280, 112, 248, 1688, 1024, 3, 38, 1066, 60, false, 0, 108000}},
    {1920, 1200, 60, false, {1920, 32, 80, 2080, 1200, 6, 26, 1235, 60, false, 0, 154000}},
};

// Which measurement of which c331 port a register holds, and which byte.
enum Field { NONE, HTT, VTT, VCNT, PERIOD, HW };
struct Where {
    Field field = NONE;
    int port = -1;
    int byte = 0;
};

Where locate(uint8_t bank, uint8_t reg) {
    Where w;
    auto in = [&](int start, int width, int count, int stride, Field f, int firstPort) {
        for (int i = 0; i < count; ++i) {
            const int r = start + stride * i;
            if (reg >= r && reg < r + width) {
                w.field = f;
                w.port = firstPort + (firstPort >= 4 ? 0 : i);
                w.byte = reg - r;
                return true;
            }
        }
        return false;
    };
    if (bank == 0xAE) {
        if (in(0x08, 2, 4, 2, HTT, 0)) return w;
        if (in(0x10, 2, 1, 0, HTT, 4) || in(0x18, 2, 1, 0, HTT, 5)) return w;
        if (in(0x20, 2, 4, 2, VTT, 0)) return w;
        if (in(0x28, 2, 1, 0, VTT, 4) || in(0x30, 2, 1, 0, VTT, 5)) return w;
        if (in(0x38, 2, 4, 2, VCNT, 0)) return w;
        if (in(0x40, 2, 4, 2, VCNT, 4) || in(0x48, 2, 4, 2, VCNT, 5)) return w;
        if (in(0x50, 3, 4, 3, PERIOD, 0)) return w;
        if (in(0x5C, 3, 4, 3, PERIOD, 4) || in(0x68, 3, 4, 3, PERIOD, 5)) return w;
    } else if (bank == 0xAF) {
        if (in(0x08, 2, 4, 2, HW, 0)) return w;
        if (in(0x10, 2, 1, 0, HW, 4) || in(0x18, 2, 1, 0, HW, 5)) return w;
    }
    return Where{};
}

}  // namespace

SimVideoTiming simVideoTiming(const SimSource& s) {
    if (!s.present || s.width == 0 || s.height == 0) return SimVideoTiming{};
    const uint32_t rate = s.refreshHz ? s.refreshHz : 60;
    for (const Known& k : kKnown)
        if (k.w == s.width && k.h == s.height && k.rate == rate && k.interlaced == s.interlaced) return k.t;
    SimVideoTiming t;
    t.interlaced = s.interlaced;
    t.rate = rate;
    t.hact = s.width;
    t.hsync = 32;
    t.hback = 80;
    t.htotal = s.width + 160;
    t.vact = s.interlaced ? s.height / 2 : s.height;
    t.vsync = 5;
    t.vback = s.interlaced ? 10 : 20;
    t.vtotal = t.vact + (s.interlaced ? 22 : 45);
    // An interlaced frame has one line more than its two fields.
    const uint64_t frameLines = s.interlaced ? 2ull * t.vtotal + 1 : t.vtotal;
    const uint64_t frameRate10 = s.interlaced ? 5ull * rate : 10ull * rate;
    t.pixelKHz = uint32_t((uint64_t(t.htotal) * frameLines * frameRate10 + 5000) / 10000);
    return t;
}

bool simC331InputRegister(const SimScenarioData& sc, uint8_t bank, uint8_t reg, uint8_t& value) {
    return simC331InputRegister(sc.inputs, bank, reg, value);
}

bool simC331InputRegister(const std::array<SimSource, 6>& inputs, uint8_t bank, uint8_t reg, uint8_t& value) {
    if (bank == 0xB2 && reg == 0x64) {
        value = 0;
        for (int c = 0; c < 2; ++c)
            if (simVideoTiming(inputs[kPortInput[4 + c]]).htotal) value |= uint8_t(1u << (5 + 2 * c));
        return true;
    }
    const Where w = locate(bank, reg);
    if (w.field == NONE) return false;
    const SimVideoTiming t = simVideoTiming(inputs[kPortInput[w.port]]);
    const bool on = t.htotal != 0;
    uint32_t v = 0;
    switch (w.field) {
    case HTT: v = on ? t.htotal - 1 : 0xFFFF; break;
    case VTT: v = on ? t.vtotal : 0; break;
    case VCNT: v = on ? t.vtotal - 1 : 0xFFFF; break;
    case PERIOD: v = on ? kMeasureClock / t.rate - 1 : 0xFFFFFF; break;  // whole 200 MHz periods
    case HW: v = on ? t.hact : 0; break;
    default: break;
    }
    value = uint8_t(v >> (8 * w.byte));
    return true;
}

namespace {

// Port whose picture input channel n takes, by its source select 00:(10+n):
// 2p for CMOS port p, 8 to 11 for Vby-One port 4, 12 to 15 for port 5.
int channelPort(const SimC331& chip, int n) {
    const uint8_t sel = chip.reg(0x00, uint8_t(0x10 + n));
    if (sel < 8) return sel / 2;
    if (sel <= 11) return 4;
    if (sel >= 12 && sel <= 15) return 5;
    return -1;
}

// What the channel's source sends, from the live scenario.
SimVideoTiming channelTiming(SimBoard& board, const SimC331& chip, int n) {
    const int port = channelPort(chip, n);
    if (port < 0) return SimVideoTiming{};
    return simVideoTiming(board.scenario().input(int(kPortInput[port])));
}

// The measurement registers hold what was measured when 00:29 was last
// written with bit 7 set.
struct Latch {
    std::mutex mutex;
    std::array<SimSource, 6> measured{};
};

}  // namespace

void simC331AttachInputs(SimBoard& board, SimC331& chip) {
    SimBoard* b = &board;
    SimC331* c = &chip;
    auto latch = std::make_shared<Latch>();
    chip.setChannelRate([b, c](int n) { return channelTiming(*b, *c, n).rate; });
    chip.addWriteHook([b, latch](uint8_t bank, uint8_t reg, uint8_t value) {
        if (bank != 0x00 || reg != 0x29 || !(value & 0x80)) return;
        const std::array<SimSource, 6> now = b->scenario().inputs();
        std::lock_guard<std::mutex> lock(latch->mutex);
        latch->measured = now;
    });
    chip.addReadHook([b, c, latch](uint8_t bank, uint8_t reg, uint8_t& value) {
        if (bank == 0xB2) return simC331InputRegister(b->scenario().inputs(), bank, reg, value);
        if (bank == 0xAE || bank == 0xAF) {
            std::lock_guard<std::mutex> lock(latch->mutex);
            return simC331InputRegister(latch->measured, bank, reg, value);
        }
        // A8:(08 + 6k)/2 and A8:(0A + 6k)/2: total pixels per line - 1 and
        // active lines per field of what input channel k (0-3) receives.
        if (bank == 0xA8 && reg >= 0x08 && reg < 0x08 + 4 * 6 && (reg - 0x08) % 6 < 4) {
            const int k = (reg - 0x08) / 6, at = (reg - 0x08) % 6;
            const SimVideoTiming t = channelTiming(*b, *c, k);
            const uint32_t v = at < 2 ? (t.htotal ? t.htotal - 1 : 0) : t.vact;
            value = uint8_t(v >> (8 * (at % 2)));
            return true;
        }
        // A8:(3F + 5n) reads 0xFF while input channel n has no picture.
        if (bank == 0xA8 && reg >= 0x3F && (reg - 0x3F) % 5 == 0 && (reg - 0x3F) / 5 < 8) {
            value = channelTiming(*b, *c, (reg - 0x3F) / 5).rate ? 0x00 : 0xFF;
            return true;
        }
        // AB:(47 + n) bits 3-2: the field buffer channel n writes now, one
        // further per field (frame) of its source; bit 0 the field parity.
        if (bank == 0xAB && reg >= 0x47 && reg < 0x47 + 8) {
            const int n = reg - 0x47;
            const SimVideoTiming t = channelTiming(*b, *c, n);
            const uint64_t field = c->inputFrame(n);
            value = t.rate ? uint8_t(((field % 4) << 2) | (t.interlaced ? (field & 1) : 0)) : 0;
            return true;
        }
        return false;
    });
}
