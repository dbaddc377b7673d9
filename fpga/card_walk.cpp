#include "fpga/card_walk.h"

namespace card_walk {

namespace {

// How a routing type walks the grid: by rows or by columns; the first line
// at the far end (bottom row, right column); the first line walked from its
// far end (right to left, upwards); every second line reversed.
struct Walk {
    bool columns, lineFromEnd, posFromEnd, serpentine;
};
constexpr Walk kWalks[17] = {
    {},
    {false, true, true, true},    // 1
    {false, true, false, true},   // 2
    {false, false, true, true},   // 3
    {false, false, false, true},  // 4
    {true, true, true, true},     // 5
    {true, true, false, true},    // 6
    {true, false, false, true},   // 7
    {true, false, true, true},    // 8
    {false, true, true, false},   // 9
    {false, false, false, false}, // 10
    {false, true, false, false},  // 11
    {true, false, true, false},   // 12: its rows count from the column count
    {true, true, true, false},    // 13
    {true, false, false, false},  // 14
    {true, false, true, false},   // 15
    {true, true, false, false},   // 16
};

}  // namespace

bool cell(u32 type, u32 rows, u32 columns, u32 index, u32* row, u32* column) {
    const u64 R = rows, C = columns;
    if (R == 0 || C == 0 || type < 1 || type > 16 || index >= R * C) return false;
    const Walk& w = kWalks[type];
    const u64 perLine = w.columns ? R : C, lines = w.columns ? C : R;
    const u64 line = index / perLine;
    u64 pos = index % perLine;
    if (w.posFromEnd != (w.serpentine && (line & 1))) pos = perLine - 1 - pos;
    const u64 across = w.lineFromEnd ? lines - 1 - line : line;
    u64 r = w.columns ? pos : across, c = w.columns ? across : pos;
    if (type == 12) {
        // Rows counted up from the column count: unless the grid is square
        // some cards fall outside it.
        const long long up = (long long)(C) - 1 - (long long)(index % perLine);
        if (up < 0 || up >= (long long)(R)) return false;
        r = u64(up);
    }
    *row = u32(r);
    *column = u32(c);
    return true;
}

}  // namespace card_walk
