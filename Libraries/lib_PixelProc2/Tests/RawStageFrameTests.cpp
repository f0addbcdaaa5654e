// Stage 1 and the first steps of stage 2 on frames of the generator, with its default calibration, called as
// the engine's stage drivers call them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "KBadPixels.h"
#include "KCamdataGetters.h"
#include "KLinearize.h"
#include "KRowCorrections.h"
#include "CamdataTestSupport.h"
#include "KSubsampledAverage.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"
#include "LumoGeneratorFrames.h"
#include "RawStageDevelop.h"
#include "RawStageTestSupport.h"

using rawstage::Frame;
using rawstage::Image;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

KzrCalibrationLayout FrameLayout()
{
    KzrCalibrationLayout layout = TestLayout();
    layout.columns = kWidth;
    layout.rows = kHeight;
    layout.badPixels = {{20, 20}, {50, 40}, {70, 12}};
    return layout;
}

kzrsynth::SceneParams FrameScene()
{
    kzrsynth::SceneParams p;
    p.width = kWidth;
    p.height = kHeight;
    p.seed = 3;
    return p;
}

// The generator's scene fills the whole frame; masked pixels see no light, so the shields of the raw frame
// take the dark frame's values (with a little read noise of their own).
struct GeneratorFrames : lumotest::GeneratorFrames {
    GeneratorFrames() : lumotest::GeneratorFrames(FrameScene(), FrameLayout())
    {
        DarkenMasked([this](int x, int y) { return Shielded(x, y); },
                     [](int x, int y, int c) { return (x * 7 + y * 3 + c) % 5 - 2; });
    }
    bool Shielded(int x, int y) const
    {
        return x < int(layout.shieldLeft) || x >= kWidth - int(layout.shieldRight) || y < int(layout.shieldTop) ||
               y >= kHeight - int(layout.shieldBottom);
    }
    KRect Relative(const char* name) const
    {
        const KRect r = GetCamdataRect(name, *camdata);
        return KRect(r.left - layout.keepLeft, r.top - layout.keepTop, r.right - layout.keepLeft,
                     r.bottom - layout.keepTop);
    }

    // Stage 1 as its driver runs it, with the raw offsets when asked.
    Image Develop(bool withOffsets, std::vector<KInt16>* offsetsOut = nullptr) const
    {
        return rawstage::DevelopStage1(dark, raw, *camdata, withOffsets, offsetsOut);
    }
};

double Variance(const std::vector<double>& v)
{
    double mean = 0, sum = 0;
    for (double x : v)
        mean += x / double(v.size());
    for (double x : v)
        sum += (x - mean) * (x - mean);
    return sum / double(v.size());
}

}  // namespace

TEST(GeneratorFrames, Stage1SubtractsTheDarkFrame)
{
    const GeneratorFrames f;
    const Image out = f.Develop(false);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out.At(x, y, c), f.raw.At(x, y, c) - f.dark.At(x, y, c)) << x << "," << y << "," << c;
}

TEST(GeneratorFrames, RawOffsetsFlattenTheColumnPattern)
{
    const GeneratorFrames f;
    std::vector<KInt16> offsets;
    const Image out = f.Develop(true, &offsets);
    // The measured rows (the top shield) carry the sensor's column pattern; with the offsets added each column's
    // mean lies much closer to its neighbours'.
    for (int c = 0; c < 3; ++c) {
        std::vector<double> before, after;
        for (int x = 0; x < kWidth; ++x) {
            double m = 0;
            for (int y = 0; y < 4; ++y)
                m += f.raw.At(x, y, c) / 4.0;
            before.push_back(m);
            after.push_back(m + offsets[size_t(x * 3 + c)]);
        }
        EXPECT_LT(Variance(after), Variance(before) / 3) << "channel " << c;
    }
    // The offsets move both values through the table alike: the difference stays unless a value would leave the
    // table's range, where it stops at the table's end (a clipped value stays clipped).
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const int o = offsets[size_t(x * 3 + c)];
                const int r = std::clamp(f.raw.At(x, y, c) + o, 0, 4095);
                const int d = std::clamp(f.dark.At(x, y, c) + o, 0, 4095);
                ASSERT_EQ(out.At(x, y, c), r - d) << x << "," << y << "," << c;
            }
}

TEST(GeneratorFrames, RowCorrectionsRemoveARowBandAndMeasureTheDrift)
{
    const GeneratorFrames f;
    // Rows from 32 on sit 40 higher (a band across the whole frame); the top shield's dark level rises by 48
    // from its first column to its last.
    Image plain = f.Develop(false);
    Image banded = plain;
    banded.FillBy([&](int x, int y, int c) { return banded.At(x, y, c) + (y >= 32 ? 40 : 0); });
    const KRect top = f.Relative("DarkShieldTop"), bottom = f.Relative("DarkShieldBottom");
    for (Image* im : {&plain, &banded})
        for (int y = top.top; y < top.bottom; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    im->At(x, y, c) = KInt16(im->At(x, y, c) + x / 2);

    auto correct = [&](Image& image) {
        const rawstage::RowCorrectionSettings s =
            rawstage::GatherRowCorrections(*f.camdata, image, top, bottom, f.Relative("ActiveImageArea"));
        rawstage::CorrectRows(image, s);
        return s.drift;
    };
    const KDarkDrift drift = correct(banded);
    correct(plain);

    // A ramp of slope b over w columns gives b (w² - 1) / W across the full width W.
    const double w = top.right - top.left;
    EXPECT_NEAR(drift.m_Value[0][0][1], 0.5 * (w * w - 1) / kWidth, 1.0);
    EXPECT_NEAR(drift.m_Value[1][0][1], 0.0, 1.0);
    EXPECT_GT(drift.m_Value[1][1][0], 30.0);  // the bottom shield lies in the band

    // Away from the band's edge (where the smoothing spreads it) at most a fifth of the band remains.
    auto rowsMean = [&](int from, int to) {
        double sum = 0;
        for (int y = from; y < to; ++y)
            for (int x = 8; x < 88; ++x)
                sum += banded.At(x, y, 1) - plain.At(x, y, 1);
        return sum / ((to - from) * 80.0);
    };
    const double residual = rowsMean(46, 60) - rowsMean(6, 18);
    EXPECT_LT(std::abs(residual), 0.25 * 40) << "residual band " << residual;
}

TEST(GeneratorFrames, CalibratedBadPixelsAreRepaired)
{
    const GeneratorFrames f;
    Image image = f.Develop(false);
    for (const auto& [x, y] : f.layout.badPixels)
        for (int c = 0; c < 3; ++c)
            image.At(int(x), int(y), c) = 30000;
    KUInt32 count = 0;
    const KUInt32* entries = GetCamdataBadPixels("BadPixels", *f.camdata, &count);
    ASSERT_EQ(count, f.layout.badPixels.size());
    const KPoint offset{-f.layout.keepLeft, -f.layout.keepTop};
    FixBadPixels(image.Get(), entries, count, &offset);
    for (const auto& [ux, uy] : f.layout.badPixels) {
        const int x = int(ux), y = int(uy);
        for (int c = 0; c < 3; ++c) {
            const int sum = image.At(x, y - 1, c) + image.At(x - 1, y, c) + image.At(x + 1, y, c) + image.At(x, y + 1, c);
            EXPECT_EQ(image.At(x, y, c), sum / 4) << x << "," << y;
        }
    }
}

TEST(GeneratorFrames, RedSharpenTouchesOnlyTheInnerRed)
{
    const GeneratorFrames f;
    const Image before = f.Develop(false);
    Image after = before;
    const KInt32 amount = KInt32(GetCamdataFloat("RedSharpen", *f.camdata)) * 2;
    KInt32 left = GetCamdataInt32("RedLeftWeight", *f.camdata), right = GetCamdataInt32("RedRightWeight", *f.camdata);
    if (left == 0 && right == 0)
        left = 2048;
    ASSERT_EQ(amount, 128);
    rawstage::RedSharpenImage(after, amount, left, right);
    long variationBefore = 0, variationAfter = 0;
    for (int y = 0; y < kHeight; ++y) {
        EXPECT_EQ(after.At(0, y, 0), before.At(0, y, 0));
        EXPECT_EQ(after.At(kWidth - 1, y, 0), before.At(kWidth - 1, y, 0));
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(after.At(x, y, 1), before.At(x, y, 1));
            ASSERT_EQ(after.At(x, y, 2), before.At(x, y, 2));
            if (x > 0) {
                variationBefore += std::abs(before.At(x, y, 0) - before.At(x - 1, y, 0));
                variationAfter += std::abs(after.At(x, y, 0) - after.At(x - 1, y, 0));
            }
        }
    }
    EXPECT_GT(variationAfter, variationBefore + variationBefore / 10);  // edges (and noise) stand out more
}
