#pragma once
// What the front panel reads of the FPGA manager. Every call answers "no"
// while the manager does not exist, so the panel runs before the FPGAs are
// up and on a build without the FPGA part.
#include "core/global.h"

#include <QString>

namespace FpgaPanel {

bool exists();
// Both FPGAs have finished their start sequence.
bool running();
// 24-bit link mask of the output ports (FPGA 0 in bits 0-11, FPGA 1 in 12-23).
bool portLinks(u32* mask);
// Reads registers 42, 40, 43 of FPGA 0, then of FPGA 1, for one ageing
// sample: out[0..2] FPGA 0, out[3..5] FPGA 1.
bool readAgeRegisters(u8 out[6]);
// A receiving-card job or a USB upgrade is posted to the FPGA thread.
bool jobRunning();
// Version text of one FPGA ("yy-mm-dd Fn").
bool version(int fpga, QString* text);

}  // namespace FpgaPanel
