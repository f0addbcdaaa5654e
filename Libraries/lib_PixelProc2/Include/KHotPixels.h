#pragma once
// Isolated bright or dark pixels of the working image (48SRGB rows: signed R, G, B) are replaced from their
// neighbours. Each call filters one row in place (every column but the first and last; nothing under three
// columns), comparing with the row's own values as they were before the call and with the rows above and
// below as they stand (in a top-down pass the row above is already filtered). Nothing is allocated.
#include "KTypes.h"

// Whole pixels, compared by their sums R + G + B: a pixel brighter than both row neighbours and much brighter
// than the others, or darker than all eight, takes the colour of its brightest (darkest) neighbour.
void RemoveHotPixelsRow(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns);

// Each channel on its own: a value above (below) all eight neighbours is lowered (raised) to the largest
// (smallest) of them. For long and multi-frame exposures.
void RemoveHotPixelsRowLongExposure(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns);
