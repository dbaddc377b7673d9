#pragma once
// Every absolute device path ("/data/...", "/dev/...", "/mnt/usb1/...") is
// resolved under one root folder: "/" on the device, a folder of the run on a
// PC. Texts stored in files or shown to the operator keep the device path.
#include <QString>
#include <string>

namespace Root {
void setRoot(const std::string& folder);   // once, at start-up (and by tests)
void setFromEnvironment();                 // ZRV_ROOT, "/" when unset or empty
const std::string& root();                 // without trailing slash ("" for "/")
std::string path(const std::string& devicePath);
QString qpath(const QString& devicePath);
}  // namespace Root
