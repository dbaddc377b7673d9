#pragma once
// The serial lines of the simulated board. Each line is two pseudo-terminal
// pairs joined by a relay: the program's side is published under the root
// as the device path ("<root>/dev/ttyS2"), the far side as the device path
// plus ".pc", where a test, the client or a person connects.
#include <cstddef>
#include <string>
#include <vector>

// RTS changes made on the line with this device path, in order (true =
// asserted), since the start or the last clear: the newest kSimSerialRtsKeep.
constexpr size_t kSimSerialRtsKeep = 4096;
std::vector<bool> simSerialRtsHistory(const std::string& devicePath);
void simSerialClearRtsHistory();

// Host path where the far side of a line is published.
std::string simSerialPcPath(const std::string& devicePath);
