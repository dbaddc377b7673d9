#include "sim/sim_devices.h"

#include "sim/sim_board.h"
#include "sim/sim_c331.h"

#include <memory>

void simAttachDevices(SimBoard& board) {
    board.attachSpi("/dev/spidev32766.0", std::make_shared<SimC331>());
}
