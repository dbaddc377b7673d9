#pragma once
// The input side of the simulated c331: its measurement registers report the
// timing of whatever the board scenario plugs into each input, and the
// Vby-One receivers lock while their input carries a picture. The scenario
// is read on every register access, so plugging, unplugging or changing a
// source shows at the next measurement.
//
// c331 port -> input: 0 HDMI2, 1 HDMI1, 2 DVI, 3 EXT, 4 HDMI4, 5 HDMI3.
// Measurement registers (bank 0xAE unless said otherwise), read as value:
//   htt            total pixels - 1      CMOS p: 08+2p/2   Vby-One c: 10+8c/2
//   vtt            total lines           CMOS p: 20+2p/2   Vby-One c: 28+8c/2
//   vertical count total lines - 1       CMOS p: 38+2p/2   Vby-One c: 40+8c+2l/2 (lane pair l)
//   frame period   200 MHz counts - 1    CMOS p: 50+3p/3   Vby-One c: 5C+Cc+3l/3
//   hw             active pixels (0xAF)  CMOS p: 08+2p/2   Vby-One c: 10+8c/2
// An input without a picture reads the saturated values (all ones) in the
// counters. B2:64 bit 5 + 2c: Vby-One channel c locked.
//
// The measurement registers hold what was measured when 00:29 was last
// written with bit 7 set (the read latch): a reader that does not latch
// reads old values, before the first latch those of no picture at all.
// Input channel n takes the port its source select 00:(10+n) names: its
// frames (for the sync status and the field register AB:(47+n)) run at the
// source's rate, fields for an interlaced source; A8:(3F+5n) reads 0xFF
// while the channel has no picture.
#include "sim/sim_scenario.h"

#include <cstdint>

class SimBoard;
class SimC331;

// The timing a source of the scenario is sent with: the usual CEA timings
// for the sizes and rates that have one (1080p and 720p at 24, 25, 30, 50
// and 60 Hz, 4K, 480 and 576 lines), VESA's for 1280x1024 and 1920x1200 at
// 60 Hz, a reduced blanking otherwise. For an interlaced source the
// vertical values are those of one field and the rate is the field rate.
// `vic` is the CEA video code of the usual timings (0 for the others);
// `pixelKHz` the pixel clock they are sent with.
struct SimVideoTiming {
    uint32_t hact = 0, hsync = 0, hback = 0, htotal = 0;
    uint32_t vact = 0, vsync = 0, vback = 0, vtotal = 0;
    uint32_t rate = 0;
    bool interlaced = false;
    uint8_t vic = 0;
    uint32_t pixelKHz = 0;
};
SimVideoTiming simVideoTiming(const SimSource& source);

// Register value of a measurement register for the given scenario; false
// for a register that is not one of them.
bool simC331InputRegister(const SimScenarioData& scenario, uint8_t bank, uint8_t reg, uint8_t& value);
bool simC331InputRegister(const std::array<SimSource, 6>& inputs, uint8_t bank, uint8_t reg, uint8_t& value);

// Hooks the measurement and field registers and the input channels' frames
// of `chip` to the scenario of `board`.
void simC331AttachInputs(SimBoard& board, SimC331& chip);
