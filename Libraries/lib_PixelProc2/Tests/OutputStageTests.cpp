#include <gtest/gtest.h>

#include <random>
#include <string>

#include "DevelopTestImages.h"
#include "KColorSpace.h"
#include "KExceptionPixelProc2.h"
#include "KGlobalLUTs.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KRGBTripleOps.h"
#include "KRounding.h"
#include "KToneCurve.h"
#include "RawStageTestSupport.h"

namespace {

const KMatrix3x3 kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// Tone and gamma tables that pass values through unchanged (the gamma table as unsigned 16-bit codes).
struct PassThrough {
    std::unique_ptr<KColorLUT> tone = MakeColorLUT([](int, int v) { return v; });
    std::unique_ptr<KLUT> gamma = IdentityLUT();
};

// A working image of one colour and a detail layer of one value.
struct Frame {
    WorkingImage working;
    MonoImage detail;
    Frame(int w, int h, int32_t r, int32_t g, int32_t b, int32_t d = 0) : working(w, h), detail(w, h)
    {
        working.FillWith([&](int, int, int32_t v[3]) {
            v[0] = r;
            v[1] = g;
            v[2] = b;
        });
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                detail.Set(x, y, 0, d);
    }
};

}  // namespace

TEST(OutputStage, ShadowToe)
{
    // Largest channel 1000: k = 32; 480 and above stay, 0 becomes ((544 x 544) >> 11) - 32 = 112.
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(1000, 480, 0)), KRGBTriple(1000, 480, 112));
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(1000, 479, 479)).g, ((479 + 544) * (479 + 544) >> 11) - 32);
    // Black: k = 512 and 0 stays 0. Just below the knee the toe follows the identity closely: -100 gives
    // t = 924 and ((924 x 924) >> 11) - 512 = -96 (the curve is continuous with slope 1 at 512 - k = 0; -430,
    // from t = 412, would jump).
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(0, 0, 0)), KRGBTriple(0, 0, 0));
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(0, -1, 0)), KRGBTriple(0, -1, 0));
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(0, -100, 0)), KRGBTriple(0, -96, 0));
    // Below -k - 512 the value is -k.
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(0, -1024, -5000)), KRGBTriple(0, -512, -512));
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(0, -1023, 0)).g, (1 >> 11) - 512);
    // The toe meets the identity at 512 - k: largest 600 gives k = 212, so 300 stays and 299 moves (slope 1).
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(600, 300, 299)), KRGBTriple(600, 300, ((299 + 724) * (299 + 724) >> 11) - 212));
    // Extreme values neither overflow nor leave the curve.
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(INT32_MIN, INT32_MIN, INT32_MIN)).r, -(512 - (INT32_MIN >> 1)));
    EXPECT_EQ(ApplyShadowToe(KRGBTriple(INT32_MAX, INT32_MIN, 0)), KRGBTriple(INT32_MAX, -32, -32 + ((544 * 544) >> 11)));
}

TEST(OutputStage, ColorMatrix)
{
    // The working space to itself without saturation change: the identity, to rounding.
    KMatrix3x3 m;
    CalculateOutputColorMatrix(m, kWorkingColorSpace, 0.0);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], kIdentity[i], 1e-12) << i;
    // Saturation 3: diagonal 2, elsewhere -0.5.
    CalculateOutputColorMatrix(m, kWorkingColorSpace, 3.0);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], i % 4 == 0 ? 2.0 : -0.5, 1e-12) << i;
    // Every output space keeps white white (to the four decimals of the tables), whatever the saturation.
    for (int code = 1; code < kColorSpaceCount; ++code) {
        for (double q : {0.0, -1.5, 2.0}) {
            CalculateOutputColorMatrix(m, code, q);
            for (int row = 0; row < 3; ++row)
                EXPECT_NEAR(m[row * 3] + m[row * 3 + 1] + m[row * 3 + 2], 1.0, 0.06) << code << " " << q << " " << row;
        }
    }
    // The result is (output x working^-1) x S.
    KMatrix3x3 out, work;
    CreateColorSpaceWhitePoint(out, 2, kPcsWhitePointD65);
    CreateColorSpaceWhitePoint(work, kWorkingColorSpace, kPcsWhitePointD65);
    CalculateOutputColorMatrix(m, 2, 0.0);
    const KMatrix3x3 want = Multiply3x3(out, Invert3x3(work));
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], want[i], 1e-12);
    EXPECT_THROW(CalculateOutputColorMatrix(m, 12, 0.0), KException);
}

TEST(OutputStage, RefusesOtherOutputTypesWithoutWriting)
{
    Frame f(4, 3, 1000, 1000, 1000);
    PassThrough t;
    for (int type : {kPixelType48SRGB, kPixelType30RGBL, kPixelType32ARGB, kPixelType16Mono, kPixelType48BGR}) {
        TestPixmap out(type, 4, 3);
        out.Fill(0x5A);
        try {
            KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, kIdentity, *t.gamma,
                                         out.Pixmap());
            ADD_FAILURE() << type;
        } catch (const KExceptionPixelProc2& e) {
            EXPECT_EQ(std::string(e.GetMessage()), "KPixelProc2::ProcessToOutput: unknown output pixel type.");
        }
        EXPECT_TRUE(AllBytesAre(out, 0x5A));
    }
}

TEST(OutputStage, RefusesImagesSmallerThanTheWorkingImage)
{
    Frame f(4, 3, 1000, 1000, 1000);
    PassThrough t;
    TestPixmap narrow(kPixelType48RGB, 3, 3), low(kPixelType48RGB, 4, 2);
    for (TestPixmap* out : {&narrow, &low})
        EXPECT_THROW(KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, kIdentity,
                                                  *t.gamma, out->Pixmap()),
                     KExceptionPixelProc2);
    MonoImage smallDetail(4, 2);
    TestPixmap out(kPixelType48RGB, 4, 3);
    EXPECT_THROW(KPixelProc2::ProcessToOutput(f.working.Typed(), smallDetail.Typed(), 0.0, *t.tone, kIdentity,
                                              *t.gamma, out.Pixmap()),
                 KExceptionPixelProc2);
    // A wider output is fine: only the working image's columns are written.
    TestPixmap wide(kPixelType48RGB, 6, 3);
    wide.Fill(0x5A);
    KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, kIdentity, *t.gamma, wide.Pixmap());
    EXPECT_EQ(wide.Word16(3, 2, 0), 1000);
    EXPECT_EQ(wide.Word16(4, 2, 0), 0x5A5A);
}

TEST(OutputStage, DetailIsAddedWithTheSharpeningGain)
{
    PassThrough t;
    struct Case {
        double s;
        int32_t d, add;
    };
    // Sharpening 0 adds the detail unscaled; 1 doubles it; -0.5 halves it; a negative detail darkens.
    const Case cases[] = {{0.0, 100, 100}, {1.0, 100, 200}, {-0.5, 101, 50}, {0.0, -300, -300}, {0.25, -3, -4}};
    for (const Case& k : cases) {
        Frame f(3, 2, 2000, 3000, 4000, k.d);
        TestPixmap out(kPixelType48RGB, 3, 2);
        KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), k.s, *t.tone, kIdentity, *t.gamma,
                                     out.Pixmap());
        EXPECT_EQ(out.Word16(2, 1, 0), 2000 + k.add) << k.s << " " << k.d;
        EXPECT_EQ(out.Word16(2, 1, 1), 3000 + k.add);
        EXPECT_EQ(out.Word16(2, 1, 2), 4000 + k.add);
    }
}

TEST(OutputStage, PixelLayoutsOfTheThreeOutputs)
{
    // Codes 0x1234, 0x2345, 0x3456 through an identity pipeline; the 8-bit outputs keep the low byte.
    Frame f(2, 2, 0x1234, 0x2345, 0x3456);
    PassThrough t;
    TestPixmap rgb48(kPixelType48RGB, 2, 2), rgb24(kPixelType24RGB, 2, 2), bgra(kPixelType32BGRA, 2, 2);
    for (TestPixmap* out : {&rgb48, &rgb24, &bgra})
        KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, kIdentity, *t.gamma,
                                     out->Pixmap());
    EXPECT_EQ(rgb48.Word16(1, 1, 0), 0x1234);
    EXPECT_EQ(rgb48.Word16(1, 1, 1), 0x2345);
    EXPECT_EQ(rgb48.Word16(1, 1, 2), 0x3456);
    const uint8_t* p = rgb24.At(1, 1);
    EXPECT_EQ(p[0], 0x34);
    EXPECT_EQ(p[1], 0x45);
    EXPECT_EQ(p[2], 0x56);
    EXPECT_EQ(bgra.Word(1, 1), 0xFF344556u);  // bytes B, G, R, 255
}

TEST(OutputStage, BrightSaturatedColoursSaturateBeforeTheGammaTable)
{
    // Tripling 16000 gives 48000, beyond the signed 16-bit range: it must encode as the brightest code, not
    // index the table's negative half (black).
    Frame f(2, 1, 16000, 1000, 1000);
    PassThrough t;
    auto gamma = CreateOutputGammaLUT(2, 16);
    const KMatrix3x3 triple = {3, 0, 0, 0, 1, 0, 0, 0, 1};
    TestPixmap out(kPixelType48RGB, 2, 1);
    KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, triple, *gamma, out.Pixmap());
    EXPECT_EQ(out.Word16(0, 0, 0), 65535);
    EXPECT_EQ(out.Word16(0, 0, 1), static_cast<KUInt16>((*gamma)[1000]));
    // Far below the range the toe holds the value at -k, which the table maps like any negative value.
    const KMatrix3x3 negative = {-3, 0, 0, 0, 1, 0, 0, 0, 1};
    KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, negative, *gamma, out.Pixmap());
    EXPECT_EQ(out.Word16(0, 0, 0), static_cast<KUInt16>((*gamma)[static_cast<KUInt32>(-32)]));
}

TEST(OutputStage, ExtremeMatrixSumsStayDefined)
{
    // A saturation far out of range gives matrix rows whose sums land near the 32-bit limits; the toe must not
    // overflow on them: a sum at the top is as bright as can be, one at the bottom as dark.
    Frame f(2, 1, 8192, 1000, 1000);
    PassThrough t;
    auto gamma = CreateOutputGammaLUT(2, 16);
    TestPixmap out(kPixelType48RGB, 2, 1);
    for (KInt32 sum : {INT32_MAX - 10, INT32_MAX - 600}) {
        const KMatrix3x3 huge = {sum / 8192.0, 0, 0, 0, 1, 0, 0, 0, 1};
        KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, huge, *gamma, out.Pixmap());
        EXPECT_EQ(out.Word16(0, 0, 0), 65535) << sum;
    }
    const KMatrix3x3 low = {(INT32_MIN + 10) / 8192.0, 0, 0, 0, 1, 0, 0, 0, 1};
    KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *t.tone, low, *gamma, out.Pixmap());
    EXPECT_EQ(out.Word16(0, 0, 0), static_cast<KUInt16>((*gamma)[static_cast<KUInt32>(-32)]));
}

TEST(OutputStage, NeutralGreysStayNeutralInEveryOutputSpace)
{
    // Real tables: the neutral tone curve, each output space with its gamma, saturation 1.
    auto tone = MakeColorLUT([](int, int) { return 0; });
    CreateToneLUT(0, 0, 0, 0, 1, 1, 1, *KGlobalLUTsClass::GetCubeLUT(), *tone);
    for (int code = 1; code < kColorSpaceCount; ++code) {
        auto gamma = CreateOutputGammaLUT(code, 8);
        KMatrix3x3 m;
        CalculateOutputColorMatrix(m, code, 1.0);
        int previous = -1;
        for (int level : {900, 1500, 2500, 3500, 4500, 5500}) {
            Frame f(2, 1, level, level, level);
            TestPixmap out(kPixelType24RGB, 2, 1);
            KPixelProc2::ProcessToOutput(f.working.Typed(), f.detail.Typed(), 0.0, *tone, m, *gamma, out.Pixmap());
            const uint8_t* p = out.At(1, 0);
            EXPECT_NEAR(p[0], p[1], 3) << code << " " << level;
            EXPECT_NEAR(p[2], p[1], 3) << code << " " << level;
            EXPECT_GT(int(p[1]), previous) << code << " " << level;
            previous = p[1];
        }
    }
}

namespace {

// Random images and tables against the steps written out with the per-pixel helpers: detail, tone, matrix,
// toe, saturation, gamma. A gentle matrix lets the stage sum in 32 bits, a steep one (rows of absolute sum 8
// and more) makes it use 64 bits; both must agree with the steps.
void CheckEveryPixel()
{
    std::mt19937 random(7);
    auto any = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto tone = MakeColorLUT([&](int, int) { return any(-3000, 20000); });
    auto gamma = MakeLUT([&](int) { return any(0, 65535); });
    const KMatrix3x3 gentle = {1.3, -0.2, -0.1, -0.25, 1.4, -0.15, 0.05, -0.3, 1.25};
    const KMatrix3x3 steep = {6.5, -2.5, -1.0, -0.5, 3.0, 4.75, 2.0, 2.0, -3.9};
    for (const KMatrix3x3* m : {&gentle, &steep}) {
        for (double s : {0.0, 0.7, -0.4}) {
            WorkingImage working(37, 5);
            MonoImage detail(37, 5);
            working.FillWith([&](int, int, int32_t v[3]) {
                for (int c = 0; c < 3; ++c)
                    v[c] = any(-32768, 32767);
            });
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 37; ++x)
                    detail.Set(x, y, 0, any(-32768, 32767));
            TestPixmap out(kPixelType48RGB, 37, 5);
            KPixelProc2::ProcessToOutput(working.Typed(), detail.Typed(), s, *tone, *m, *gamma, out.Pixmap());

            const KFixedMatrix3x3 fixed = ToFixedMatrix(*m);
            const KInt32 gain = KInt32((1 + s) * 16384);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 37; ++x) {
                    const KInt32 e = (detail.Get(x, y) * gain) >> 14;
                    const KRGBTriple w(working.Get(x, y, 0), working.Get(x, y, 1), working.Get(x, y, 2));
                    KRGBTriple c = ApplyShadowToe(ApplyFixedMatrix(fixed, LookupColorLUT(*tone, w + e)));
                    c = KRGBTriple(KSaturateToInt16(c.r), KSaturateToInt16(c.g), KSaturateToInt16(c.b));
                    const KRGBTriple want = LookupLUT(*gamma, c);
                    ASSERT_EQ(out.Word16(x, y, 0), want.r) << x << "," << y;
                    ASSERT_EQ(out.Word16(x, y, 1), want.g) << x << "," << y;
                    ASSERT_EQ(out.Word16(x, y, 2), want.b) << x << "," << y;
                }
        }
    }
}

}  // namespace

TEST(OutputStage, EveryPixelFollowsTheSteps)
{
    CheckEveryPixel();
    const rawstage::BaselineKernels baseline;
    CheckEveryPixel();
}
