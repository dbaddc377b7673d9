#include "sim/sim_devices.h"

#include "platform/root.h"
#include "sim/sim_audio_switch.h"
#include "sim/sim_board.h"
#include "sim/sim_c331.h"
#include "sim/sim_c331_inputs.h"
#include "sim/sim_clock_chip.h"
#include "sim/sim_edid_eeprom.h"
#include "sim/sim_fpga.h"
#include "sim/sim_fpga_flash.h"
#include "sim/sim_i2c_switch.h"
#include "sim/sim_it66121.h"
#include "sim/sim_it6602.h"
#include "sim/sim_it6805.h"
#include "video_io/source_map.h"

#include <memory>
#include <string>

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
    simAttachIt6805(board);
    // The SDI-path transmitter sits on the bus itself, behind no switch.
    board.attachI2c(bus, kIt66121 >> 1, std::make_shared<SimIt66121>());
    simAttachIt6602(board);
}
}  // namespace

void simAttachDevices(SimBoard& board) {
    board.attachSpi("/dev/spidev32766.0", std::make_shared<SimC331>());
    if (auto c331 = std::dynamic_pointer_cast<SimC331>(board.spiModel("/dev/spidev32766.0"))) {
        simC331AttachInputs(board, *c331);
        const SimScenarioData scenario = board.scenario().snapshot();
        for (const std::string& font : scenario.c331Fonts) c331->preloadFont(font);
        if (scenario.c331FlashProtected) c331->setFlashProtected(0, SimC331::kFlashSize);
    }
    attachSourceBus(board);

    const auto fpga = board.scenario().fpga();
    for (int k = 0; k < 2; ++k) {
        const std::string n = std::to_string(k);
        board.attachSpi("/dev/spidev32766." + std::to_string(1 + k),
                        SimFpga::create(k, board.simGpio(), board.scenario(),
                                        Root::path("/var/log/sim_fpga" + n + "_writes.log")));
        auto flash = std::make_shared<SimFpgaFlash>(k, board.simGpio(), Root::path("/var/lib/sim/fpga" + n + "_flash.bin"),
                                                    Root::path("/var/log/sim_fpga" + n + "_flash.log"));
        flash->setUid(fpga.flashUid);
        flash->setBusyPolls(fpga.flashBusyPolls);
        if (fpga.flashProtected) flash->setProtected(0, SimFpgaFlash::kSize);
        board.attachSpi("/dev/spidev32766." + std::to_string(3 + k), flash);
    }
}
