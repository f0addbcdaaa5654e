#include <gtest/gtest.h>

#include <random>
#include <string>

#include "DevelopTestImages.h"
#include "KCropSizeRotate.h"
#include "KExceptionPixelProc2.h"
#include "KGlobalLUTs.h"
#include "KResampleTable.h"
#include "RawStageTestSupport.h"

namespace {

// An input whose pixels name their position: R = 100 + 50 x, G = 100 + 50 y, B = 7.
struct PositionImage : WorkingImage {
    PositionImage(int w, int h) : WorkingImage(w, h)
    {
        FillWith([](int x, int y, int32_t v[3]) {
            v[0] = 100 + 50 * x;
            v[1] = 100 + 50 * y;
            v[2] = 7;
        });
    }
};

struct Source {
    int x, y;
};

Source SourceOf(const WorkingImage& out, int c, int r)
{
    return {(out.Get(c, r, 0) - 100) / 50, (out.Get(c, r, 1) - 100) / 50};
}

KInt32 Luminance(KInt32 r, KInt32 g, KInt32 b)
{
    return (5734 * r + 9011 * g + 1638 * b + 8192) >> 14;
}

// Runs stage 3 at exactly 1:1 with an identity encoding and no green correction, so that every output pixel
// is an input pixel as it stands.
struct OneToOne {
    PositionImage in{40, 30};
    KRect active{3, 2, 35, 26};  // 32 x 24
    std::unique_ptr<KLUT> identity = IdentityLUT();

    double Run(KUInt32 rotation, const KRect& crop, WorkingImage& out, MonoImage& lum)
    {
        const bool sideways = rotation % 180 == 90;
        const KInt32 ow = sideways ? 24 : 32, oh = sideways ? 32 : 24;
        return CropSizeRotateMore(in.Typed(), active, 32, 24, ow, oh, crop, rotation, *identity, out.Typed(),
                                  lum.Typed(), 0.0, 0, 0);
    }
};

}  // namespace

TEST(CropSizeRotate, OneToOneCopiesTheCroppedPixels)
{
    OneToOne t;
    const KRect crop{4, 5, 20, 15};
    WorkingImage out(16, 10);
    MonoImage lum(16, 10);
    EXPECT_EQ(t.Run(0, crop, out, lum), 1.0);
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 16; ++c) {
            const int x = 3 + 4 + c, y = 2 + 5 + r;
            ASSERT_EQ(out.Get(c, r, 0), 100 + 50 * x);
            ASSERT_EQ(out.Get(c, r, 1), 100 + 50 * y);
            ASSERT_EQ(out.Get(c, r, 2), 7);
            ASSERT_EQ(lum.Get(c, r), Luminance(100 + 50 * x, 100 + 50 * y, 7));
        }
    }
}

TEST(CropSizeRotate, QuarterTurnsWalkTheActiveArea)
{
    // Output coordinate (u, v) -> input pixel, for each turn; the active area is {3, 2, 35, 26}.
    struct Case {
        KUInt32 rotation;
        Source (*source)(int u, int v);
    };
    const Case cases[] = {
        {0, [](int u, int v) { return Source{3 + u, 2 + v}; }},
        {90, [](int u, int v) { return Source{3 + v, 25 - u}; }},
        {180, [](int u, int v) { return Source{34 - u, 25 - v}; }},
        {270, [](int u, int v) { return Source{34 - v, 2 + u}; }},
        {450, [](int u, int v) { return Source{3 + v, 25 - u}; }},
        {720, [](int u, int v) { return Source{3 + u, 2 + v}; }},
    };
    for (const Case& k : cases) {
        OneToOne t;
        const bool sideways = k.rotation % 180 == 90;
        const int ow = sideways ? 24 : 32, oh = sideways ? 32 : 24;
        WorkingImage out(ow, oh);
        MonoImage lum(ow, oh);
        EXPECT_EQ(t.Run(k.rotation, KRect(0, 0, ow, oh), out, lum), 1.0);
        for (int v = 0; v < oh; ++v)
            for (int u = 0; u < ow; ++u) {
                const Source got = SourceOf(out, u, v), want = k.source(u, v);
                ASSERT_TRUE(got.x == want.x && got.y == want.y)
                    << k.rotation << " at " << u << "," << v << ": " << got.x << "," << got.y;
            }
    }
    // At 90 the output's first pixel is the active area's left column, bottom row.
    OneToOne t;
    WorkingImage out(24, 32);
    MonoImage lum(24, 32);
    t.Run(90, KRect(0, 0, 24, 32), out, lum);
    EXPECT_EQ(SourceOf(out, 0, 0).x, t.active.left);
    EXPECT_EQ(SourceOf(out, 0, 0).y, t.active.bottom - 1);
}

TEST(CropSizeRotate, FactorFollowsTheRotation)
{
    // Expected 32 x 24, fitted into 16 x 12 (turned: 12 x 16): factor 0.5 either way, from the output height
    // when turned.
    PositionImage in(40, 30);
    auto cube = IdentityLUT();
    WorkingImage out(16, 16);
    MonoImage lum(16, 16);
    EXPECT_DOUBLE_EQ(CropSizeRotateMore(in.Typed(), KRect(3, 2, 35, 26), 32, 24, 16, 12, KRect(0, 0, 16, 12), 0,
                                        *cube, out.Typed(), lum.Typed(), 0.0, 0, 0),
                     0.5);
    EXPECT_DOUBLE_EQ(CropSizeRotateMore(in.Typed(), KRect(3, 2, 35, 26), 32, 24, 12, 16, KRect(0, 0, 12, 16), 90,
                                        *cube, out.Typed(), lum.Typed(), 0.0, 0, 0),
                     0.5);
    EXPECT_DOUBLE_EQ(CropSizeRotateMore(in.Typed(), KRect(3, 2, 35, 26), 32, 24, 10, 16, KRect(0, 0, 10, 16), 270,
                                        *cube, out.Typed(), lum.Typed(), 0.0, 0, 0),
                     0.5);
}

TEST(CropSizeRotate, RefusesBadRotationsAndAreasWithoutWriting)
{
    PositionImage in(20, 20);
    auto cube = IdentityLUT();
    WorkingImage out(8, 8);
    MonoImage lum(8, 8);
    out.Fill(0x5A);
    lum.Fill(0x5A);
    struct Case {
        KUInt32 rotation;
        KRect active;
        KRect crop;
        const char* message;
    };
    const char* rotation = "CropSizeRotateMore: rotation is not multiple of 90 degrees.";
    const char* small = "CropSizeRotateMore: active area is smaller than 2 x 2 pixels.";
    const char* outside = "CropSizeRotateMore: active area is not inside the input image.";
    const char* crop = "CropSizeRotateMore: output image smaller than the crop rectangle.";
    const Case cases[] = {
        {45, {0, 0, 20, 20}, {0, 0, 8, 8}, rotation},
        {static_cast<KUInt32>(-90), {0, 0, 20, 20}, {0, 0, 8, 8}, rotation},
        {0, {5, 5, 5, 10}, {0, 0, 8, 8}, small},
        {0, {5, 5, 6, 10}, {0, 0, 8, 8}, small},
        {0, {5, 10, 10, 5}, {0, 0, 8, 8}, small},
        {0, {-1, 0, 10, 10}, {0, 0, 8, 8}, outside},
        {0, {0, 0, 21, 10}, {0, 0, 8, 8}, outside},
        {0, {0, 0, 10, 21}, {0, 0, 8, 8}, outside},
        {0, {0, 0, 20, 20}, {0, 0, 9, 8}, crop},
        {0, {0, 0, 20, 20}, {2, 0, 10, 9}, crop},
    };
    for (const Case& k : cases) {
        try {
            CropSizeRotateMore(in.Typed(), k.active, 20, 20, 20, 20, k.crop, k.rotation, *cube, out.Typed(),
                               lum.Typed(), 0.0, 0, 0);
            ADD_FAILURE() << k.message;
        } catch (const KExceptionPixelProc2& e) {
            EXPECT_EQ(std::string(e.GetMessage()), k.message);
        }
    }
    EXPECT_TRUE(AllBytesAre(out, 0x5A));
    EXPECT_TRUE(AllBytesAre(lum, 0x5A));
}

TEST(CropSizeRotate, AnEmptyCropWritesNothing)
{
    PositionImage in(20, 20);
    auto cube = IdentityLUT();
    WorkingImage out(4, 4);
    MonoImage lum(4, 4);
    out.Fill(0x5A);
    for (const KRect& crop : {KRect(3, 3, 3, 10), KRect(3, 3, 10, 3), KRect(5, 5, 2, 2)})
        for (KInt32 size : {20, 10})  // 1:1 and a reduction
            CropSizeRotateMore(in.Typed(), KRect(0, 0, 20, 20), 20, 20, size, size, crop, 0, *cube, out.Typed(),
                               lum.Typed(), 0.0, 0, 0);
    EXPECT_TRUE(AllBytesAre(out, 0x5A));
}

TEST(CropSizeRotate, OneToOneMarksPositionsOutsideTheFrame)
{
    // Expected 11 x 6 fitted into 22 x 12 over an active area of 21 x 11 (the whole frame) is exactly 1:1, but
    // the walk runs one pixel past the frame's right and bottom edges: those samples are the marker.
    PositionImage in(21, 11);
    auto cube = IdentityLUT();
    WorkingImage out(22, 12);
    MonoImage lum(22, 12);
    CropSizeRotateMore(in.Typed(), KRect(0, 0, 21, 11), 11, 6, 22, 12, KRect(0, 0, 22, 12), 0, *cube, out.Typed(),
                       lum.Typed(), 0.0, 0, 0);
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 22; ++c) {
            const bool outside = c == 21 || r == 11;
            ASSERT_EQ(out.Get(c, r, 0), outside ? 8000 : 100 + 50 * c) << c << "," << r;
            ASSERT_EQ(out.Get(c, r, 1), outside ? 0 : 100 + 50 * r);
            ASSERT_EQ(out.Get(c, r, 2), outside ? 0 : 7);
        }
}

TEST(CropSizeRotate, ResamplingNearThePictureEdgeDrawsOnThePictureAlone)
{
    // A reduction by 2 of a grey picture framed by black shields, starting one pixel inside the frame's left
    // edge: the first column (x16 = 16) and the last row sample the picture's edge, whose 4 x 4 neighbourhoods
    // reach into the shields and past the frame. They take the picture's edge pixels in place of those, so every
    // output pixel is the encoded grey: no marker, no dark line.
    WorkingImage in(40, 40);
    const KRect active(1, 4, 39, 39);
    in.FillWith([&](int x, int y, int32_t v[3]) {
        const bool picture = x >= active.left && x < active.right && y >= active.top && y < active.bottom;
        v[0] = v[1] = v[2] = picture ? 2048 : 0;
    });
    const KLUT& cube = *KGlobalLUTsClass::GetCubeRootLUT();
    WorkingImage out(19, 19);
    MonoImage lum(19, 19);
    const double f = CropSizeRotateMore(in.Typed(), active, 38, 35, 19, 18, KRect(0, 0, 19, 18), 0, cube,
                                        out.Typed(), lum.Typed(), 0.0, 0, 0);
    EXPECT_DOUBLE_EQ(f, 0.5);
    for (int r = 0; r < 18; ++r)
        for (int c = 0; c < 19; ++c) {
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(out.Get(c, r, ch), cube[2048], 1) << c << "," << r;
            ASSERT_NEAR(lum.Get(c, r), cube[2048], 1) << c << "," << r;
        }
}

TEST(CropSizeRotate, StepsAtTheirLimitTurnWithoutOverflow)
{
    // An expected size far from the active area's (a damaged request) makes a step of the walk saturate at the
    // most negative 32-bit value; the turns that walk it backwards must still be defined: every sample falls
    // outside the frame and is the marker, or near the walk's start in the picture and the same sample as there.
    WorkingImage in(4, 4);
    in.FillWith([](int, int, int32_t v[3]) { v[0] = v[1] = v[2] = 2048; });
    const KLUT& cube = *KGlobalLUTsClass::GetCubeRootLUT();
    for (KUInt32 rotation : {90u, 180u, 270u}) {
        WorkingImage out(2, 2);
        MonoImage lum(2, 2);
        CropSizeRotateMore(in.Typed(), KRect(0, 0, 4, 4), 1 << 30, 0, 1, 1, KRect(0, 0, 2, 2), rotation, cube,
                           out.Typed(), lum.Typed(), 0.0, 0, 0);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                EXPECT_TRUE(out.Get(c, r, 0) == cube[8000] || out.Get(c, r, 0) == out.Get(0, 0, 0))
                    << rotation << ": " << c << "," << r;
    }
}

TEST(CropSizeRotate, ResamplingTurnsAndScalesAGradient)
{
    // Red rises to the right in the input; after a clockwise quarter turn it rises downward, and a reduction
    // by 2 doubles its slope per output pixel.
    WorkingImage in(64, 48);
    in.FillWith([](int x, int y, int32_t v[3]) {
        v[0] = 500 + 40 * x;
        v[1] = 500 + 40 * y;
        v[2] = 1000;
    });
    auto cube = IdentityLUT();
    const KRect active(4, 4, 60, 44);  // 56 x 40
    WorkingImage out(20, 28);
    MonoImage lum(20, 28);
    CropSizeRotateMore(in.Typed(), active, 56, 40, 20, 28, KRect(0, 0, 20, 28), 90, *cube, out.Typed(),
                       lum.Typed(), 0.0, 0, 0);
    for (int v = 2; v < 26; ++v)
        for (int u = 2; u < 18; ++u) {
            const int dr = out.Get(u, v + 1, 0) - out.Get(u, v, 0);
            const int dg = out.Get(u + 1, v, 1) - out.Get(u, v, 1);
            EXPECT_NEAR(dr, 80, 2) << u << "," << v;
            EXPECT_NEAR(dg, -80, 2) << u << "," << v;
            EXPECT_NEAR(out.Get(u, v, 2), 1000, 1);
        }
}

TEST(CropSizeRotate, GreenCorrection)
{
    // Default settings: weight 0.001 (factor 16), limits 200 and -120. Green is raised by (e d 16) >> 14.
    struct Case {
        KInt32 d;
        KInt32 lift;
    };
    const Case cases[] = {{100, 9}, {1000, 195}, {-1000, 117}, {0, 0}, {-120, 14}, {-121, 14}, {200, 39}, {201, 39}};
    auto cube = IdentityLUT();
    for (const Case& k : cases) {
        WorkingImage in(4, 4);
        in.FillWith([&](int, int, int32_t v[3]) {
            v[0] = 2000;
            v[1] = 2000 + k.d;
            v[2] = 500;
        });
        WorkingImage out(4, 4);
        MonoImage lum(4, 4);
        CropSizeRotateMore(in.Typed(), KRect(0, 0, 4, 4), 4, 4, 4, 4, KRect(0, 0, 4, 4), 0, *cube, out.Typed(),
                           lum.Typed(), 0.001, 200, -120);
        EXPECT_EQ(out.Get(1, 1, 0), 2000);
        EXPECT_EQ(out.Get(1, 1, 1), 2000 + k.d + k.lift) << k.d;
        EXPECT_EQ(out.Get(1, 1, 2), 500);
        // The luminance comes from the linear sample, before the correction.
        EXPECT_EQ(lum.Get(1, 1), Luminance(2000, 2000 + k.d, 500));
    }
}

TEST(CropSizeRotate, NeutralWhiteEncodesThroughTheCubeRoot)
{
    WorkingImage in(4, 4);
    in.FillWith([](int, int, int32_t v[3]) { v[0] = v[1] = v[2] = 4096; });
    WorkingImage out(4, 4);
    MonoImage lum(4, 4);
    CropSizeRotateMore(in.Typed(), KRect(0, 0, 4, 4), 4, 4, 4, 4, KRect(0, 0, 4, 4), 0,
                       *KGlobalLUTsClass::GetCubeRootLUT(), out.Typed(), lum.Typed(), 0.001, 200, -120);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(out.Get(2, 2, ch), 4107);
    EXPECT_EQ(lum.Get(2, 2), 4107);  // the luminance weights sum to 16383 and round back to 4096
}

namespace {

// Through an identity encoding without green correction the output is the filtered sample itself (kept to 16
// bits), so every pixel must equal ResamplePixel4x4 at its position, the 64-bit sum, over the picture whose
// edge pixels stand in for everything beyond it. Moderate values take the
// 32-bit path of the stage; full-scale ones must give the same as the exact sums.
void CheckResampledPixels()
{
    for (int range : {6000, 32767}) {
        WorkingImage in(50, 40);
        std::mt19937 random(range);
        std::uniform_int_distribution<int> d(-range, range);
        in.FillWith([&](int, int, int32_t v[3]) {
            for (int c = 0; c < 3; ++c)
                v[c] = d(random);
        });
        auto cube = IdentityLUT();
        const KRect active(2, 3, 48, 37);  // 46 x 34
        WorkingImage padded(50, 40);
        padded.FillWith([&](int x, int y, int32_t v[3]) {
            const int px = std::clamp(x, int(active.left), int(active.right) - 1);
            const int py = std::clamp(y, int(active.top), int(active.bottom) - 1);
            for (int c = 0; c < 3; ++c)
                v[c] = in.Get(px, py, c);
        });
        for (KUInt32 rotation : {0u, 90u, 180u, 270u}) {
            const bool sideways = rotation % 180 == 90;
            const KInt32 ow = sideways ? 25 : 33, oh = sideways ? 33 : 25;  // factor 33 / 46
            WorkingImage out(ow, oh);
            MonoImage lum(ow, oh);
            CropSizeRotateMore(in.Typed(), active, 46, 34, ow, oh, KRect(0, 0, ow, oh), rotation, *cube,
                               out.Typed(), lum.Typed(), 0.0, 0, 0);
            // The walk of the stage, in the same fixed point.
            const double f = 33.0 / 46.0;
            const auto table = CreateResampleTable(45 * f / 45, 33 * f / 33);
            const KInt32 stepX = KInt32(16384 / (45 * f / 45) + 0.5), stepY = KInt32(16384 / (33 * f / 33) + 0.5);
            int checked = 0;
            for (int v = 0; v < oh; ++v)
                for (int u = 0; u < ow; ++u) {
                    KInt32 px, py;
                    switch (rotation) {
                    case 0: px = (2 << 14) + u * stepX, py = (3 << 14) + v * stepY; break;
                    case 90: px = (2 << 14) + v * stepX, py = (36 << 14) - u * stepY; break;
                    case 180: px = (47 << 14) - u * stepX, py = (36 << 14) - v * stepY; break;
                    default: px = (47 << 14) - v * stepX, py = (3 << 14) + u * stepY; break;
                    }
                    const KInt32 x16 = (px + 512) >> 10, y16 = (py + 512) >> 10;
                    ASSERT_TRUE(x16 >= 16 && y16 >= 32 && x16 < 48 * 16 && y16 < 37 * 16) << u << "," << v;
                    const KInt32 xs[3] = {x16, x16, x16}, ys[3] = {y16, y16, y16};
                    KInt32 want[3];
                    ResamplePixel4x4(padded.Typed(), want, xs, ys, *table);
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(out.Get(u, v, c), static_cast<int16_t>(want[c])) << range << " " << rotation;
                    ++checked;
                }
            EXPECT_EQ(checked, ow * oh);
        }
    }
}

}  // namespace

TEST(CropSizeRotate, ResampledPixelsEqualTheExactSums)
{
    CheckResampledPixels();
    const rawstage::BaselineKernels baseline;
    CheckResampledPixels();
}

// Strips of a save and bands of the engine each size their sums from the pixels they read: a frame whose top
// rows hold full-scale samples and whose other rows are quiet gives, strip by strip, the bytes of the whole crop
// in one call, in every turn, with kernels of their own or prepared for the whole crop.
TEST(CropSizeRotate, StripsGiveTheBytesOfTheWholeCrop)
{
    WorkingImage in(64, 80);
    std::mt19937 random(23);
    std::uniform_int_distribution<int> loud(-32767, 32767), quiet(-3000, 3000);
    in.FillWith([&](int, int y, int32_t v[3]) {
        for (int c = 0; c < 3; ++c)
            v[c] = y < 10 ? loud(random) : quiet(random);
    });
    auto cube = IdentityLUT();
    const KRect active(2, 3, 62, 78);  // 60 x 75
    for (KUInt32 rotation : {0u, 90u, 180u, 270u}) {
        const bool sideways = rotation % 180 == 90;
        const KInt32 ow = sideways ? 31 : 37, oh = sideways ? 37 : 31;  // about 0.62
        const KRect crop(0, 0, ow, oh);
        WorkingImage whole(ow, oh);
        MonoImage wholeLum(ow, oh);
        CropSizeRotateMore(in.Typed(), active, 60, 75, ow, oh, crop, rotation, *cube, whole.Typed(),
                           wholeLum.Typed(), 0.001, 200, -120);
        const auto prepared = PrepareCropSizeRotate(in.Typed(), active, 60, 75, ow, oh, crop, rotation);
        ASSERT_NE(prepared, nullptr);
        for (const KCropSizeRotateKernels* kernels : {static_cast<const KCropSizeRotateKernels*>(nullptr), prepared.get()}) {
            for (KInt32 top = 0; top < oh; top += 5) {
                const KInt32 rows = std::min<KInt32>(5, oh - top);
                WorkingImage strip(ow, rows);
                MonoImage stripLum(ow, rows);
                CropSizeRotateMore(in.Typed(), active, 60, 75, ow, oh, KRect(0, top, ow, top + rows), rotation, *cube,
                                   strip.Typed(), stripLum.Typed(), 0.001, 200, -120, kernels);
                for (KInt32 r = 0; r < rows; ++r)
                    for (KInt32 c = 0; c < ow; ++c) {
                        for (int ch = 0; ch < 3; ++ch)
                            ASSERT_EQ(strip.Get(c, r, ch), whole.Get(c, top + r, ch))
                                << rotation << " row " << top + r << " column " << c << (kernels ? " prepared" : "");
                        ASSERT_EQ(stripLum.Get(c, r), wholeLum.Get(c, top + r)) << rotation << " row " << top + r;
                    }
            }
        }
    }
}
