#include "sim/sim_devices.h"

#include "sim/sim_board.h"

void simAttachDevices(SimBoard& board) { (void)board; }
