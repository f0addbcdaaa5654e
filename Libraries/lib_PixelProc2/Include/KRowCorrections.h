#pragma once
// Row corrections of the linear working image (48SRGB, 4096 = 1.0), one pass over every row: the dark level
// measured in the masked columns at both ends of the row and the dark drift across it are removed, a column
// filter undoes a horizontal smear (it looks at the difference to the previous pixel), a per-camera polynomial
// corrects the channel values, and the spatial gain (shading, interpolated from a coarse grid) times the
// channel gain is applied; values above 32000 are clipped.
//
// CalculateDarkShieldLevels runs once per image, InterpolateSpatialGainRow and ApplyRowCorrections once per
// row; all run on the caller's thread and share nothing.
#include "KCamdataGetters.h"
#include "KDarkDriftMeasure.h"
#include "KPixmap.h"
#include "KRect.h"

// Gain of grid point (row y, column i) for channel c.
inline float SpatialGainAt(const KSpatialGainGrid& grid, KUInt32 y, KUInt32 i, int c)
{
    return grid.m_pElements[(static_cast<size_t>(y) * grid.m_Columns + i) * 3 + static_cast<size_t>(c)];
}

// Whether grid is present and has at least two rows and two columns; otherwise traces that unit gain is used.
bool CheckSpatialGainGrid(const KSpatialGainGrid* grid);

// Fills levels (rows triples) with the smoothed dark level of every row, less their mean, times rowGain, and
// base with that mean. The level of a row is measured in the shield columns leftStart..leftEnd and
// rightStart..rightEnd (both ends included), after the column filter cf and the drift of the row, as the mean
// without the extremes; rows outside activeArea copy the rows inside it; a median of three and a forward and
// backward recursive filter (scale rowScale rows) smooth the result. Shield ranges that are too narrow or do
// not lie inside the row (the column before each range is read), an active area under 10 rows or whose
// margins exceed it, or a missing image, give zero levels and base.
void CalculateDarkShieldLevels(KColorTriple& base, KColorTriple* levels,
                               const KPixmapTemplate<KPixelClass48SRGB>* image, KInt32 rows, KUInt32 leftStart,
                               KUInt32 leftEnd, KUInt32 rightStart, KUInt32 rightEnd, const KColorTriple& cf,
                               const KDarkDrift& drift, double rowGain, double rowScale, const KRect& activeArea);

// One line of the grid (grid columns x 3 floats) for image row of imageRows, linear between the grid rows.
// A grid that CheckSpatialGainGrid refuses gives ones (nothing at all when it is missing).
void InterpolateSpatialGainRow(const KSpatialGainGrid* grid, KInt32 row, KInt32 imageRows, float* gainRow);

// Corrects one row of columns pixels in place. cf and cs are the column filter and the square column filter,
// drift the row's drift, level its dark level, poly the post polynomial (row k corrects channel k: r², g², b²,
// rg, rb, gb, r³, g³, b³), gainRow the interpolated grid line of gridColumns points (unit gain when gainRow is
// null or gridColumns is under 2), scale the channel gains. Integer arithmetic in 14 fractional bits; values
// above 32000 become 32000 and values below -32768 saturate.
void ApplyRowCorrections(KInt16* row, KInt32 columns, const KColorTriple& cf, const KColorTriple& cs,
                         const KRowDrift& drift, const KColorTriple& level, const KPostPoly& poly,
                         const float* gainRow, KUInt32 gridColumns, const KColorTriple& scale);
