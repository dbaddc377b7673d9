#pragma once
// The scan files the smart set-up wizard offers: those the PC stored on the
// device ("/data/smartmapping") before those on the USB stick's top folder
// ("/mnt/usb1/"), shown five to a page.
#include <QString>
#include <QStringList>

namespace ScanFiles {

constexpr const char* kDeviceDir = "/data/smartmapping";
constexpr const char* kStickDir = "/mnt/usb1/";
// Files offered at most, and rows of a page of the list.
constexpr int kMaxOffered = 100;
constexpr int kPageRows = 5;

// A scan file by its name: the text after the last "." is exactly "qdfile",
// or the name is one the protocol stores scan files under ("QDFR...").
bool isScanFile(const QString& name);

struct Listing {
    QStringList paths;   // device paths, the device's files first
    int fromDevice = 0;  // how many of them lie on the device
    int total() const { return int(paths.size()); }
};

// Plain files only (no folders, no symbolic links, no hidden files), in each
// folder's own order, at most kMaxOffered in all. A missing folder lists
// nothing.
Listing list();
// Scan files of one folder (device path), at most `room`.
QStringList listFolder(const QString& dir, int room);

// Highest page of a list of `total` files (0 for an empty list), and the
// number of rows shown on `page`.
int lastPage(int total);
int rowsOnPage(int total, int page);

// The name a row shows: the path's file name without line breaks.
QString shownName(const QString& path);

}  // namespace ScanFiles
