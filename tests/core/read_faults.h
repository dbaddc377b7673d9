#pragma once
// Read errors of one chosen file, as a flash gives them (EIO), for every
// reader in the test program that reads through the C library's read():
// Qt's files, and so the settings library and FileOps, included. A pass is
// a read from the start of the file; the passes named fail, each from its
// first read on.
#include <set>
#include <string>

namespace ReadFaults {
// From now on the passes over the host file numbered in `failing` (1 the
// next one) fail; an empty set only counts them.
void arm(const std::string& hostPath, std::set<int> failing);
void disarm();
// Passes over the armed file since arm().
int passes();
}  // namespace ReadFaults
