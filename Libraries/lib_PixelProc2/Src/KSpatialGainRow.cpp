#include <algorithm>
#include <cmath>

#include "KDebug.h"
#include "KRowCorrections.h"

bool CheckSpatialGainGrid(const KSpatialGainGrid* grid)
{
    if (grid && grid->m_pElements && grid->m_Rows >= 2 && grid->m_Columns >= 2)
        return true;
    DebugTrace("Spatial gain grid missing or smaller than 2 x 2 (%u x %u): unit gain.\n", grid ? grid->m_Columns : 0,
               grid ? grid->m_Rows : 0);
    return false;
}

void InterpolateSpatialGainRow(const KSpatialGainGrid* grid, KInt32 row, KInt32 imageRows, float* gainRow)
{
    if (!grid || !gainRow)
        return;
    const KUInt32 columns = grid->m_Columns;
    if (!grid->m_pElements || grid->m_Rows < 2 || columns < 2) {
        std::fill(gainRow, gainRow + size_t(columns) * 3, 1.0f);
        return;
    }
    const double t = imageRows > 1 ? double(row) / double(imageRows - 1) : 0.0;
    const double y = std::clamp(t * double(grid->m_Rows - 1), 0.0, double(grid->m_Rows - 1));
    const double y0 = std::floor(y);
    const KUInt32 row0 = static_cast<KUInt32>(y0);
    const KUInt32 row1 = static_cast<KUInt32>(std::ceil(y));
    const float f = static_cast<float>(y - y0);
    for (KUInt32 i = 0; i < columns; ++i)
        for (int c = 0; c < 3; ++c) {
            const float g0 = SpatialGainAt(*grid, row0, i, c);
            const float g1 = SpatialGainAt(*grid, row1, i, c);
            gainRow[i * 3 + c] = g0 + (g1 - g0) * f;
        }
}
