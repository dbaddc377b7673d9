#pragma once
// Builds recovery packages and scan files byte by byte from a short
// description, hostile ones included (wrong counts, cut files, entries
// that point anywhere).
#include "core/global.h"

#include <cstring>
#include <vector>

namespace pkg {

using Bytes = std::vector<u8>;

struct Op {
    u8 type = 1, target = 1;  // 1/1 card RAM write
    u32 address = 0;
    u32 time_ms = 0;
    Bytes data;
    // Overrides of the record's data length (a lie about the data).
    long length = -1;
};
inline Op ramWrite(u32 address, Bytes data, u32 time = 100) { return {1, 1, address, time, std::move(data)}; }
inline Op regWrite(Bytes data, u32 time = 100) { return {1, 2, 0, time, std::move(data)}; }
inline Op delay(u32 ms) { return {6, 0, 0, ms, {}}; }
inline Op activate(u32 time = 100) { return {3, 0, 0, time, {1, 2, 3}}; }
inline Op save(u32 time = 100) { return {2, 0, 0, time, {}}; }
inline Op user(Bytes data, u32 time = 100) { return {16, 0, 0, time, std::move(data)}; }

struct Net {
    u16 port = 0;
    std::vector<std::vector<Op>> cards;  // one operation list per card
    long cardCount = -1;                 // override of the record's count
};
struct Screen {
    u32 identity = 0;
    std::vector<Net> nets;
    std::vector<Op> params;  // the parameter part (none: length 0)
    long netCount = -1;      // override
};
struct Package {
    std::vector<Screen> screens;
    bool screenFile = true, coordFile = true, paramFile = true;
    long announced = -1;  // override of the packed-file count N
};

inline void put16(Bytes& b, size_t at, u32 v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = u8(v);
    b[at + 1] = u8(v >> 8);
}
inline void put32(Bytes& b, size_t at, u32 v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = u8(v >> (8 * i));
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// Operation blocks one after the other, then their data; the data offsets
// count from the first block.
inline Bytes blocks(const std::vector<std::vector<Op>>& lists) {
    size_t head = 0;
    for (const auto& ops : lists) head += 4 + 18 * ops.size();
    Bytes out(head, 0), data;
    size_t at = 0;
    for (const auto& ops : lists) {
        put16(out, at, u32(ops.size()));
        at += 4;
        for (const Op& op : ops) {
            put32(out, at, u32(head + data.size()));
            put32(out, at + 4, op.length >= 0 ? u32(op.length) : u32(op.data.size()));
            put32(out, at + 8, op.address);
            put32(out, at + 12, op.time_ms);
            out[at + 16] = op.type;
            out[at + 17] = op.target;
            append(data, op.data);
            at += 18;
        }
    }
    append(out, data);
    return out;
}

inline Bytes scanFile(const std::vector<Op>& ops) {
    Bytes out(16, 0xA5);  // the head is not read
    append(out, blocks({ops}));
    return out;
}

inline Bytes package(const Package& p) {
    // Screen file.
    Bytes screenFile(32, 0), coordFile, paramFile;
    screenFile[2] = 10;
    screenFile[20] = u8(p.screens.size());
    for (size_t i = 0; i < p.screens.size(); ++i) {
        const Screen& s = p.screens[i];
        Bytes rec(52, 0);
        put32(rec, 0, s.identity);
        put32(rec, 4, (1u << s.nets.size()) - 1);
        // Coordinate part: net count, net records, then each net's blocks.
        Bytes coord(4 + 12 * s.nets.size(), 0);
        put16(coord, 0, s.netCount >= 0 ? u32(s.netCount) : u32(s.nets.size()));
        for (size_t n = 0; n < s.nets.size(); ++n) {
            const Net& net = s.nets[n];
            const Bytes b = blocks(net.cards);
            put16(coord, 4 + 12 * n, net.port);
            put16(coord, 6 + 12 * n, net.cardCount >= 0 ? u32(net.cardCount) : u32(net.cards.size()));
            put32(coord, 8 + 12 * n, u32(coord.size()));
            put32(coord, 12 + 12 * n, u32(b.size()));
            append(coord, b);
        }
        put32(rec, 44, u32(coordFile.size()));
        put32(rec, 48, u32(coord.size()));
        append(coordFile, coord);
        if (!s.params.empty()) {
            const Bytes b = blocks({s.params});
            put32(rec, 36, u32(paramFile.size()));
            put32(rec, 40, u32(b.size()));
            append(paramFile, b);
        }
        append(screenFile, rec);
    }
    struct Part {
        u8 type;
        const Bytes* bytes;
    };
    std::vector<Part> parts;
    if (p.screenFile) parts.push_back({10, &screenFile});
    if (p.coordFile) parts.push_back({11, &coordFile});
    if (p.paramFile) parts.push_back({12, &paramFile});
    Bytes out(4 + 12 * parts.size(), 0);
    out[3] = p.announced >= 0 ? u8(p.announced) : u8(parts.size());
    for (size_t k = 0; k < parts.size(); ++k) {
        out[4 + 12 * k] = parts[k].type;
        put32(out, 8 + 12 * k, u32(parts[k].bytes->size()));
        put32(out, 12 + 12 * k, u32(out.size() + [&] {
                   size_t before = 0;
                   for (size_t j = 0; j < k; ++j) before += parts[j].bytes->size();
                   return before;
               }()));
    }
    for (const Part& part : parts) append(out, *part.bytes);
    return out;
}

}  // namespace pkg
