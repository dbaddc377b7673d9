#pragma once
class SimBoard;
// Attaches the device models of the simulated board to its buses.
void simAttachDevices(SimBoard& board);
