#pragma once
// Helpers of the stage 1 and 2 kernel tests and benchmarks: a pixmap over memory of its own, and the loops by
// which the engine's stage drivers call the row kernels (the red-sharpen ring, the row-correction pass).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "KCamdataGetters.h"
#include "KDarkDriftMeasure.h"
#include "KPixmap.h"
#include "KRedSharpen.h"
#include "KRowCorrections.h"
#include "KVectorKernels.h"
// By its path: the benchmarks include this header without the test support folder on their include path.
#include "LumoOwnedPixmap.h"

namespace rawstage {

// A pixmap that owns its rows (each padded to a multiple of 4 bytes, like a cache-held one).
template <class PixelClass>
using OwnedPixmap = lumotest::OwnedPixmap<PixelClass>;

// While it lives the kernels run their baseline builds, also on an AVX2 processor.
class BaselineKernels {
public:
    BaselineKernels() { KAllowAvx2(false); }
    ~BaselineKernels() { KAllowAvx2(true); }
    BaselineKernels(const BaselineKernels&) = delete;
    BaselineKernels& operator=(const BaselineKernels&) = delete;
};

using Frame = OwnedPixmap<KPixelClass48RGB>;
using Image = OwnedPixmap<KPixelClass48SRGB>;

// The red sharpen over a whole image as stage 2 runs it: a ring of five rows, the first row replicated upwards
// and the last one downwards.
inline void RedSharpenImage(Image& image, int32_t amount, int32_t left, int32_t right)
{
    const int32_t rows = image.Height(), columns = image.Width();
    std::vector<int32_t> buffers(size_t(columns) * 5);
    KRedSharpenRing ring;
    for (int i = 0; i < 5; ++i)
        ring.m_pSlot[i] = buffers.data() + size_t(columns) * i;
    for (int32_t r = 0; r <= rows + 1; ++r) {
        if (r == 2) {
            std::copy(ring.m_pSlot[2], ring.m_pSlot[2] + columns, ring.m_pSlot[0]);
            std::copy(ring.m_pSlot[2], ring.m_pSlot[2] + columns, ring.m_pSlot[1]);
        }
        RedSharpenRow(image.Row(std::min(r, rows - 1)), r >= 2 ? image.Row(r - 2) : nullptr, amount, ring, columns,
                      left, right);
    }
}

// What the row corrections of one image need, as stage 2 gathers it.
struct RowCorrectionSettings {
    KColorTriple columnFilter = {0, 0, 0};
    KColorTriple squareFilter = {0, 0, 0};
    KPostPoly poly = {};
    const KSpatialGainGrid* grid = nullptr;
    std::shared_ptr<const KSpatialGainGrid> gridHolder;  // the grid, when the settings own it
    KColorTriple flare = {0, 0, 0};
    KColorTriple scale = {1, 1, 1};
    KDarkDrift drift;
    KUInt32 shield[4] = {0, 0, 0, 0};
    double rowGain = 0.8;
    double rowScale = 12.0;
    KRect active;
};

// Levels once, then every row: drift, gain line, level = base + flare + level of the row, corrections.
inline void CorrectRows(Image& image, const RowCorrectionSettings& s)
{
    const int32_t rows = image.Height();
    KColorTriple base;
    std::vector<KColorTriple> levels(static_cast<size_t>(rows));
    CalculateDarkShieldLevels(base, levels.data(), image.Get(), rows, s.shield[0], s.shield[1], s.shield[2],
                              s.shield[3], s.columnFilter, s.drift, s.rowGain, s.rowScale, s.active);
    const bool grid = CheckSpatialGainGrid(s.grid);
    std::vector<float> gainRow(grid ? size_t(s.grid->m_Columns) * 3 : 0);
    for (int32_t r = 0; r < rows; ++r) {
        const KRowDrift drift = InterpolateDarkDrift(s.drift, r, rows);
        if (grid)
            InterpolateSpatialGainRow(s.grid, r, rows, gainRow.data());
        KColorTriple level;
        for (int c = 0; c < 3; ++c)
            level[c] = base[c] + s.flare[c] + levels[size_t(r)][c];
        ApplyRowCorrections(image.Row(r), image.Width(), s.columnFilter, s.squareFilter, drift, level, s.poly,
                            grid ? gainRow.data() : nullptr, grid ? s.grid->m_Columns : 0, s.scale);
    }
}

}  // namespace rawstage
