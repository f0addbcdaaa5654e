#include "KStage2Steps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

#include "KAutoAdjust.h"
#include "KBadPixels.h"
#include "KCalibrationAreas.h"
#include "KChromaBlur.h"
#include "KColorNoise.h"
#include "KDebug.h"
#include "KExceptionPixelProc2.h"
#include "KGlobalLUTs.h"
#include "KHighlights.h"
#include "KHotPixels.h"
#include "KIPEngineTestHook.h"
#include "KMemoryAllocator.h"
#include "KRGBTripleOps.h"
#include "KRedSharpen.h"
#include "KRounding.h"
#include "KRowBands.h"
#include "KRowCorrections.h"
#include "KSubsampledAverage.h"

std::atomic<KStage2ObserverForTest> g_Stage2ObserverForTest{nullptr};

namespace {

constexpr double kStepWeights[KStage2Steps::kStepCount] = {1.502, 0.001, 0.255, 0.25,  0.25,  0.584, 1.5,
                                                           2.214, 0.453, 1.709, 2.225, 0.071, 0.001};
constexpr KInt64 kProgressRows = 50;
constexpr double kCoarseSpread = 5.0;
// Fewest rows a band of a step spread over threads gets.
constexpr KInt32 kMinBandRows = 64;

KInt32 Saturate32(KInt64 v)
{
    return static_cast<KInt32>(std::clamp<KInt64>(v, std::numeric_limits<KInt32>::min(),
                                                   std::numeric_limits<KInt32>::max()));
}

// The product of two truncated settings, as the spatial thresholds are formed.
KInt32 TruncProduct(double a, double b)
{
    return Saturate32(KInt64{KTruncToInt32(a)} * KTruncToInt32(b));
}

void SetMean(double t[3])
{
    const double mean = (t[0] + t[1] + t[2]) / 3;
    t[0] = t[1] = t[2] = mean;
}

}  // namespace

KStage2Steps::KStage2Steps(KIPEngineRequest& request, const KPixmapTemplate<KPixelClass48SRGB>& image,
                           const KPixmapTemplate<KPixelClass48SRGB>& scratch, const KCamdata& camdata,
                           const KStage2Settings& settings, double* autoAdjust)
    : m_Request(request), m_Image(image), m_Scratch(scratch), m_Camdata(camdata), m_Settings(settings),
      m_pAutoAdjust(autoAdjust), m_Rows(image.GetHeight()), m_Columns(image.GetWidth()),
      m_Picture(0, 0, m_Columns, m_Rows)
{
    // The filters over a neighbourhood treat the picture's edges as the image's: the dark shields around it
    // would otherwise darken and tint its edge rows and columns. Five rows and columns at least, as the widest
    // ring needs.
    const KRect& a = settings.active;
    if (a.left >= 0 && a.top >= 0 && a.right <= m_Columns && a.bottom <= m_Rows && KInt64{a.right} - a.left >= 5 &&
        KInt64{a.bottom} - a.top >= 5)
        m_Picture = a;
}

KInt64 KStage2Steps::ScratchRows(KInt32 columns, KInt32 rows)
{
    if (columns <= 0)
        return 5;
    const KInt64 reduced = KInt64{(rows + 3) / 4} * ((columns + 3) / 4);
    return std::max<KInt64>(5, (reduced + columns - 1) / columns + 2);
}

double KStage2Steps::StepEnd(KInt32 step)
{
    double total = 0, sum = 0;
    for (KInt32 s = 0; s < static_cast<KInt32>(kStepCount); ++s) {
        total += kStepWeights[s];
        if (s <= step)
            sum += kStepWeights[s];
    }
    return sum / total;
}

KInt16* KStage2Steps::priRow(KInt32 row) const
{
    return reinterpret_cast<KInt16*>(m_Image.GetRow(row));
}

KInt16* KStage2Steps::priPictureRow(KInt32 row) const
{
    return priRow(m_Picture.top + row) + static_cast<ptrdiff_t>(m_Picture.left) * 3;
}

KInt16* KStage2Steps::priScratchRow(KInt32 row) const
{
    return reinterpret_cast<KInt16*>(m_Scratch.GetRow(row));
}

void KStage2Steps::priObserve(KUInt32 step, KInt64 row)
{
    if (KStage2ObserverForTest observer = g_Stage2ObserverForTest.load())
        observer(m_Request, step, static_cast<KUInt32>(row));
}

// Inside a step's rows, every 50th row: the step's share of the progress by the fraction done. The ring passes
// count rows + 2 calls.
void KStage2Steps::priProgress(KUInt32 step, KInt64 row, KInt64 rows)
{
    if (row % kProgressRows != kProgressRows - 1)
        return;
    const double begin = StepEnd(static_cast<KInt32>(step) - 1), end = StepEnd(static_cast<KInt32>(step));
    const double f = std::min(1.0, static_cast<double>(row) / static_cast<double>(std::max<KInt64>(rows, 1)));
    m_Request.m_Async.SetProgress(begin + (end - begin) * f);
    priObserve(step, row);
}

KInt32 KStage2Steps::priChromaBlur() const
{
    return KTruncToInt32(GetCamdataFloat("ChromaBlur", m_Camdata));
}

bool KStage2Steps::Runs(KUInt32 step) const
{
    const bool colour = !m_Settings.singular;
    switch (step) {
    case 2:
        return colour && KTruncToInt32(GetCamdataFloat("RedSharpen", m_Camdata)) != 0;
    case 3:
    case 4:
        return colour && m_Settings.saturation[1] > 0;
    case 6:
    case 7:
        return colour && priChromaBlur() != 0;
    case 9:
        return colour && priChromaBlur() > 100;
    case 10:
        return colour && priChromaBlur() > 200;
    default:
        return true;
    }
}

bool KStage2Steps::Run(KUInt32 step, KUInt32 row)
{
    const KInt32 start = static_cast<KInt32>(std::min<KUInt32>(row, static_cast<KUInt32>(m_Rows) + 2));
    priObserve(step, start);
    switch (step) {
    case 0:
        priRowCorrections(start);
        break;
    case 1:
        return priBadPixels();
    case 2:
        priRedSharpen(start);
        break;
    case 3:
        priHighlights(start);
        break;
    case 4:
        priDespeckle(start);
        break;
    case 5:
        priHotPixels(start);
        break;
    case 6:
        priChromaBlur3(start);
        break;
    case 7: {
        const KColorTriple q = GetCamdataColorFloat("ChromaDQ", m_Camdata);
        const double s = KTruncToInt32(GetCamdataFloat("SpatialDQ", m_Camdata));
        const KStage2Settings& w = m_Settings;
        double t[3];
        for (int c = 0; c < 3; ++c)
            t[c] = q[c] * w.noise * w.channelGain[c] * w.d;
        SetMean(t);
        const double slopes[3] = {0.8, 0.8, 0.8};
        priChromaBlur5(step, start, t, TruncProduct(s * w.noise, 10 * w.d), slopes);
        break;
    }
    case 8:
        priColorNoise(start);
        break;
    case 9:
        priCoarseChromaBlur();
        break;
    case 10: {
        const KColorTriple q = GetCamdataColorFloat("ChromaDQ", m_Camdata);
        const double s = KTruncToInt32(GetCamdataFloat("SpatialDQ", m_Camdata));
        const KStage2Settings& w = m_Settings;
        const double gain = std::pow(w.isoGain, 1.5);
        double t[3];
        for (int c = 0; c < 3; ++c)
            t[c] = q[c] * w.noise * 2 * gain;
        const double slopes[3] = {0.5, 0.6, 0.7};
        priChromaBlur5(step, start, t, TruncProduct(s * w.noise, 10 * gain), slopes);
        break;
    }
    case 11:
        priAutoAdjust();
        break;
    default:
        break;
    }
    return true;
}

// Step 0: dark level from the shield columns, dark drift from the shield rows, column filter, post polynomial,
// shading and channel gains, row by row.
void KStage2Steps::priRowCorrections(KInt32 start)
{
    const KCamdata& cd = m_Camdata;
    const KStage2Settings& s = m_Settings;

    // Flare is left out of multi-frame exposures.
    KColorTriple flare = {0.0, 0.0, 0.0};
    if (!s.bulb)
        flare = CalculateFlare(&m_Image, GetCamdataColorFloat("FlareFactor", cd));

    const double cf = GetCamdataFloat("ColumnFilter", cd);
    const KColorTriple columnFilter = GetCamdataColorFloatOr("ColumnFilterRGB", cd, {cf, cf, cf});
    const KColorTriple squareFilter =
        GetCamdataColorFloatOr("ColumnFilterSquareRGB", cd, s.bulb ? KColorTriple{0.0, 0.0, 0.0} : columnFilter);

    KPostPoly poly = GetCamdataPostPoly("PostPolyMatrix", cd);
    if (s.bulb) {
        double offset = GetCamdataFloat("BulbCurvatureOffset", cd);
        KColorTriple factor = GetCamdataColorFloat("BulbCurvatureFactor", cd);
        if (offset == 0.0) {
            offset = 1.0;
            factor = {1.0, 1.0, 1.0};
        }
        for (int c = 0; c < 3; ++c)  // each channel's own square
            poly[static_cast<size_t>(c) * 10] = static_cast<float>(factor[c] * s.bulbGain[c] / (s.frames - offset));
    }

    KDarkDrift drift;
    if (s.usePreComputedDrift == 0) {
        auto relative = [&](const char* name) {
            const KRect r = MoveIntoKeepArea(GetCamdataRect(name, cd), s.keep);
            return KRect(std::max(r.left, 0), r.top, std::min(r.right, m_Columns), r.bottom);
        };
        KRect top = relative("DarkShieldTop");
        KRect bottom = relative("DarkShieldBottom");
        top.top = std::max(top.top, 0);
        bottom.bottom = std::min(bottom.bottom, m_Rows);
        if (top.bottom > top.top && bottom.bottom > bottom.top) {
            drift = CalculateTopAndBottomDrift(&m_Image, top, bottom);
            if (std::abs(drift.m_Value[0][1][0]) > 4000)
                drift = KDarkDrift();
        }
    } else {
        drift = GetCamdataDarkDrift("DarkDrift", cd);
    }

    const std::unique_ptr<KSpatialGainGrid> grid = GetCamdataSpatialGain("SpatialGain", cd);
    const bool useGrid = CheckSpatialGainGrid(grid.get());
    std::vector<KColorTriple> levels(static_cast<size_t>(m_Rows));

    double rowGain = GetCamdataFloat("RowCorrectionGain", cd);
    if (rowGain == 0.0)
        rowGain = 0.8;
    double rowScale = GetCamdataFloat("RowCorrectionScale", cd);
    if (rowScale == 0.0)
        rowScale = 12.0;

    const char* const rangeName = "DarkShieldColRange";
    const KUInt32 dims[2] = {2, 2};
    KUInt32 shield[4] = {0, 0, 0, 0};
    if (const KCamdataMatrix* ranges = cd.FindMatrix(rangeName, KCAMDATA_UINT32, 2, dims)) {
        std::copy_n(ranges->Elements<KUInt32>(), 4, shield);
    } else {
        DebugTrace("Camdata color matrix '%s' not found.\n", rangeName);
        static constexpr KUInt32 kFull[4] = {6, 14, 2292, 2300};
        static constexpr KUInt32 kHalf[4] = {3, 7, 1146, 1150};
        if (m_Columns == 2304)
            std::copy_n(kFull, 4, shield);
        else if (m_Columns == 1152)
            std::copy_n(kHalf, 4, shield);
    }

    KColorTriple base;
    CalculateDarkShieldLevels(base, levels.data(), &m_Image, m_Rows, shield[0], shield[1], shield[2], shield[3],
                              columnFilter, drift, rowGain, rowScale, s.active);

    KColorTriple scale;
    for (int c = 0; c < 3; ++c)
        scale[c] = s.d * s.channelGain[c];
    // Each row on its own: the levels and the drift were measured above, before any row changed.
    const KRowBands bands(start, m_Rows, kMinBandRows);
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        std::vector<float> gainRow(useGrid ? static_cast<size_t>(grid->m_Columns) * 3 : 0);
        for (KInt32 r = begin; r < end; ++r) {
            const KRowDrift rowDrift = InterpolateDarkDrift(drift, r, m_Rows);
            if (useGrid)
                InterpolateSpatialGainRow(grid.get(), r, m_Rows, gainRow.data());
            KColorTriple level;
            for (int c = 0; c < 3; ++c)
                level[c] = base[c] + flare[c] + levels[static_cast<size_t>(r)][c];
            ApplyRowCorrections(priRow(r), m_Columns, columnFilter, squareFilter, rowDrift, level, poly,
                                useGrid ? gainRow.data() : nullptr, useGrid ? grid->m_Columns : 0, scale);
            if (band == 0)
                priProgress(0, r, end);
        }
    });
}

// Step 1: the calibrated defects, whose sensor positions are moved into the keep area.
bool KStage2Steps::priBadPixels()
{
    KUInt32 count = 0;
    const KUInt32* entries = GetCamdataBadPixels("BadPixels", m_Camdata, &count);
    if (!entries)
        return false;
    const KPoint offset{SaturatedDifference(0, m_Settings.keep.left), SaturatedDifference(0, m_Settings.keep.top)};
    FixBadPixels(&m_Image, entries, count, &offset, &m_Picture);
    return true;
}

// Step 2: the red channel's unsharp mask over a five-row window. The ring's buffers are laid end to end at the
// start of the scratch memory (aligned for their 32-bit values, whatever the scratch rows' length).
void KStage2Steps::priRedSharpen(KInt32 start)
{
    const KInt32 amount = Saturate32(KInt64{KTruncToInt32(GetCamdataFloat("RedSharpen", m_Camdata))} * 2);
    KInt32 left = GetCamdataInt32("RedLeftWeight", m_Camdata);
    KInt32 right = GetCamdataInt32("RedRightWeight", m_Camdata);
    if (left == 0 && right == 0)
        left = 2048;

    const auto base = reinterpret_cast<std::uintptr_t>(m_Scratch.GetData());
    auto* words = reinterpret_cast<KInt32*>((base + 3) & ~std::uintptr_t{3});
    const size_t columns = static_cast<size_t>(m_Picture.Width());
    KRedSharpenRing ring;
    for (size_t i = 0; i < 5; ++i)
        ring.m_pSlot[i] = words + i * columns;
    priRingPass<5>(2, start, ring, columns, 0, [&](const KInt16* input, KInt16* output, KRedSharpenRing& r) {
        RedSharpenRow(input, output, amount, r, m_Picture.Width(), left, right);
    });
}

// Step 3: nearly clipped pixels pulled toward neutral.
void KStage2Steps::priHighlights(KInt32 start)
{
    const double neutral[3] = {1.0, 1.0, 1.0};
    KInt32 thresholds[3], clipLevels[3], weights[3];
    CalculateHighlightLimits(neutral, m_Settings.saturation, thresholds, clipLevels, weights);
    for (KInt32 r = start; r < m_Rows; ++r) {
        NeutralizeHighlightsRow(priRow(r), priRow(std::max(r - 1, 0)), priRow(std::min(r + 1, m_Rows - 1)),
                                m_Columns, thresholds, clipLevels, weights);
        priProgress(3, r, m_Rows);
    }
}

// Step 4: coloured fringes around clipped pixels.
void KStage2Steps::priDespeckle(KInt32 start)
{
    const double neutral[3] = {1.0, 1.0, 1.0};
    KInt32 thresholds[3], clipLevels[3], weights[3];
    CalculateHighlightLimits(neutral, m_Settings.saturation, thresholds, clipLevels, weights);
    // Each row's trigger test reads the row as it was before the call for the row above changed it: two
    // scratch rows hold the row and the one below it as found.
    const size_t rowBytes = static_cast<size_t>(m_Columns) * 3 * sizeof(KInt16);
    KInt16* found = priScratchRow(0);
    KInt16* foundBelow = priScratchRow(1);
    const KInt32 first = std::max(start, 1);
    if (first < m_Rows - 1)
        std::memcpy(found, priRow(first), rowBytes);
    for (KInt32 r = first; r < m_Rows - 1; ++r) {
        if (m_Settings.bulb) {
            DespeckleBulbRow(priRow(r), priRow(r - 1), priRow(r + 1), m_Columns, thresholds, clipLevels, weights);
        } else {
            std::memcpy(foundBelow, priRow(r + 1), rowBytes);
            DespeckleRow(priRow(r), priRow(r - 1), priRow(r + 1), m_Columns, thresholds, clipLevels, weights, found);
            std::swap(found, foundBelow);
        }
        priProgress(4, r, m_Rows);
    }
}

// Step 5: isolated bright and dark pixels; per channel for long exposures.
void KStage2Steps::priHotPixels(KInt32 start)
{
    if (m_Columns < 3 || m_Rows < 3)
        throw KExceptionPixelProc2("Despeckle: input image too small");
    for (KInt32 r = std::max(start, 1); r < m_Rows - 1; ++r) {
        if (m_Settings.longExposure)
            RemoveHotPixelsRowLongExposure(priRow(r - 1), priRow(r), priRow(r + 1), m_Columns);
        else
            RemoveHotPixelsRow(priRow(r - 1), priRow(r), priRow(r + 1), m_Columns);
        priProgress(5, r, m_Rows);
    }
}

// A ring pass of N = 2H + 1 rows (the red sharpening and the 3 x 3 and 5 x 5 chroma passes, each with its own
// ring type) over the picture, whose edges are the filter's edges: the call for loop row r smooths input row r (the last row repeated below the
// image) into the ring and writes output row r - H from the N smoothed rows around it; the first output is
// preceded by copies of the first smoothed row above it. Output row o thus depends on input rows o - H .. o + H
// as they were before the pass, and a band of output rows [a, b) needs, beside its own rows, rows a - H .. a - 1
// and b .. b + H - 1, which its neighbours change: those come from copies taken before the bands start. A band
// below the first fills its ring with input rows a - H .. a + H - 1 before its first output, as a resumed pass
// does (a pass resumed at loop row R >= 2H: rows R - 2H .. R - 1).
template <int N, class Ring, class Filter>
void KStage2Steps::priRingPass(KUInt32 step, KInt32 start, const Ring& firstRing, size_t slotValues,
                               KInt64 progressExtra, const Filter& filter)
{
    using Value = std::remove_pointer_t<std::remove_cvref_t<decltype(firstRing.m_pSlot[0])>>;
    constexpr KInt32 H = N / 2;
    const KInt32 rows = m_Picture.Height();
    const KInt32 first = start >= 2 * H ? start - H : 0;  // the first output row
    const KRowBands bands(first, rows, std::max(kMinBandRows, 2 * H));
    const size_t samples = static_cast<size_t>(m_Picture.Width()) * 3;
    const size_t rowBytes = samples * sizeof(KInt16);

    // Rows e - H .. e + H - 1 around the top e of every band but the first, as they are now.
    std::vector<KInt16> edges(static_cast<size_t>(bands.Count() - 1) * 2 * H * samples);
    auto edgeRow = [&](int band, KInt32 row) {  // row in Begin(band) - H .. Begin(band) + H - 1
        const size_t index = static_cast<size_t>(band - 1) * 2 * H + static_cast<size_t>(row - (bands.Begin(band) - H));
        return edges.data() + index * samples;
    };
    for (int band = 1; band < bands.Count(); ++band)
        for (KInt32 row = bands.Begin(band) - H; row < bands.Begin(band) + H; ++row)
            std::memcpy(edgeRow(band, row), priPictureRow(row), rowBytes);
    // The first band's ring is the caller's, the others' their own.
    std::vector<Value> rings(static_cast<size_t>(bands.Count() - 1) * N * slotValues);

    bands.Run([&](int band, KInt32 a, KInt32 b) {
        Ring ring = firstRing;
        if (band > 0) {
            for (int i = 0; i < N; ++i)
                ring.m_pSlot[i] = rings.data() + (static_cast<size_t>(band - 1) * N + i) * slotValues;
        }
        const bool last = band + 1 == bands.Count();
        auto input = [&](KInt32 r) -> const KInt16* {
            r = std::min(r, rows - 1);
            if (band > 0 && r < a)
                return edgeRow(band, r);
            if (!last && r >= b)
                return edgeRow(band + 1, r);
            return priPictureRow(r);
        };
        KInt32 r = 0;
        if (a > 0) {
            for (r = a - H; r < a + H; ++r)
                filter(input(r), nullptr, ring);
        }
        for (; r < b + H; ++r) {
            if (r == H) {  // the smoothed first row replicated upwards
                for (int i = 0; i < H; ++i)
                    std::memcpy(ring.m_pSlot[i], ring.m_pSlot[H], slotValues * sizeof(Value));
            }
            filter(input(r), r >= H ? priPictureRow(r - H) : nullptr, ring);
            if (band == 0)
                priProgress(step, r, KInt64{b} + progressExtra);
        }
    });
}

// Step 6: chroma blur over a 3 x 3 neighbourhood, a ring of three scratch rows.
void KStage2Steps::priChromaBlur3(KInt32 start)
{
    const KStage2Settings& w = m_Settings;
    const KColorTriple q = GetCamdataColorFloat("ChromaDQ", m_Camdata);
    const double s = KTruncToInt32(GetCamdataFloat("SpatialDQ", m_Camdata));
    double t[3];
    for (int c = 0; c < 3; ++c)
        t[c] = 2 * q[c] * w.noise * w.channelGain[c] * w.d;
    SetMean(t);
    const KInt32 spatial = Saturate32(KInt64{2} * TruncProduct(s * w.noise, 10 * w.d));
    const double slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(t, slopes);
    KChromaBlurRing3 ring;
    for (int i = 0; i < 3; ++i)
        ring.m_pSlot[i] = priScratchRow(i);
    priRingPass<3>(6, start, ring, static_cast<size_t>(m_Picture.Width()) * 3, 2,
                   [&](const KInt16* input, KInt16* output, KChromaBlurRing3& r) {
                       ChromaBlurRow3(input, output, t, spatial, r, m_Picture.Width(), lut);
                   });
}

// Steps 7 and 10: chroma blur over a 5 x 5 neighbourhood, a ring of five scratch rows, in one pass.
void KStage2Steps::priChromaBlur5(KUInt32 step, KInt32 start, const double limits[3], KInt32 spatial,
                                  const double slopes[3])
{
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    KChromaBlurRing5 ring;
    for (int i = 0; i < 5; ++i)
        ring.m_pSlot[i] = priScratchRow(i);
    priRingPass<5>(step, start, ring, static_cast<size_t>(m_Picture.Width()) * 3, 2,
                   [&](const KInt16* input, KInt16* output, KChromaBlurRing5& r) {
                       ChromaBlurRow(input, output, limits, spatial, r, m_Picture.Width(), lut);
                   });
}

// Step 8: the black-level colour offset removed, colour noise cored, camera RGB to the white-balanced working
// space.
void KStage2Steps::priColorNoise(KInt32 start)
{
    const KStage2Settings& w = m_Settings;
    KMatrix3x3 matrix;
    const double neutral[3] = {1.0, 1.0, 1.0};
    CalculateWhiteBalancedMatrix(matrix, w.camera, neutral, w.isoRatio, -1.0 / 30);
    const KFixedMatrix3x3 fixed = ToFixedMatrix(matrix);

    KColorTriple q = GetCamdataColorFloat("ColorDQ", m_Camdata);
    if (q[0] == 0.0 && q[1] == 0.0 && q[2] == 0.0)
        q = {6.0 * w.isoGain, 9.0 * w.isoGain, 12.0 * w.isoGain};
    const double t = w.noise * (q[0] + q[1] + q[2]) / (w.isoRatio * 3) / std::sqrt(w.isoGain);
    const double limits[3] = {t, t, t};
    const double slopes[3] = {w.bulb ? 0.85 : 0.7, w.bulb ? 0.85 : 0.7, w.bulb ? 0.85 : 0.7};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);

    KInt32 offset[3];
    EstimateColorOffset(offset, m_Image, t, t, t);
    if (w.bulb)
        offset[2] = Saturate32(KInt64{offset[2]} - w.frames);
    const KRowBands bands(start, m_Rows, kMinBandRows);
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        for (KInt32 r = begin; r < end; ++r) {
            ColorDQRow(priRow(r), m_Columns, fixed, lut, offset[0], offset[1], offset[2]);
            if (band == 0)
                priProgress(8, r, end);
        }
    });
}

// Step 9: chroma blur over a very large neighbourhood, from a 4 x 4-reduced image kept in the scratch rows
// behind the first two; one pass.
void KStage2Steps::priCoarseChromaBlur()
{
    const KStage2Settings& w = m_Settings;
    const KColorTriple q = GetCamdataColorFloat("ChromaDQ", m_Camdata);
    const double s = KTruncToInt32(GetCamdataFloat("SpatialDQ", m_Camdata));
    double t[3];
    for (int c = 0; c < 3; ++c)
        t[c] = q[c] * w.noise * w.channelGain[c] * w.isoGain / 3;
    const KUInt32 product =
        static_cast<KUInt32>(KTruncToInt32(s * w.noise)) * static_cast<KUInt32>(KTruncToInt32(10 * w.isoGain));
    const auto spatial = static_cast<KInt32>(product >> 1);
    const double plain[3] = {0.6, 0.65, 0.7}, bulb[3] = {0.75, 0.8, 0.85};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(t, w.bulb ? bulb : plain);

    // A pass that would change nothing is skipped before its reduction.
    if (m_Columns <= 0 || !ChromaBlurCoarseRuns(t, spatial))
        return;
    KInt16* reduced = priScratchRow(2);
    ChromaBlurReduce(m_Image, kCoarseSpread, reduced);
    // The horizontal rows, one per block row, depend on the reduced image alone and are made first, in bands;
    // the vertical row runs down the image once to the first row of every band, and each band brings it on
    // over its own rows.
    const size_t samples = 3 * static_cast<size_t>(m_Columns);
    const KInt32 blockRows = (m_Rows + 3) / 4;
    // Each row made whole before it is read, so the block needs no clearing; a scratch block, as a large block
    // kept once freed would wait for a block of its size that never comes.
    const KScratchArray<KInt16> horizontalRows = MakeScratchArray<KInt16>(static_cast<size_t>(blockRows) * samples);
    KInt16* const horizontals = horizontalRows.get();
    KRowBands(0, blockRows, kMinBandRows / 4).Run([&](int, KInt32 begin, KInt32 end) {
        for (KInt32 block = begin; block < end; ++block)
            ChromaBlurCoarseHorizontal(block, kCoarseSpread, reduced, horizontals + block * samples, m_Columns);
    });
    const KRowBands bands(0, m_Rows, kMinBandRows);
    std::vector<KInt16> verticals(static_cast<size_t>(bands.Count()) * samples);
    for (int band = 1; band < bands.Count(); ++band) {
        KInt16* vertical = verticals.data() + static_cast<size_t>(band) * samples;
        std::copy_n(vertical - samples, samples, vertical);
        for (KInt32 r = bands.Begin(band - 1); r < bands.Begin(band); ++r)
            ChromaBlurCoarseVertical(kCoarseSpread, horizontals + (r >> 2) * samples, vertical, m_Columns);
    }
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        KInt16* vertical = verticals.data() + static_cast<size_t>(band) * samples;
        for (KInt32 r = begin; r < end; ++r) {
            ChromaBlurCoarseVertical(kCoarseSpread, horizontals + (r >> 2) * samples, vertical, m_Columns);
            ChromaBlurCoarseApply(priRow(r), r, vertical, t, spatial, m_Columns, lut);
        }
    });
}

// Step 11: the statistics of the automatic adjustments (the two tone values stored the other way round).
void KStage2Steps::priAutoAdjust()
{
    double exposure = 0, toneA = 0, toneB = 0, toneC = 0, spread = 0, balance[3] = {1.0, 1.0, 1.0};
    CalculateAutoAdjustSettings(m_Image, *KGlobalLUTsClass::GetCubeRootLUT(), *KGlobalLUTsClass::GetCubeLUT(),
                                &exposure, &toneA, &toneB, &toneC, &spread, balance);
    const double values[8] = {exposure, toneB, toneA, toneC, spread, balance[0], balance[1], balance[2]};
    std::copy_n(values, 8, m_pAutoAdjust);
}
