#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "KAutoAdjust.h"
#include "KDebug.h"
#include "KException.h"
#include "KGlobalLUTs.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

struct Settings {
    double exposure = -9, toneA = -9, toneB = -9, toneC = -9, spread = -9, balance[3] = {-9, -9, -9};
};

Settings Measure(const WorkingImage& image, const KLUT* cubeRoot = nullptr)
{
    Settings s;
    CalculateAutoAdjustSettings(image.Pixmap(), cubeRoot ? *cubeRoot : *KGlobalLUTsClass::GetCubeRootLUT(),
                                *KGlobalLUTsClass::GetCubeLUT(), &s.exposure, &s.toneA, &s.toneB, &s.toneC, &s.spread,
                                s.balance);
    return s;
}

bool IsTenth(double v)
{
    return std::fabs(v * 10.0 - std::round(v * 10.0)) < 1e-9;
}

void ExpectRoundedAndBounded(const Settings& s)
{
    for (double v : {s.exposure, s.toneA, s.toneB, s.toneC}) {
        EXPECT_TRUE(IsTenth(v)) << v;
        EXPECT_GE(v, -2.0 - 1e-12);
        EXPECT_LE(v, 2.0 + 1e-12);
    }
    EXPECT_TRUE(IsTenth(s.spread)) << s.spread;
    EXPECT_GE(s.spread, -1.0 - 1e-12);
    EXPECT_LE(s.spread, 1.0 + 1e-12);
    // The weakest channel gets 1.0, the others less.
    EXPECT_DOUBLE_EQ(std::max({s.balance[0], s.balance[1], s.balance[2]}), 1.0);
    for (double b : s.balance)
        EXPECT_GT(b, 0.0);
}

}  // namespace

TEST(AutoAdjust, ResultsAreTenthsWithinTheirBounds)
{
    struct Case {
        const char* name;
        std::function<void(WorkingImage&)> fill;
    };
    const Case cases[] = {
        {"noise", [](WorkingImage& i) { i.FillNoise(3, 1500, 1500); }},
        {"ramp",
         [](WorkingImage& i) {
             for (int y = 0; y < i.Height(); ++y)
                 for (int x = 0; x < i.Width(); ++x)
                     i.Set(x, y, x * 40, y * 30, (x + y) * 20);
         }},
        {"patches",
         [](WorkingImage& i) {
             for (int y = 0; y < i.Height(); ++y)
                 for (int x = 0; x < i.Width(); ++x)
                     i.Set(x, y, (x / 16 % 3) * 1500, (y / 16 % 3) * 1200, ((x + y) / 16 % 4) * 900);
         }},
        {"negative", [](WorkingImage& i) { i.FillNoise(8, -200, 400); }},
        {"bright", [](WorkingImage& i) { i.FillNoise(2, 25000, 3000); }},
    };
    for (const Case& c : cases) {
        WorkingImage image(200, 150);
        c.fill(image);
        SCOPED_TRACE(c.name);
        ExpectRoundedAndBounded(Measure(image));
    }
}

TEST(AutoAdjust, DarkImagesAskForTwoStopsAndBrightOnesForMinusTwo)
{
    WorkingImage image(160, 120);
    image.FillNoise(4, 30, 20);
    EXPECT_DOUBLE_EQ(Measure(image).exposure, 2.0);
    image.Fill(0, 0, 0);  // the weighted percentile levels sum to zero or less
    EXPECT_DOUBLE_EQ(Measure(image).exposure, 2.0);
    image.FillNoise(5, 20000, 2000);
    EXPECT_DOUBLE_EQ(Measure(image).exposure, -2.0);
}

TEST(AutoAdjust, AGreyImageHasNoSpreadAndBalancesByTheChannelFactors)
{
    // Every sample lands in colour cell (31, 31, 31), which smoothing never changes: x = 32 in each channel,
    // V = (32 x 0.03125 x 1000 + 100) x (0.96, 1.0, 1.04), no variance: spread tenths(0.7).
    WorkingImage image(100, 80);
    image.Fill(1000, 1000, 1000);
    const Settings s = Measure(image);
    EXPECT_DOUBLE_EQ(s.balance[0], 1.0);
    EXPECT_NEAR(s.balance[1], std::sqrt(1056.0 / 1100.0), 1e-12);
    EXPECT_NEAR(s.balance[2], std::sqrt(1056.0 / 1144.0), 1e-12);
    EXPECT_NEAR(s.spread, 0.7, 1e-12);
    ExpectRoundedAndBounded(s);
}

TEST(AutoAdjust, NegativeChannelsCountInBinZero)
{
    // Red below zero: its maximum stays 1, every sample is in red bin 0 (x = 1): V_R = (1 x 0.03125 x 1 + 100)
    // x 0.96 is the least.
    WorkingImage image(100, 80);
    image.Fill(-100, 1000, 1000);
    const Settings s = Measure(image);
    const double vr = (0.03125 + 100.0) * 0.96;
    EXPECT_DOUBLE_EQ(s.balance[0], 1.0);
    EXPECT_NEAR(s.balance[1], std::sqrt(vr / 1100.0), 1e-12);
    EXPECT_NEAR(s.balance[2], std::sqrt(vr / 1144.0), 1e-12);
}

TEST(AutoAdjust, ImagesWithoutCentralSamplesGetNeutralSettings)
{
    // Under 39 rows, or 31 columns (the sampling needs more than 31): no grid.
    for (auto [w, h] : {std::pair{200, 38}, std::pair{30, 200}, std::pair{31, 200}, std::pair{0, 0}}) {
        WorkingImage image(w, h);
        image.Fill(5000, 100, 100);
        KTraceCapture trace;
        const Settings s = Measure(image);
        EXPECT_EQ(s.exposure, 0.0);
        EXPECT_EQ(s.toneA + s.toneB + s.toneC + s.spread, 0.0);
        EXPECT_EQ(s.balance[0] + s.balance[1] + s.balance[2], 3.0);
        EXPECT_TRUE(trace.Contains("CalculateAutoAdjustSettings")) << w << " x " << h;
    }
    // The smallest that samples: 39 x 32 gives one grid cell.
    WorkingImage image(32, 39);
    image.FillNoise(1, 400, 300);
    ExpectRoundedAndBounded(Measure(image));
}

TEST(AutoAdjust, ALumaBeyondTheHistogramFailsTheAssertion)
{
    // A cube-root table whose entry 0xEFFF makes 11 luma bins, and 3200 (bin 200) everywhere else.
    std::unique_ptr<KInt16[]> data(new KInt16[65536]);
    std::fill(data.get(), data.get() + 65536, KInt16(3200));
    data[0xEFFF] = 160;
    const KLUT table(data.get(), 65536, false);
    WorkingImage image(64, 64);
    image.Fill(100, 100, 100);
    try {
        Measure(image, &table);
        FAIL() << "no assertion";
    } catch (const KException& e) {
        EXPECT_NE(std::string(e.GetMessage()).find("uiLumaIdx>=0 && uiLumaIdx<uiNLUMABINS"), std::string::npos) << e.GetMessage();
    }
}
