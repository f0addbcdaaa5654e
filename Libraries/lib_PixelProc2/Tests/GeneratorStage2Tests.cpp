// The stage-2 filters of highlights, hot pixels, chroma blur, colour noise and auto-adjust on frames of the
// generator developed by stage 1 with its default calibration, called as the engine's stage 2 calls them with
// the values it derives from that calibration (capture at the sensor's ISO, not a bulb exposure).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "KAutoAdjust.h"
#include "KCamdataGetters.h"
#include "KColorNoise.h"
#include "KGlobalLUTs.h"
#include "KHighlights.h"
#include "KLinearize.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"
#include "LumoGeneratorFrames.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

constexpr int kWidth = 256, kHeight = 192;
// Stage 2's noise factor at ISO gain 1 (not bulb): sqrt(2).
const double kNoise = std::sqrt(2.0);

KzrCalibrationLayout FrameLayout()
{
    KzrCalibrationLayout layout;
    layout.columns = kWidth;
    layout.rows = kHeight;
    layout.shieldLeft = 6;
    layout.shieldRight = layout.shieldTop = layout.shieldBottom = 4;
    return layout;
}

kzrsynth::SceneParams FrameScene(int whiteLevel)
{
    kzrsynth::SceneParams p;
    p.width = kWidth;
    p.height = kHeight;
    p.seed = 5;
    p.whiteLevel = whiteLevel;
    p.hotPixels = 0;
    return p;
}

// A generator frame through stage 1: raw and dark through the linearisation tables, dark subtracted.
struct DevelopedFrame : lumotest::GeneratorFrames {
    WorkingImage image{kWidth, kHeight};

    explicit DevelopedFrame(int whiteLevel) : lumotest::GeneratorFrames(FrameScene(whiteLevel), FrameLayout())
    {
        const std::unique_ptr<KColorLUT> lut = GetCamdataColorLUT("LinLUTs", *camdata);
        for (int y = 0; y < kHeight; ++y)
            LinearizeAndDarkSubtractRow(dark.Row(y), raw.Row(y), kWidth, *lut, image.Row(y));
    }
};

// The clipped highlight of the scene: an ellipse around (0.8, 0.875) of the frame with radius 0.09.
bool InHighlight(int x, int y, double inset)
{
    const double du = ((x + 0.5) / kWidth - 0.8) / (0.09 - inset), dv = ((y + 0.5) / kHeight - 0.875) / (0.09 - inset);
    return du * du + dv * dv <= 1.0;
}

// Over the inner part of one colour patch of the scene (row 0 or 1 of the grid of six, column 0 .. 5): the
// patch's mean colour and its colour noise, the mean squared difference of red and blue less green from their
// means over the 5 x 5 pixels around (slow changes of colour across the patch do not count).
struct PatchStats {
    double noise = 0;
    double mean[3] = {0, 0, 0};
};
PatchStats Patch(const WorkingImage& image, int gridRow, int gridColumn)
{
    PatchStats s;
    const int x0 = gridColumn * kWidth / 6 + 6, x1 = (gridColumn + 1) * kWidth / 6 - 6;
    const int y0 = kHeight / 4 + gridRow * kHeight / 4 + 6, y1 = y0 + kHeight / 4 - 12;
    auto chroma = [&](int x, int y, int c) { return double(image.At(x, y, c) - image.At(x, y, 1)); };
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++n) {
            for (int c = 0; c < 3; ++c)
                s.mean[c] += image.At(x, y, c);
            for (int c : {0, 2}) {
                double local = 0;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        local += chroma(x + dx, y + dy, c) / 25;
                s.noise += (chroma(x, y, c) - local) * (chroma(x, y, c) - local);
            }
        }
    for (double& m : s.mean)
        m /= n;
    s.noise /= n;
    return s;
}

const KColorLUT& Tanh(double limit, const std::array<double, 3>& slopes)
{
    const double limits[3] = {limit, limit, limit};
    return *KGlobalLUTsClass::GetTanhLUTs(limits, slopes.data());
}

struct AutoSettings {
    double exposure, toneA, toneB, toneC, spread, balance[3];
};
AutoSettings AutoAdjust(const WorkingImage& image)
{
    AutoSettings s;
    CalculateAutoAdjustSettings(image.Pixmap(), *KGlobalLUTsClass::GetCubeRootLUT(), *KGlobalLUTsClass::GetCubeLUT(),
                                &s.exposure, &s.toneA, &s.toneB, &s.toneC, &s.spread, s.balance);
    return s;
}

bool IsTenthWithin(double v, double bound)
{
    return std::fabs(v * 10 - std::round(v * 10)) < 1e-9 && std::fabs(v) <= bound + 1e-12;
}

}  // namespace

TEST(GeneratorStage2, AnUnderExposedFrameAsksForTwoStops)
{
    const DevelopedFrame dim(120);
    const AutoSettings under = AutoAdjust(dim.image);
    EXPECT_DOUBLE_EQ(under.exposure, 2.0);
    const DevelopedFrame normal(3600);
    const AutoSettings s = AutoAdjust(normal.image);
    EXPECT_LT(s.exposure, 2.0);
    for (const AutoSettings& a : {under, s}) {
        for (double v : {a.exposure, a.toneA, a.toneB, a.toneC})
            EXPECT_TRUE(IsTenthWithin(v, 2.0)) << v;
        EXPECT_TRUE(IsTenthWithin(a.spread, 1.0)) << a.spread;
        EXPECT_DOUBLE_EQ(std::max({a.balance[0], a.balance[1], a.balance[2]}), 1.0);
    }
    // The frame's colour cast (red and blue gains of 0.62 and 0.78 in the sensor): green is the strongest
    // channel and is turned down most.
    EXPECT_LT(s.balance[1], s.balance[0]);
    EXPECT_LT(s.balance[1], s.balance[2]);
}

TEST(GeneratorStage2, TheClippedHighlightBecomesNeutral)
{
    DevelopedFrame f(3600);
    const WorkingImage before = f.image;
    const KIntTriple sat = GetCamdataColorInt16("SaturationLevel", *f.camdata);
    const KInt32 s[3] = {sat[0], sat[1], sat[2]};
    const double neutral[3] = {1, 1, 1};
    KInt32 t[3], l[3], w[3];
    CalculateHighlightLimits(neutral, s, t, l, w);
    for (int r = 0; r < kHeight; ++r)
        NeutralizeHighlightsRow(f.image.Row(r), f.image.Row(std::max(r - 1, 0)), f.image.Row(std::min(r + 1, kHeight - 1)),
                                kWidth, t, l, w);
    double spreadBefore = 0, spreadAfter = 0;
    int n = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c)
                ASSERT_GE(f.image.At(x, y, c), before.At(x, y, c)) << x << "," << y;  // nothing loses value
            if (!InHighlight(x, y, 0.01))
                continue;
            auto spread = [&](const WorkingImage& i) {
                return std::max({i.At(x, y, 0), i.At(x, y, 1), i.At(x, y, 2)}) -
                       std::min({i.At(x, y, 0), i.At(x, y, 1), i.At(x, y, 2)});
            };
            spreadBefore += spread(before);
            spreadAfter += spread(f.image);
            ++n;
        }
    ASSERT_GT(n, 100);
    EXPECT_GT(spreadBefore / n, 20.0);
    EXPECT_LT(spreadAfter / n, spreadBefore / n / 5);
    // Despeckle then leaves the highlight itself alone.
    // The sensor clips below despeckle's trigger levels (the saturation level raised by an eighth and a
    // sixteenth): despeckle finds nothing to do on this frame.
    const WorkingImage neutralised = f.image;
    for (int r = 1; r < kHeight - 1; ++r)
        DespeckleRow(f.image.Row(r), f.image.Row(r - 1), f.image.Row(r + 1), kWidth, t, l, w);
    EXPECT_TRUE(f.image == neutralised);
}

TEST(GeneratorStage2, HotPixelsOnTheFrameTakeANeighboursColour)
{
    for (bool longExposure : {false, true}) {
        DevelopedFrame f(3600);
        const WorkingImage clean = f.image;
        const int spots[][2] = {{30, 60}, {100, 70}, {150, 120}, {200, 40}, {220, 130}};
        for (auto [x, y] : spots)
            for (int c = 0; c < 3; ++c)
                f.image.At(x, y, c) = int16_t(clean.At(x, y, c) + 3000);
        stage2::HotPixelStep(f.image, longExposure);
        for (auto [x, y] : spots)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(f.image.At(x, y, c), clean.At(x, y, c), 120) << longExposure << " " << x << "," << y;
    }
}

TEST(GeneratorStage2, TheChromaPassesReduceColourNoiseAndKeepThePatches)
{
    // The four passes of "ChromaBlur" 250 with "ChromaDQ" 20 and "SpatialDQ" 40.
    DevelopedFrame f(3600);
    const double q = GetCamdataColorFloat("ChromaDQ", *f.camdata)[0];
    const double s = std::trunc(GetCamdataFloat("SpatialDQ", *f.camdata));
    const WorkingImage before = f.image;
    double t = 2 * q * kNoise;
    const double t6[3] = {t, t, t};
    stage2::ChromaBlur3Pass(f.image, t6, 2 * KInt32(s * kNoise) * 10, Tanh(t, {0.7, 0.7, 0.7}));
    t = q * kNoise;
    const double t7[3] = {t, t, t};
    stage2::ChromaBlur5Pass(f.image, t7, KInt32(s * kNoise) * 10, Tanh(t, {0.8, 0.8, 0.8}));
    t = q * kNoise / 3;
    const double t9[3] = {t, t, t};
    stage2::ChromaBlurCoarsePass(f.image, t9, (KInt32(s * kNoise) * 10) >> 1, Tanh(t, {0.6, 0.65, 0.7}));
    t = q * kNoise * 2;
    const double t10[3] = {t, t, t};
    stage2::ChromaBlur5Pass(f.image, t10, KInt32(s * kNoise) * 10, Tanh(t, {0.5, 0.6, 0.7}));

    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 6; ++column) {
            const PatchStats a = Patch(before, row, column), b = Patch(f.image, row, column);
            SCOPED_TRACE(testing::Message() << "patch " << row << "," << column);
            EXPECT_LT(b.noise, a.noise * 0.5);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(b.mean[c], a.mean[c], 12.0 + 0.01 * a.mean[c]);
        }
}

TEST(GeneratorStage2, ColourNoiseStepOnTheFrame)
{
    // Step 8 with the calibration's camera matrix, the neutral (1, 1, 1), no "ColorDQ" (so (6, 9, 12)).
    DevelopedFrame f(3600);
    const KMatrix3x3 camera = GetCamdataColorMatrix("CAMToXYZ", *f.camdata);
    const double neutral[3] = {1, 1, 1};
    KMatrix3x3 m;
    CalculateWhiteBalancedMatrix(m, camera, neutral, 1.0, -1.0 / 30);
    const KFixedMatrix3x3 fixed = ToFixedMatrix(m);
    const double t = kNoise * (6 + 9 + 12) / 3.0;
    const KColorLUT& lut = Tanh(t, {0.7, 0.7, 0.7});
    KInt32 offset[3];
    EstimateColorOffset(offset, f.image.Pixmap(), t, t, t);
    // The scene's black (the left end of the ramp, the darkest patch) is dark-subtracted to about 0.
    for (KInt32 o : offset)
        EXPECT_LE(std::abs(o), 20);
    const WorkingImage before = f.image;
    for (int r = 0; r < kHeight; ++r)
        ColorDQRow(f.image.Row(r), kWidth, fixed, lut, offset[0], offset[1], offset[2]);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                ASSERT_GE(f.image.At(x, y, c), kColorDQLowest);
                ASSERT_LE(f.image.At(x, y, c), kColorDQHighest);
            }
    // Patch means follow the matrix; the colour noise inside them is cored.
    for (int column = 0; column < 6; ++column) {
        const PatchStats a = Patch(before, 0, column), b = Patch(f.image, 0, column);
        for (int i = 0; i < 3; ++i) {
            const double expected = m[i * 3] * (a.mean[0] - offset[0]) + m[i * 3 + 1] * (a.mean[1] - offset[1]) +
                                    m[i * 3 + 2] * (a.mean[2] - offset[2]);
            EXPECT_NEAR(b.mean[i], std::clamp(expected, -500.0, 24000.0), 4 * t + 0.02 * std::fabs(expected))
                << column << "," << i;
        }
    }
}
