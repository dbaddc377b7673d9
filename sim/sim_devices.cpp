#include "sim/sim_devices.h"

#include "sim/sim_board.h"
#include "sim/sim_c331.h"
#include "sim/sim_c331_inputs.h"

#include <memory>

void simAttachDevices(SimBoard& board) {
    board.attachSpi("/dev/spidev32766.0", std::make_shared<SimC331>());
    if (auto c331 = std::dynamic_pointer_cast<SimC331>(board.spiModel("/dev/spidev32766.0")))
        simC331AttachInputs(board, *c331);
}
