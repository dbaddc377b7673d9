#include "sim/sim_devices.h"

#include "sim/sim_audio_switch.h"
#include "sim/sim_board.h"
#include "sim/sim_c331.h"
#include "sim/sim_c331_inputs.h"
#include "sim/sim_clock_chip.h"
#include "sim/sim_edid_eeprom.h"
#include "sim/sim_i2c_switch.h"
#include "sim/sim_it6805.h"
#include "platform/gpio.h"
#include "video_io/source_map.h"

#include <memory>

namespace {
void attachSourceBus(SimBoard& board) {
    using namespace source_bus;
    const std::string bus = kDevice;
    board.attachI2c(bus, kRxSwitch >> 1, std::make_shared<SimI2cSwitch>());
    board.attachI2c(bus, kMemSwitch >> 1, std::make_shared<SimI2cSwitch>());
    board.attachI2c(bus, kAudioSwitch >> 1, std::make_shared<SimAudioSwitch>());
    for (int i = 0; i < kInputs; ++i)
        board.attachI2cBehind(bus, kMemSwitch >> 1, kChannel[i], kEeprom >> 1, std::make_shared<SimEdidEeprom>(board, i));
    for (int o = 0; o < kOutputs; ++o)
        board.attachI2cBehind(bus, kMemSwitch >> 1, kClockChannel[o], kClockChip >> 1, std::make_shared<SimClockChip>());
    // The two IT6805s (two revisions, so a PC run sees both register layouts)
    // share one reset line.
    const uint8_t revision[2] = {0x10, 0x20}, id2[2] = {0x05, 0x07};
    for (int rx = 0; rx < 2; ++rx) {
        const int input = 4 + rx;
        auto chip = std::make_shared<SimIt6805>(board.scenario(), input, revision[rx], id2[rx]);
        board.attachI2cBehind(bus, kRxSwitch >> 1, kChannel[input], kIt6805 >> 1, chip);
        board.attachI2cBehind(bus, kRxSwitch >> 1, kChannel[input], kIt6805Cec >> 1, chip->cec());
        SimBoard* b = &board;
        chip->setEdidReader([b, input](std::vector<uint8_t>& edid) {
            auto mem = std::dynamic_pointer_cast<SimEdidEeprom>(
                b->i2cModelBehind(kDevice, kMemSwitch >> 1, kChannel[input], kEeprom >> 1));
            if (!mem) return false;
            edid = mem->contents();
            return true;
        });
        std::weak_ptr<SimIt6805> weak = chip;
        board.simGpio().watch([weak](const std::string& name, int value) {
            if (name != GpioName::kIt6805Reset) return;
            if (auto c = weak.lock()) c->setResetLow(value == 0);
        });
    }
}
}  // namespace

void simAttachDevices(SimBoard& board) {
    board.attachSpi("/dev/spidev32766.0", std::make_shared<SimC331>());
    if (auto c331 = std::dynamic_pointer_cast<SimC331>(board.spiModel("/dev/spidev32766.0")))
        simC331AttachInputs(board, *c331);
    attachSourceBus(board);
}
