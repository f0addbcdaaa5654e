#pragma once
// Clipped highlights of the working image (48SRGB rows: signed R, G, B): nearly clipped pixels are pulled
// toward neutral so that clipping leaves no coloured cast, and coloured fringes around clipped pixels are
// removed. The row routines work in place; all values are stored saturated to the signed 16-bit range.
#include "KTypes.h"

// The limits of the highlight steps, per channel: clip levels (the saturation levels raised by an eighth and
// made proportional to the neutral), thresholds (where neutralisation begins) and neutral weights (12
// fractional bits, summing to about 4096).
void CalculateHighlightLimits(const double neutral[3], const KInt32 saturation[3], KInt32 thresholds[3],
                              KInt32 clipLevels[3], KInt32 weights[3]);

// Pulls each pixel whose three channels all pass their thresholds toward the neutral of its own sum, the more
// the closer it is to clipping; only channels below the neutral are raised. Nothing changes when green's clip
// level and threshold are less than 100 apart. The neighbour rows are not read.
void NeutralizeHighlightsRow(KInt16* row, const KInt16* above, const KInt16* below, KInt32 columns,
                             const KInt32 thresholds[3], const KInt32 clipLevels[3], const KInt32 weights[3]);

// Around each clipped pixel of row (columns 2 .. columns - 3) the reddish neighbours in row, above and below
// become neutral; the clipped pixel itself stays. Changes are made in place in all three rows and later
// columns see them. Nothing happens with 4 columns or fewer or when green's clip level and threshold are less
// than 100 apart. A pixel just above the trigger levels treats its neighbours in part (fully an eighth of the
// clip level above them). rowAsFound, when given, holds row as it was before any call changed it: the
// trigger test reads it, so that a neighbour made neutral does not trigger in turn and carry the change on
// along a smooth highlight.
void DespeckleRow(KInt16* row, KInt16* above, KInt16* below, KInt32 columns, const KInt32 thresholds[3],
                  const KInt32 clipLevels[3], const KInt32 weights[3], const KInt16* rowAsFound = nullptr);

// The variant for multi-frame exposures: clipped pixels of the rows above and below (not of row) trigger the
// treatment of a wider neighbourhood. Same guards as DespeckleRow.
void DespeckleBulbRow(KInt16* row, KInt16* above, KInt16* below, KInt32 columns, const KInt32 thresholds[3],
                      const KInt32 clipLevels[3], const KInt32 weights[3]);
