// A frame of the generator developed from raw and dark frames to output pixels by direct calls: stage 1,
// the thirteen steps of stage 2, stage 3 (half size, turned a quarter clockwise), the tone table and stage 4
// into 16-bit sRGB, each called with the values the engine's drivers derive from the default calibration.
// The photographer has clicked a grey: the sensor's neutral (its channel response, 0.62, 1, 0.78) is the
// override neutral.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "DevelopTestImages.h"
#include "KAutoAdjust.h"
#include "KBadPixels.h"
#include "KCamdataGetters.h"
#include "KColorNoise.h"
#include "KColorSpace.h"
#include "KCropSizeRotate.h"
#include "KDetailLayer.h"
#include "KGlobalLUTs.h"
#include "KHighlights.h"
#include "KLinearize.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KSubsampledAverage.h"
#include "KToneCurve.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"
#include "LumoGeneratorFrames.h"
#include "RawStageDevelop.h"
#include "RawStageTestSupport.h"
#include "Stage2FilterSupport.h"

namespace {

// Tall enough that the middle of the grey ramp lies beyond the reach of the coarse chroma blur from the colour
// patches below it (nearer, their colour bleeds into the ramp by a percent or two).
constexpr int kWidth = 192, kHeight = 320;
constexpr double kSensorNeutral[3] = {0.62, 1.0, 0.78};
// Hot pixels that the dark frame does not show (they appear only in the exposure): on the ramp, on patches and
// in the dark lower band.
constexpr int kExposureHotPixels[][2] = {{40, 40}, {120, 60}, {60, 120}, {150, 200}, {100, 280}, {30, 290}};
constexpr int kHotExtra = 2500;
// The request: half size, a clockwise quarter turn, the whole picture; neutral tone; sharpening 0.5 and
// saturation 1 into sRGB.
constexpr KUInt32 kRotation = 90;
constexpr double kSharpening = 0.5, kSaturation = 1.0;
constexpr int kSrgb = 2;

using kzrsynth::SceneParams;

KzrCalibrationLayout DevelopmentLayout()
{
    KzrCalibrationLayout layout;
    layout.columns = kWidth;
    layout.rows = kHeight;
    layout.keepLeft = 10;
    layout.keepTop = 6;
    layout.shieldLeft = 6;
    layout.shieldRight = layout.shieldTop = layout.shieldBottom = 4;
    layout.badPixels = {{30, 50}, {90, 70}, {170, 120}};
    return layout;
}

SceneParams DevelopmentScene(bool hotPixels)
{
    SceneParams scene;
    scene.width = kWidth;
    scene.height = kHeight;
    scene.seed = 11;
    scene.hotPixels = hotPixels ? -1 : 0;
    return scene;
}

struct Development : lumotest::GeneratorFrames {
    KRect keep, active;  // active relative to the keep area (the raw frame)
    stage2::WorkingImage stage2{kWidth, kHeight};
    KInt32 expectedWidth = 0, expectedHeight = 0, outWidth = 0, outHeight = 0;
    double factor = 0;
    std::unique_ptr<WorkingImage> stage3;
    std::unique_ptr<MonoImage> detail;
    std::unique_ptr<TestPixmap> output;
    rawstage::Image stage1{kWidth, kHeight};
    bool m_bExposureHotPixels = false;

    // Without hot pixels: the sensor has none and the exposure shows none.
    explicit Development(bool hotPixels) : lumotest::GeneratorFrames(DevelopmentScene(hotPixels), DevelopmentLayout())
    {
        keep = GetCamdataRect("KeepImageArea", *camdata);
        const KRect a = GetCamdataRect("ActiveImageArea", *camdata);
        active = KRect(a.left - keep.left, a.top - keep.top, a.right - keep.left, a.bottom - keep.top);
        m_bExposureHotPixels = hotPixels;

        Stage1();
        Stage2(stage1);
        Stage3();
        Stage4();
    }

    bool Shielded(int x, int y) const
    {
        return x < active.left || x >= active.right || y < active.top || y >= active.bottom;
    }

    // The raw and dark frames (masked pixels see no light: they take the dark frame's values) through the
    // linearisation tables, with the column offsets measured on the top shield.
    void Stage1()
    {
        DarkenMasked([this](int x, int y) { return Shielded(x, y); });
        for (auto [x, y] : kExposureHotPixels)
            for (int c = 0; c < 3 && m_bExposureHotPixels; ++c)
                raw.At(x, y, c) = KUInt16(std::min(raw.At(x, y, c) + kHotExtra, 4095));

        stage1 = rawstage::DevelopStage1(dark, raw, *camdata, true);
    }

    void Stage2(rawstage::Image image)
    {
        const KCamdata& cd = *camdata;
        // Working values: capture at the sensor's ISO (gain 1, so d = 1), not a bulb exposure, a short one.
        const double isoGain = 100.0 / GetCamdataFloat("SensorISO", cd), d = 1.0, isoRatio = isoGain / d;
        const double noise = std::sqrt(2.0);
        const KIntTriple saturation = GetCamdataColorInt16("SaturationLevel", cd);
        KMatrix3x3 camera = GetCamdataColorMatrix("CAMToXYZ", cd);
        EXPECT_GE(std::fabs(Determinant3x3(camera)), 0.0001);
        double n[3] = {kSensorNeutral[0], kSensorNeutral[1], kSensorNeutral[2]};
        const double top = std::max({n[0], n[1], n[2]});
        KColorTriple gain;
        for (int c = 0; c < 3; ++c) {
            n[c] /= top;
            gain[c] = 1.0 / n[c];
            for (int row = 0; row < 3; ++row)
                camera[row * 3 + c] *= n[c];
        }
        n[0] = n[1] = n[2] = 1.0;

        // Step 0: row corrections.
        auto shield = [&](const char* name) {
            const KRect r = GetCamdataRect(name, cd);
            return KRect(std::max(r.left - keep.left, 0), r.top - keep.top, std::min(r.right - keep.left, kWidth),
                         r.bottom - keep.top);
        };
        KRect topShield = shield("DarkShieldTop"), bottomShield = shield("DarkShieldBottom");
        topShield.top = std::max(topShield.top, 0);
        bottomShield.bottom = std::min(bottomShield.bottom, kHeight);
        EXPECT_TRUE(topShield.bottom > topShield.top && bottomShield.bottom > bottomShield.top);
        rawstage::RowCorrectionSettings s = rawstage::GatherRowCorrections(cd, image, topShield, bottomShield, active);
        EXPECT_LE(std::fabs(s.drift.m_Value[0][1][0]), 4000);
        s.scale = {d * gain[0], d * gain[1], d * gain[2]};
        rawstage::CorrectRows(image, s);

        // Step 1: bad pixels; step 2: red sharpen.
        KUInt32 count = 0;
        const KUInt32* bad = GetCamdataBadPixels("BadPixels", cd, &count);
        EXPECT_EQ(count, layout.badPixels.size());
        const KPoint offset{-keep.left, -keep.top};
        FixBadPixels(image.Get(), bad, count, &offset);
        rawstage::RedSharpenImage(image, KInt32(std::trunc(GetCamdataFloat("RedSharpen", cd))) * 2, 2048, 0);

        for (int y = 0; y < kHeight; ++y)
            std::memcpy(stage2.Row(y), image.Row(y), size_t(kWidth) * 6);
        stage2::WorkingImage& w = stage2;

        // Steps 3 and 4: highlights and despeckle; step 5: hot pixels.
        const KInt32 sat[3] = {KInt32(saturation[0] * d), KInt32(saturation[1] * d), KInt32(saturation[2] * d)};
        KInt32 limitA[3], limitB[3], limitC[3];
        CalculateHighlightLimits(n, sat, limitA, limitB, limitC);
        for (int r = 0; r < kHeight; ++r)
            NeutralizeHighlightsRow(w.Row(r), w.Row(std::max(r - 1, 0)), w.Row(std::min(r + 1, kHeight - 1)), kWidth,
                                    limitA, limitB, limitC);
        for (int r = 1; r < kHeight - 1; ++r)
            DespeckleRow(w.Row(r), w.Row(r - 1), w.Row(r + 1), kWidth, limitA, limitB, limitC);
        stage2::HotPixelStep(w, false);

        // Steps 6 and 7: chroma blur over three and five rows.
        const KInt32 spatialUnit = KInt32(std::trunc(GetCamdataFloat("SpatialDQ", cd)) * noise);
        const KColorTriple q = GetCamdataColorFloat("ChromaDQ", cd);
        auto mean = [](double a, double b, double c, double t[3]) { t[0] = t[1] = t[2] = (a + b + c) / 3; };
        const double chromaBlur = std::trunc(GetCamdataFloat("ChromaBlur", cd));
        EXPECT_GT(chromaBlur, 200);
        double t[3];
        mean(2 * q[0] * noise * gain[0] * d, 2 * q[1] * noise * gain[1] * d, 2 * q[2] * noise * gain[2] * d, t);
        const double slopes6[3] = {0.7, 0.7, 0.7};
        stage2::ChromaBlur3Pass(w, t, 2 * spatialUnit * KInt32(10 * d), *KGlobalLUTsClass::GetTanhLUTs(t, slopes6));
        mean(q[0] * noise * gain[0] * d, q[1] * noise * gain[1] * d, q[2] * noise * gain[2] * d, t);
        const double slopes7[3] = {0.8, 0.8, 0.8};
        stage2::ChromaBlur5Pass(w, t, spatialUnit * KInt32(10 * d), *KGlobalLUTsClass::GetTanhLUTs(t, slopes7));

        // Step 8: colour noise and the working space.
        KMatrix3x3 m;
        CalculateWhiteBalancedMatrix(m, camera, n, isoRatio, -1.0 / 30);
        const KFixedMatrix3x3 fixed = ToFixedMatrix(m);
        KColorTriple dq = GetCamdataColorFloat("ColorDQ", cd);
        if (dq[0] == 0 && dq[1] == 0 && dq[2] == 0)
            dq = {6 * isoGain, 9 * isoGain, 12 * isoGain};
        const double t8 = noise * (dq[0] + dq[1] + dq[2]) / (isoRatio * 3) / std::sqrt(isoGain);
        const double limits8[3] = {t8, t8, t8};
        KInt32 colourOffset[3];
        EstimateColorOffset(colourOffset, w.Pixmap(), t8, t8, t8);
        const KColorLUT& lut8 = *KGlobalLUTsClass::GetTanhLUTs(limits8, slopes6);
        for (int r = 0; r < kHeight; ++r)
            ColorDQRow(w.Row(r), kWidth, fixed, lut8, colourOffset[0], colourOffset[1], colourOffset[2]);

        // Steps 9 and 10: coarse and strong chroma blur.
        const double t9[3] = {q[0] * noise * gain[0] * isoGain / 3, q[1] * noise * gain[1] * isoGain / 3,
                              q[2] * noise * gain[2] * isoGain / 3};
        const double slopes9[3] = {0.6, 0.65, 0.7};
        stage2::ChromaBlurCoarsePass(w, t9, KInt32(KUInt32(spatialUnit * KInt32(10 * isoGain)) >> 1),
                                     *KGlobalLUTsClass::GetTanhLUTs(t9, slopes9));
        const double strong = std::pow(isoGain, 1.5);
        const double t10[3] = {q[0] * noise * 2 * strong, q[1] * noise * 2 * strong, q[2] * noise * 2 * strong};
        const double slopes10[3] = {0.5, 0.6, 0.7};
        stage2::ChromaBlur5Pass(w, t10, spatialUnit * KInt32(10 * strong), *KGlobalLUTsClass::GetTanhLUTs(t10, slopes10));

        // Step 11: the automatic settings (the request below keeps its own neutral ones).
        double p1, p2, p3, p4, p5, p6[3];
        CalculateAutoAdjustSettings(w.Pixmap(), *KGlobalLUTsClass::GetCubeRootLUT(), *KGlobalLUTsClass::GetCubeLUT(),
                                    &p1, &p2, &p3, &p4, &p5, p6);
        EXPECT_LE(std::fabs(p1), 2.0);
    }

    void Stage3()
    {
        expectedWidth = active.Width();
        expectedHeight = active.Height();
        outWidth = expectedHeight / 2;  // turned: the output's width follows the picture's height
        outHeight = expectedWidth / 2;
        stage3 = std::make_unique<WorkingImage>(outWidth, outHeight);
        detail = std::make_unique<MonoImage>(outWidth, outHeight);
        double weight = GetCamdataFloat("GreenWeight", *camdata);
        KInt32 high = GetCamdataInt32("GreenHighLimit", *camdata), low = GetCamdataInt32("GreenLowLimit", *camdata);
        if (weight == 0.0 && high == 0 && low == 0) {
            weight = 0.001;
            high = 200;
            low = -120;
        }
        factor = CropSizeRotateMore(stage2.Pixmap(), active, expectedWidth, expectedHeight, outWidth, outHeight,
                                    KRect(0, 0, outWidth, outHeight), kRotation, *KGlobalLUTsClass::GetCubeRootLUT(),
                                    stage3->Typed(), detail->Typed(), weight, high, low);
        CreateDetailLayer(detail->Typed(), factor);
    }

    void Stage4()
    {
        // The tone table as the tone-curve driver lays it over a 65536 x 3 matrix.
        std::vector<KInt16> toneData(65536 * 3);
        KColorLUT tone;
        LayToneLUTView(tone, toneData.data(), 65536);
        CreateToneLUT(0, 0, 0, 0, 1, 1, 1, *KGlobalLUTsClass::GetCubeLUT(), tone);

        output = std::make_unique<TestPixmap>(kPixelType48RGB, outWidth, outHeight);
        const std::unique_ptr<KLUT> gamma = CreateOutputGammaLUT(kSrgb, 16);
        KMatrix3x3 matrix;
        CalculateOutputColorMatrix(matrix, kSrgb, kSaturation);
        KPixelProc2::ProcessToOutput(stage3->Typed(), detail->Typed(), kSharpening, tone, matrix, *gamma,
                                     output->Pixmap());
    }

    // Output position of a frame pixel under the clockwise quarter turn at the stage's factor.
    void ToOutput(double fx, double fy, int& ox, int& oy) const
    {
        ox = int(std::lround((active.bottom - 1 - fy) * factor));
        oy = int(std::lround((fx - active.left) * factor));
    }
    // The output's mean colour over the 5 x 5 pixels around the image of scene point (u, v) (fractions of
    // the frame).
    std::array<double, 3> MeanAt(double u, double v) const
    {
        int ox, oy;
        ToOutput(u * kWidth - 0.5, v * kHeight - 0.5, ox, oy);
        std::array<double, 3> m = {0, 0, 0};
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                for (int c = 0; c < 3; ++c)
                    m[c] += output->Word16(ox + dx, oy + dy, c) / 25.0;
        return m;
    }
};

const Development& Developed()
{
    static const Development d(true);
    return d;
}

const Development& DevelopedClean()
{
    static const Development d(false);
    return d;
}

}  // namespace

TEST(DevelopEndToEnd, SizeAndRotation)
{
    const Development& d = Developed();
    EXPECT_EQ(d.active, KRect(6, 4, 188, 316));
    EXPECT_DOUBLE_EQ(d.factor, 0.5);
    EXPECT_EQ(d.outWidth, 156);
    EXPECT_EQ(d.outHeight, 91);
    // Turned clockwise: the scene's top (the grey ramp) is on the right, its dark lower band on the left, and
    // the ramp's dark end (the scene's left) at the top.
    auto strip = [&](int x0, int x1, int y0, int y1) {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += d.output->Word16(x, y, 1);
        return sum / ((x1 - x0) * (y1 - y0));
    };
    EXPECT_GT(strip(d.outWidth - 30, d.outWidth - 5, 5, d.outHeight - 5), 1.5 * strip(5, 30, 5, d.outHeight - 5));
    EXPECT_LT(2 * strip(d.outWidth - 30, d.outWidth - 5, 5, 25), strip(d.outWidth - 30, d.outWidth - 5, 65, 85));
    EXPECT_GT(d.MeanAt(0.5, 0.12)[1], d.MeanAt(0.5, 0.85)[1]);
    EXPECT_LT(d.MeanAt(0.15, 0.12)[1], d.MeanAt(0.85, 0.12)[1]);
    // No marker colour anywhere: every sample lay well inside the frame.
    for (int y = 0; y < d.outHeight; ++y)
        for (int x = 0; x < d.outWidth; ++x)
            ASSERT_FALSE(d.stage3->Get(x, y, 0) == (*KGlobalLUTsClass::GetCubeRootLUT())[8000] &&
                         d.stage3->Get(x, y, 2) == (*KGlobalLUTsClass::GetCubeRootLUT())[0])
                << x << "," << y;
}

TEST(DevelopEndToEnd, TheGreyRampStaysNeutralAndRises)
{
    const Development& d = Developed();
    double previous = -1;
    for (double u = 0.1; u < 0.95; u += 0.1) {
        const auto m = d.MeanAt(u, 0.12);
        SCOPED_TRACE(testing::Message() << "ramp at " << u << ": " << m[0] << " " << m[1] << " " << m[2]);
        for (int c : {0, 2})
            EXPECT_NEAR(m[c], m[1], 0.01 * m[1]);
        EXPECT_GT(m[1], previous + 1000);
        previous = m[1];
    }
    EXPECT_GT(previous, 40000);  // the bright end is well up the scale
}

TEST(DevelopEndToEnd, TheRedPatchStaysRed)
{
    const Development& d = Developed();
    const auto red = d.MeanAt(1.0 / 12, 0.375);
    EXPECT_GT(red[0], 2 * red[1]) << red[0] << " " << red[1] << " " << red[2];
    EXPECT_GT(red[0], 2 * red[2]);
    // And the other patches keep their leading channel: green, blue.
    const auto green = d.MeanAt(3.0 / 12, 0.375), blue = d.MeanAt(5.0 / 12, 0.375);
    EXPECT_GT(green[1], std::max(green[0], green[2]));
    EXPECT_GT(blue[2], std::max(blue[0], blue[1]));
}

TEST(DevelopEndToEnd, HotPixelsAreGone)
{
    // The sensor's own hot pixels (in the dark frame too: they cancel, except where the exposure clipped and
    // leaves a dark hole) and those seen only in the exposure. After stage 2 each lies within the range of its
    // eight neighbours; in the output it differs from the same frame developed without hot pixels by no more
    // than a faint trace (the red sharpen runs before the hot-pixel step and leaves a slight halo; a spot left
    // in place would stand out by half the scale).
    const Development& d = Developed();
    const Development& clean = DevelopedClean();
    std::vector<std::pair<int, int>> spots;
    for (const kzrsynth::HotPixel& h : kzrsynth::HotPixels(d.params))
        spots.emplace_back(h.x, h.y);
    for (auto [x, y] : kExposureHotPixels) {
        spots.emplace_back(x, y);
        EXPECT_GT(d.stage1.At(x, y, 1) - clean.stage1.At(x, y, 1), 1000) << x << "," << y;  // stage 1 shows them
    }
    int checked = 0;
    for (auto [x, y] : spots) {
        if (d.Shielded(x - 3, y - 3) || d.Shielded(x + 3, y + 3))
            continue;
        ++checked;
        int ox, oy;
        d.ToOutput(x, y, ox, oy);
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE(testing::Message() << "hot pixel " << x << "," << y << " channel " << c);
            int low = 32767, high = -32768;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (dx || dy) {
                        low = std::min<int>(low, d.stage2.At(x + dx, y + dy, c));
                        high = std::max<int>(high, d.stage2.At(x + dx, y + dy, c));
                    }
            EXPECT_GE(d.stage2.At(x, y, c), low - 50);
            EXPECT_LE(d.stage2.At(x, y, c), high + 50);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    EXPECT_NEAR(d.output->Word16(ox + dx, oy + dy, c), clean.output->Word16(ox + dx, oy + dy, c),
                                0.05 * 65535);
        }
    }
    EXPECT_GE(checked, int(std::size(kExposureHotPixels)));
}
