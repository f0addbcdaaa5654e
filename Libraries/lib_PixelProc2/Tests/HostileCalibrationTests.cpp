// Damaged calibration reaching the pixel stages: every value a raw file's calibration can carry (zero,
// negative, not-a-number, infinite, huge) goes through the getters into the stage kernels as the stage
// drivers pass it, over tiny and odd image sizes. Nothing may crash, read or write outside its rows, or
// overflow (the sanitizers judge); the few results that are defined for any input are checked.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "KAutoAdjust.h"
#include "KBadPixels.h"
#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KColorNoise.h"
#include "KCropSizeRotate.h"
#include "KDetailLayer.h"
#include "KExceptionPixelProc2.h"
#include "KGlobalLUTs.h"
#include "KHighlights.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KRGBTripleOps.h"
#include "KRounding.h"
#include "KToneCurve.h"
#include "DevelopTestImages.h"
#include "KzrCalibrationBuilder.h"
#include "Stage2FilterSupport.h"

namespace {

using Image = stage2::WorkingImage;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kHostile[] = {0.0, -1.0, kNaN, kInf, -kInf, 1e30, -1e30, 3e9, 1e-30};

// A calibration whose every entry the stages read holds v (or the integer extremes).
std::vector<uint8_t> HostileCalibration(double v)
{
    const float f = static_cast<float>(v);
    KzrCalibrationBuilder b;
    b.AddFloat("ColumnFilterRGB", {3}, {f, f, f});
    b.AddFloat("ColumnFilterSquareRGB", {3}, {f, f, f});
    b.AddFloat("PostPolyMatrix", {3, 9}, std::vector<float>(27, f));
    b.AddFloat("SpatialGain", {2, 3, 3}, std::vector<float>(18, f));
    b.AddFloat("DarkDrift", {2, 3, 2}, std::vector<float>(12, f));
    b.AddFloatScalar("RowCorrectionGain", f);
    b.AddFloatScalar("RowCorrectionScale", f);
    b.AddFloat("ChromaDQ", {3}, {f, f, f});
    b.AddFloatScalar("SpatialDQ", f);
    b.AddFloatScalar("RedSharpen", f);
    b.AddFloatScalar("GreenWeight", f);
    b.AddFloat("CAMToXYZ", {3, 3}, std::vector<float>(9, f));
    b.AddFloat("RGBNeutral", {3}, {f, 1.0f, f});
    b.AddInt32Scalar("RedLeftWeight", INT32_MIN);
    b.AddInt32Scalar("RedRightWeight", INT32_MAX);
    b.AddInt32Scalar("GreenHighLimit", INT32_MIN);
    b.AddInt32Scalar("GreenLowLimit", INT32_MAX);
    b.AddInt16("SaturationLevel", {3}, {-32768, 0, 32767});
    b.AddUInt32("BadPixels", {5}, {0xFFFFFFFFu, 0x00302FFu, 0x0020201u, 0xFFF00000u, 0x000FFFFFu});
    b.AddRect("DarkShieldTop", INT32_MIN, -5, INT32_MAX, 3);
    b.AddRect("ActiveImageArea", -3, 1, 1000, 2);
    return b.BuildFile(KzrByteOrder::Little);
}

void Fill(Image& image, int seed)
{
    image.FillBy([seed](int32_t x, int32_t y, int c) {
        const int v = (x * 7919 + y * 104729 + c * 31 + seed) % 65536;
        return static_cast<int16_t>(v);
    });
}

// Row corrections with the shield columns and the active area as a damaged calibration gives them.
void RowCorrections(Image& image, const KCamdata& cd)
{
    rawstage::RowCorrectionSettings s;
    s.columnFilter = GetCamdataColorFloat("ColumnFilterRGB", cd);
    s.squareFilter = GetCamdataColorFloat("ColumnFilterSquareRGB", cd);
    s.poly = GetCamdataPostPoly("PostPolyMatrix", cd);
    s.gridHolder = GetCamdataSpatialGain("SpatialGain", cd);
    s.grid = s.gridHolder.get();
    s.drift = GetCamdataDarkDrift("DarkDrift", cd);
    s.rowGain = GetCamdataFloat("RowCorrectionGain", cd);
    s.rowScale = GetCamdataFloat("RowCorrectionScale", cd);
    const KRect shield = GetCamdataRect("DarkShieldTop", cd);
    s.shield[0] = static_cast<KUInt32>(shield.left);
    s.shield[1] = static_cast<KUInt32>(shield.top);
    s.shield[2] = 1;
    s.shield[3] = static_cast<KUInt32>(shield.bottom);
    s.active = GetCamdataRect("ActiveImageArea", cd);
    s.scale = GetCamdataColorFloat("ChromaDQ", cd);
    rawstage::CorrectRows(image, s);
    try {
        (void)CalculateDrift(image.Get(), shield);
    } catch (const KExceptionPixelProc2&) {
    }
}

void HighlightsAndDefects(Image& image, const KCamdata& cd)
{
    KUInt32 count = 0;
    const KUInt32* bad = GetCamdataBadPixels("BadPixels", cd, &count);
    const KPoint offset{-3, 2};
    FixBadPixels(image.Get(), bad, count, &offset);
    FixBadPixels(image.Get(), bad, count, nullptr);

    const KInt32 amount = KTruncToInt32(GetCamdataFloat("RedSharpen", cd));
    rawstage::RedSharpenImage(image, amount, GetCamdataInt32("RedLeftWeight", cd), GetCamdataInt32("RedRightWeight", cd));

    const KColorTriple n = GetCamdataColorFloat("RGBNeutral", cd);
    const double neutral[3] = {n[0], n[1], n[2]};
    const KIntTriple sat = GetCamdataColorInt16("SaturationLevel", cd);
    for (const KInt32 scale : {1, 65536}) {
        const KInt32 saturation[3] = {sat[0] * scale, sat[1] * scale, sat[2] * scale};
        KInt32 thresholds[3], clip[3], weights[3];
        CalculateHighlightLimits(neutral, saturation, thresholds, clip, weights);
        const int32_t rows = image.Height(), cols = image.Width();
        for (int32_t r = 0; r < rows; ++r)
            NeutralizeHighlightsRow(image.Row(r), image.Row(std::max(r - 1, 0)), image.Row(std::min(r + 1, rows - 1)),
                                    cols, thresholds, clip, weights);
        for (int32_t r = 1; r + 1 < rows; ++r) {
            DespeckleRow(image.Row(r), image.Row(r - 1), image.Row(r + 1), cols, thresholds, clip, weights);
            DespeckleBulbRow(image.Row(r), image.Row(r - 1), image.Row(r + 1), cols, thresholds, clip, weights);
        }
    }
    stage2::HotPixelStep(image, false);
    stage2::HotPixelStep(image, true);
}

void ChromaAndColour(Image& image, const KCamdata& cd)
{
    const KColorTriple q = GetCamdataColorFloat("ChromaDQ", cd);
    const double limits[3] = {q[0], q[1], q[2]};
    const KInt32 spatial = KTruncToInt32(GetCamdataFloat("SpatialDQ", cd));
    const double slopes[3] = {0.7, 0.7, 0.7};
    // The tables are built from the limits alone when they give a pass that runs; else any table serves.
    const double safe[3] = {100, 100, 100};
    const bool runs = spatial > 0 && limits[0] > 0 && limits[1] > 0 && limits[2] > 0;
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(runs ? limits : safe, slopes);
    stage2::ChromaBlur3Pass(image, limits, spatial, lut);
    stage2::ChromaBlur5Pass(image, limits, spatial, lut);
    stage2::ChromaBlurCoarsePass(image, limits, spatial, lut);

    KMatrix3x3 matrix;
    const double neutral[3] = {1.0, 1.0, 1.0};
    CalculateWhiteBalancedMatrix(matrix, GetCamdataColorMatrix("CAMToXYZ", cd), neutral, q[0], -1.0 / 30);
    const KFixedMatrix3x3 fixed = ToFixedMatrix(matrix);
    KInt32 offset[3];
    EstimateColorOffset(offset, image.Pixmap(), q[0], q[1], q[2]);
    const double dq[3] = {std::fabs(q[0]), 1.0, 1.0};
    const KColorLUT& coring = *KGlobalLUTsClass::GetTanhLUTs(dq[0] > 0 ? dq : safe, slopes);
    for (int32_t r = 0; r < image.Height(); ++r)
        ColorDQRow(image.Row(r), image.Width(), fixed, coring, offset[0], offset[1], offset[2]);

    double exposure, a, b, c, spread, balance[3];
    CalculateAutoAdjustSettings(image.Pixmap(), *KGlobalLUTsClass::GetCubeRootLUT(), *KGlobalLUTsClass::GetCubeLUT(),
                                &exposure, &a, &b, &c, &spread, balance);
    EXPECT_TRUE(std::isfinite(exposure));
}

// Stage 3 and 4 with the calibration's green correction and a tone curve and saturation of the same value.
void Stage3And4(const Image& image, const KCamdata& cd, double v)
{
    const int32_t w = image.Width(), h = image.Height();
    Image out(w, h);
    MonoImage luminance(w, h);
    const KRect active(0, 0, w, h);
    double factor = 1.0;
    try {
        factor = CropSizeRotateMore(image.Pixmap(), active, w, h, w, h, KRect(0, 0, w, h), 90,
                                    *KGlobalLUTsClass::GetCubeRootLUT(), out.Pixmap(), luminance.Typed(),
                                    GetCamdataFloat("GreenWeight", cd), GetCamdataInt32("GreenHighLimit", cd),
                                    GetCamdataInt32("GreenLowLimit", cd));
    } catch (const KExceptionPixelProc2&) {
        EXPECT_TRUE(w < 2 || h < 2);
    }
    CreateDetailLayer(luminance.Typed(), v);
    CreateDetailLayer(luminance.Typed(), factor);

    auto tone = MakeColorLUT([](int, int) { return 0; });
    CreateToneLUT(v, v, v, v, v, v, v, *KGlobalLUTsClass::GetCubeLUT(), *tone);
    KMatrix3x3 m;
    CalculateOutputColorMatrix(m, 2, v);
    auto gamma = CreateOutputGammaLUT(2, 16);
    TestPixmap rgb(kPixelType48RGB, w, h);
    KPixelProc2::ProcessToOutput(out.Pixmap(), luminance.Typed(), v, *tone, m, *gamma, rgb.Pixmap());
}

}  // namespace

TEST(HostileCalibration, EveryStageAcceptsAnyCalibrationValueAtAnySize)
{
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {6, 6}, {13, 4}};
    for (double v : kHostile) {
        const std::vector<uint8_t> bytes = HostileCalibration(v);
        const KCamdata cd(bytes.data(), bytes.size());
        for (const auto& [w, h] : sizes) {
            SCOPED_TRACE(testing::Message() << "value " << v << ", " << w << " x " << h);
            Image image(w, h);
            Fill(image, w * h);
            RowCorrections(image, cd);
            Fill(image, w + h);
            HighlightsAndDefects(image, cd);
            Fill(image, w - h);
            ChromaAndColour(image, cd);
            Fill(image, 3 * w);
            Stage3And4(image, cd, v);
        }
    }
}
