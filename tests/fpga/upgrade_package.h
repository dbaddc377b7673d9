#pragma once
// Builds USB upgrade packages byte by byte (head, entry table, FPGA
// sub-heads and images, font heads and data, application bytes), hostile
// ones included (entries that lie about their lengths and offsets, counts
// beyond the table), and puts them in the stick's folder under the root.
#include "core/global.h"
#include "platform/root.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <array>
#include <string>
#include <vector>

namespace upkg {

using Bytes = std::vector<u8>;
using Version = std::array<u8, 6>;

constexpr Version kRunningApp = {24, 10, 20, 11, 2, 1};

struct Entry {
    u8 type = 0;
    Bytes data;
    Version version{};
    long length = -1;  // override of the table's length
    long offset = -1;  // override of the table's offset
};
inline Entry app(Bytes data, Version v = {25, 1, 1, 11, 2, 1}) { return {10, std::move(data), v}; }
inline Entry fpga(int k, Bytes data, Version v = {25, 1, 1, 0, 0, 1}) { return {u8(k ? 8 : 7), std::move(data), v}; }
inline Entry font(Bytes data) { return {13, std::move(data), {}}; }

struct Package {
    u8 publish = 0;
    u16 controller = 0x7652;
    std::vector<Entry> entries;
    long fileNum = -1;  // override of the entry count
};

inline void put16(Bytes& b, size_t at, u32 v) {
    b[at] = u8(v);
    b[at + 1] = u8(v >> 8);
}
inline void put32(Bytes& b, size_t at, u32 v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = u8(v >> (8 * i));
}

inline Bytes build(const Package& p) {
    const size_t table = 49 + 21 * p.entries.size();
    Bytes out(table, 0);
    out[0] = 1;
    out[1] = 1;
    out[2] = p.publish;
    put16(out, 18, p.controller);
    put16(out, 47, u32(p.fileNum >= 0 ? p.fileNum : long(p.entries.size())));
    for (size_t i = 0; i < p.entries.size(); ++i) {
        const Entry& e = p.entries[i];
        const size_t at = 49 + 21 * i;
        out[at] = e.type;
        put32(out, at + 1, u32(e.length >= 0 ? e.length : long(e.data.size())));
        put32(out, at + 5, u32(e.offset >= 0 ? e.offset : long(out.size())));
        for (int v = 0; v < 6; ++v) out[at + 9 + size_t(v)] = e.version[size_t(v)];
        put32(out, at + 15, 0);
        put16(out, at + 19, 0);
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

inline Bytes pattern(size_t n, u8 seed) {
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = u8(seed + i * 13 + (i >> 8));
    return d;
}

// A 64-byte sub-head announcing `announced` bytes (default: the image's).
inline Bytes fpgaImage(const Bytes& image, long announced = -1) {
    Bytes out(64, 0);
    out[16] = 1;    // FCG
    out[17] = 1;
    put16(out, 18, 0x7652);
    out[20] = 0;    // sending card
    put32(out, 23, 0x25010101);
    put32(out, 31, u32(announced >= 0 ? announced : long(image.size())));
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

// A font: the 35-byte head the chip reads ('P', encoding at 5, width at 17,
// dot size at 18), then `dataBytes` of glyph data.
inline Bytes fontData(u8 encoding, u8 dots, size_t dataBytes, u8 seed = 3) {
    Bytes out(35, 0);
    out[0] = 'P';
    out[5] = encoding;
    out[17] = dots;
    out[18] = dots;
    const Bytes glyphs = pattern(dataBytes, seed);
    out.insert(out.end(), glyphs.begin(), glyphs.end());
    return out;
}

// The package as "/mnt/usb1/<folder>/<name>" ("" folder: the stick's own).
inline void onStick(const std::string& folder, const std::string& name, const Bytes& bytes) {
    const std::string dir = Root::path("/mnt/usb1/" + folder);
    QDir().mkpath(QString::fromStdString(dir));
    QFile f(QString::fromStdString(dir + "/" + name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

}  // namespace upkg
