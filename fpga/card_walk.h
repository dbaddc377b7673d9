#pragma once
// The order in which the receiving cards of one port are chained through a
// grid of cabinets, for the sixteen routing types. The quick set-up places
// the cards by it and the routing pictures of the panel are drawn from it,
// so what the operator picks is what the cards get.
#include "core/global.h"

namespace card_walk {

// Cabinet of card `index` (from 0 along the cable) in a grid of `rows` x
// `columns` cabinets, row 0 at the top, column 0 at the left. False for an
// index outside the grid and for a grid that cannot be walked (no rows or
// columns, a routing type outside 1-16); row and column are then left alone.
bool cell(u32 type, u32 rows, u32 columns, u32 index, u32* row, u32* column);

}  // namespace card_walk
