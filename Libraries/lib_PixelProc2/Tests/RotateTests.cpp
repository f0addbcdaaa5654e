#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>

#include "ColourTestPixmaps.h"
#include "KExceptionPixelProc.h"
#include "KRotate.h"

namespace {

// The mapping as written, with a multiplication per pixel: the reference for the running sums and for the
// quarter-turn copies.
void ReferenceRotate(const TestPixmap& in, TestPixmap& out, double angle)
{
    const double a = angle * 0.017453292522166666;
    const int64_t c = static_cast<int32_t>(std::cos(a) * 65536), n = static_cast<int32_t>(std::sin(a) * -65536),
                  s = static_cast<int32_t>(std::sin(a) * 65536);
    const int64_t w = in.Width(), h = in.Height();
    const int64_t x0 = (c < 0 ? (-(w - 1) * c) >> 16 : 0) + (n < 0 ? (-(h - 1) * n) >> 16 : 0);
    const int64_t y0 = (s < 0 ? (-(w - 1) * s) >> 16 : 0) + (c < 0 ? (-(h - 1) * c) >> 16 : 0);
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const int64_t dx = ((x * c) >> 16) + ((y * n) >> 16) + x0, dy = ((x * s) >> 16) + ((y * c) >> 16) + y0;
            if (dx >= 0 && dx < out.Width() && dy >= 0 && dy < out.Height())
                std::memcpy(out.At(static_cast<int32_t>(dx), static_cast<int32_t>(dy)),
                            in.At(static_cast<int32_t>(x), static_cast<int32_t>(y)), static_cast<size_t>(in.Bytes()));
        }
}

const int kTypes[] = {kPixelType24RGB, kPixelType32ARGB, kPixelType32BGRA, kPixelType48RGB};

}  // namespace

TEST(Rotate, QuarterTurnOfThreeByTwo)
{
    TestPixmap in(kPixelType24RGB, 3, 2), out(kPixelType24RGB, 2, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            in.At(x, y)[0] = static_cast<uint8_t>(10 * x + y), in.At(x, y)[1] = 1, in.At(x, y)[2] = 2;
    Rotate(in.Pixmap(), out.Pixmap(), 90.0);
    EXPECT_EQ(out.At(1, 0)[0], 0);   // input (0, 0)
    EXPECT_EQ(out.At(0, 2)[0], 21);  // input (2, 1)
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(out.At(2 - 1 - y, x)[0], 10 * x + y);
}

TEST(Rotate, MultiplesOfNinetyMapExactly)
{
    struct Case {
        double angle;
        bool turned;  // output is h x w
        int (*dx)(int x, int y, int w, int h);
        int (*dy)(int x, int y, int w, int h);
    };
    const Case cases[] = {
        {0, false, [](int x, int, int, int) { return x; }, [](int, int y, int, int) { return y; }},
        {90, true, [](int, int y, int, int h) { return h - 1 - y; }, [](int x, int, int, int) { return x; }},
        {-90, true, [](int, int y, int, int) { return y; }, [](int x, int, int w, int) { return w - 1 - x; }},
        {270, true, [](int, int y, int, int) { return y; }, [](int x, int, int w, int) { return w - 1 - x; }},
        {180, false, [](int x, int, int w, int) { return w - 1 - x; }, [](int, int y, int, int h) { return h - 1 - y; }},
        {-180, false, [](int x, int, int w, int) { return w - 1 - x; }, [](int, int y, int, int h) { return h - 1 - y; }},
        {360, false, [](int x, int, int, int) { return x; }, [](int, int y, int, int) { return y; }},
        {450, true, [](int, int y, int, int h) { return h - 1 - y; }, [](int x, int, int, int) { return x; }},
    };
    for (int type : kTypes)
        for (const Case& k : cases) {
            const int w = 37, h = 70;  // more than one tile of the quarter-turn copy, and not a whole number of them
            TestPixmap in(type, w, h), out(type, k.turned ? h : w, k.turned ? w : h);
            in.FillRandom(static_cast<uint32_t>(type));
            out.Fill(0xEE);
            Rotate(in.Pixmap(), out.Pixmap(), k.angle);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(0, std::memcmp(out.At(k.dx(x, y, w, h), k.dy(x, y, w, h)), in.At(x, y),
                                             static_cast<size_t>(in.Bytes())))
                        << "type " << type << " angle " << k.angle << " pixel " << x << "," << y;
        }
}

TEST(Rotate, HalfTurnTwiceIsTheIdentity)
{
    for (int type : kTypes) {
        TestPixmap in(type, 13, 8), once(type, 13, 8), twice(type, 13, 8);
        in.FillRandom(9);
        Rotate(in.Pixmap(), once.Pixmap(), 180.0);
        Rotate(once.Pixmap(), twice.Pixmap(), 180.0);
        EXPECT_EQ(twice.Data(), in.Data()) << type;
        EXPECT_NE(once.Data(), in.Data()) << type;
    }
}

TEST(Rotate, OutputsOfOtherSizesTakeWhatFallsInsideAndKeepTheRest)
{
    // Smaller and larger outputs than the turned image, with a few other angles taking the general path; every
    // result equals the mapping computed pixel by pixel.
    const double angles[] = {0, 90, -90, 180, 270, 45, 30, -120, 1};
    const int sizes[][2] = {{5, 4}, {11, 9}, {3, 12}, {1, 1}, {20, 2}};
    for (int type : {kPixelType24RGB, kPixelType48RGB})
        for (double angle : angles)
            for (const auto& size : sizes) {
                TestPixmap in(type, 9, 6), out(type, size[0], size[1]), expected(type, size[0], size[1]);
                in.FillRandom(4);
                out.Fill(0xEE);
                expected.Fill(0xEE);
                Rotate(in.Pixmap(), out.Pixmap(), angle);
                ReferenceRotate(in, expected, angle);
                EXPECT_EQ(out.Data(), expected.Data()) << "type " << type << " angle " << angle << " output "
                                                       << size[0] << "x" << size[1];
            }
}

TEST(Rotate, RefusedTypesAndArguments)
{
    TestPixmap bgra(kPixelType32BGRA, 4, 3), argb(kPixelType32ARGB, 3, 4), mono(kPixelType8Mono, 3, 4);
    EXPECT_THROW(Rotate(bgra.Pixmap(), argb.Pixmap(), 90.0), std::bad_cast);
    try {
        Rotate(bgra.Pixmap(), mono.Pixmap(), 90.0);
        ADD_FAILURE() << "8Mono output accepted";
    } catch (const KExceptionPpUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "Rotate: output image buffer is not display, 24 RGB, or 48 RGB");
        EXPECT_STREQ(e.GetDescription(), "Unknown Pixel Type");
        const KExceptionPixelProc& base = e;
        EXPECT_STREQ(static_cast<const KException&>(base).GetDescription(), "Unknown Pixel Type");
    }
    EXPECT_STREQ(KExceptionPixelProc("").GetDescription(), "Pixel processing exception");
    TestPixmap out(kPixelType32BGRA, 3, 4);
    for (double angle : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_THROW(Rotate(bgra.Pixmap(), out.Pixmap(), angle), KExceptionPixelProc);
    OddTypePixmap noData(kPixelType32BGRA, nullptr, 4, 3);
    EXPECT_THROW(Rotate(noData, out.Pixmap(), 90.0), KExceptionPixelProc);
    EXPECT_THROW(Rotate(bgra.Pixmap(), noData, 90.0), KExceptionPixelProc);
    // Empty images turn to nothing.
    TestPixmap empty(kPixelType32BGRA, 0, 0);
    EXPECT_NO_THROW(Rotate(empty.Pixmap(), out.Pixmap(), 90.0));
}
