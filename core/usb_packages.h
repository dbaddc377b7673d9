#pragma once
// The upgrade packages on a USB stick: the one listing that both the
// communication page shows and the USB upgrade applies, so the operator sees
// exactly what will be applied.
#include "core/global.h"

#include <QString>
#include <QStringList>

#include <array>

namespace UsbPackages {

constexpr int kMaxPackages = 100;

constexpr const char* kDefaultFolder = "ZRV-K46";

// The folder on the stick (device path): "/mnt/usb1/" followed by the folder
// setting, or "/mnt/usb1/" itself for the setting " ". The setting names one
// folder on the stick: one with "/" or ".." in it (which could reach outside
// the stick) gives the default folder.
QString folder(const QString& setting);

struct Listing {
    QStringList paths;                        // device paths, directory order
    int zrvCount = 0;                         // packages with the suffix "ZRV"
    std::array<u8, kMaxPackages> highlight{};  // 1: the entry's row is highlighted
    int count() const { return int(paths.size()); }
};

// Regular files only (no folders, no symbolic links, no hidden files) whose
// text after the last "." is exactly "ZRV" or "ZRVZK", in the directory's own
// order, at most kMaxPackages. The first "ZRV" package and every "ZRVZK"
// package are highlighted. A missing folder lists nothing.
Listing scan(const QString& setting);

// The part of a path after its last "/".
QString fileName(const QString& path);

}  // namespace UsbPackages
