#pragma once
// Stage 1 and the row-correction settings of stage 2 as the engine's drivers derive them from a calibration:
// shared by the generator-frame tests of stages 1 and 2 and by the end-to-end development.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KDarkDriftMeasure.h"
#include "KLinearize.h"
#include "KSubsampledAverage.h"
#include "RawStageTestSupport.h"

namespace rawstage {

// Raw and dark frames through the calibration's linearisation tables, dark subtracted; with the raw offsets
// measured on the rows the calibration names when asked (into offsetsOut when given).
inline Image DevelopStage1(const Frame& dark, const Frame& raw, const KCamdata& camdata, bool withOffsets,
                           std::vector<KInt16>* offsetsOut = nullptr)
{
    const int32_t width = raw.Width(), height = raw.Height();
    Image out(width, height);
    const std::unique_ptr<KColorLUT> lut = GetCamdataColorLUT("LinLUTs", camdata);
    EXPECT_TRUE(lut);
    LinearizeAndDarkSubtractImage(dark.Get(), raw.Get(), lut.get(), out.Get());
    std::vector<KInt16> offsets(size_t(width) * 3);
    bool useOffsets = false;
    if (withOffsets) {
        const KUInt32 dims[1] = {3};
        const KCamdataMatrix* rows = camdata.FindMatrix("RawOffsetSourceRows", KCAMDATA_UINT32, 1, dims);
        EXPECT_TRUE(rows);
        const KUInt32* v = rows->Elements<KUInt32>();
        useOffsets = v[1] < KUInt32(height) && v[1] >= v[0] &&
                     CalculateRawOffsets(raw.Get(), offsets.data(), v[0], v[1], v[2],
                                         GetCamdataUInt32("RawOffsetFilterShift", camdata));
        EXPECT_TRUE(useOffsets);
    }
    for (int32_t y = 0; y < height; ++y) {
        if (useOffsets)
            LinearizeAndDarkSubtractRowWithOffsets(dark.Row(y), raw.Row(y), width, *lut, out.Row(y), offsets.data());
        else
            LinearizeAndDarkSubtractRow(dark.Row(y), raw.Row(y), width, *lut, out.Row(y));
    }
    if (offsetsOut)
        *offsetsOut = offsets;
    return out;
}

// The row corrections' settings for image from the calibration: filters, polynomial, spatial gain, flare, the
// drift measured on the dark shields top and bottom, the shields' column ranges and the active area (shields
// and area in frame positions). The scale stays 1.
inline RowCorrectionSettings GatherRowCorrections(const KCamdata& cd, const Image& image, const KRect& top,
                                                  const KRect& bottom, const KRect& active)
{
    RowCorrectionSettings s;
    s.flare = CalculateFlare(image.Get(), GetCamdataColorFloat("FlareFactor", cd));
    const double cf = GetCamdataFloat("ColumnFilter", cd);
    s.columnFilter = GetCamdataColorFloatOr("ColumnFilterRGB", cd, {cf, cf, cf});
    s.squareFilter = GetCamdataColorFloatOr("ColumnFilterSquareRGB", cd, s.columnFilter);
    s.poly = GetCamdataPostPoly("PostPolyMatrix", cd);
    s.gridHolder = GetCamdataSpatialGain("SpatialGain", cd);
    s.grid = s.gridHolder.get();
    s.drift = CalculateTopAndBottomDrift(image.Get(), top, bottom);
    const KUInt32 dims[2] = {2, 2};
    const KCamdataMatrix* ranges = cd.FindMatrix("DarkShieldColRange", KCAMDATA_UINT32, 2, dims);
    EXPECT_TRUE(ranges);
    for (int i = 0; i < 4; ++i)
        s.shield[i] = ranges->Elements<KUInt32>()[i];
    s.active = active;
    return s;
}

}  // namespace rawstage
