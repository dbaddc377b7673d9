#pragma once
// The cabinet order a routing picture draws: the quick set-up's own walk on
// a 3 x 3 screen, so a picture cannot show another chaining than the one the
// cards get.
#include "fpga/card_walk.h"

#include <QPoint>

#include <vector>

// (column, row) of each cabinet along the cable, row 0 at the top.
inline std::vector<QPoint> routeOrder(int type) {
    constexpr u32 n = 3;
    std::vector<QPoint> order;
    for (u32 i = 0; i < n * n; ++i) {
        u32 row = 0, column = 0;
        if (card_walk::cell(u32(type), n, n, i, &row, &column)) order.push_back(QPoint(int(column), int(row)));
    }
    return order;
}
