#pragma once
// Opening a file of a USB stick for reading. What was listed as a plain file
// may be something else by the time it is opened (a FIFO, a device node, a
// link): a FIFO would hold the opening thread until some writer comes, and
// neither it nor a device is a package or a scan file. So the file is opened
// without waiting and without following a link, and kept only when the open
// descriptor is a regular file.
#include <string>

namespace StickFile {
// A read-only, blocking descriptor of the regular file at the device path,
// or -1 (why, when given, says what was found instead).
int openForRead(const std::string& devicePath, std::string* why = nullptr);
}  // namespace StickFile
