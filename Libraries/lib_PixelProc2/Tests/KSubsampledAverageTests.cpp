#include <gtest/gtest.h>

#include <string>

#include "KExceptionPixelProc2.h"
#include "KSubsampledAverage.h"
#include "RawStageTestSupport.h"

using rawstage::OwnedPixmap;

namespace {

template <class PixelClass>
void FillWith(OwnedPixmap<PixelClass>& image, const KRGBTriple& v)
{
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            PixelClass::SetRGB(image.Get()->GetRow(y) + x * PixelClass::kBytesPerPixel, v);
}

std::string AverageError(const KPixmap* image)
{
    try {
        SubsampledColorAverage(image, 4);
    } catch (const KExceptionPixelProc2& e) {
        return e.GetMessage();
    }
    return "no exception";
}

// Reports 48SRGB but is not a pixmap of that class.
class Impostor : public KPixmap {
public:
    Impostor(void* data) : KPixmap(data, 4, 4, 24) {}
    int GetPixelType() const override { return kPixelType48SRGB; }
};

}  // namespace

TEST(SubsampledAverage, GridStartsAtHalfTheStep)
{
    OwnedPixmap<KPixelClass48SRGB> image(8, 8);
    image.Fill(0);
    // Step 4 visits (2, 2), (6, 2), (2, 6), (6, 6).
    const int marks[4][2] = {{2, 2}, {6, 2}, {2, 6}, {6, 6}};
    for (int i = 0; i < 4; ++i) {
        image.At(marks[i][0], marks[i][1], 0) = KInt16(100 * (i + 1));
        image.At(marks[i][0], marks[i][1], 2) = -8;
    }
    const KColorTriple m = SubsampledColorAverage(image.Get(), 4);
    EXPECT_EQ(m, (KColorTriple{250, 0, -8}));
    // Step 0 and negative steps average every pixel.
    EXPECT_EQ(SubsampledColorAverage(image.Get(), 0), (KColorTriple{1000.0 / 64, 0, -32.0 / 64}));
    EXPECT_EQ(SubsampledColorAverage(image.Get(), -3), SubsampledColorAverage(image.Get(), 1));
    // Fewer rows or columns than step / 2 + 1: no grid point.
    OwnedPixmap<KPixelClass48SRGB> small(2, 9);
    small.Fill(5);
    EXPECT_EQ(SubsampledColorAverage(small.Get(), 4), (KColorTriple{0, 0, 0}));
    EXPECT_EQ(SubsampledColorAverage(small.Get(), 3), (KColorTriple{5, 5, 5}));
}

TEST(SubsampledAverage, EveryPixelType)
{
    OwnedPixmap<KPixelClass24RGB> rgb24(3, 3);
    FillWith(rgb24, KRGBTriple(200, 100, 50));
    EXPECT_EQ(SubsampledColorAverage(rgb24.Get(), 1), (KColorTriple{200, 100, 50}));
    OwnedPixmap<KPixelClass30RGBL> rgbl(3, 3);
    FillWith(rgbl, KRGBTriple(2047, 1029, 6));
    EXPECT_EQ(SubsampledColorAverage(rgbl.Get(), 1), (KColorTriple{2047, 1029, 6}));
    OwnedPixmap<KPixelClass30RGB> rgb30(3, 3);
    FillWith(rgb30, KRGBTriple(2047, 1029, 7));  // blue keeps 10 bits: 6
    EXPECT_EQ(SubsampledColorAverage(rgb30.Get(), 1), (KColorTriple{2047, 1029, 6}));
    OwnedPixmap<KPixelClass48RGB> rgb48(3, 3);
    FillWith(rgb48, KRGBTriple(65535, 1, 40000));
    EXPECT_EQ(SubsampledColorAverage(rgb48.Get(), 2), (KColorTriple{65535, 1, 40000}));
    OwnedPixmap<KPixelClass48SRGB> signed48(3, 3);
    FillWith(signed48, KRGBTriple(-100, -1, 3));
    EXPECT_EQ(SubsampledColorAverage(signed48.Get(), 1), (KColorTriple{-100, -1, 3}));
    // 48BGR holds B, G, R; the result is R, G, B, and the words are unsigned.
    OwnedPixmap<KPixelClass48BGR> bgr(2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            bgr.At(x, y, 0) = 1;
            bgr.At(x, y, 1) = 2;
            bgr.At(x, y, 2) = 3;
        }
    EXPECT_EQ(SubsampledColorAverage(bgr.Get(), 1), (KColorTriple{3, 2, 1}));
    bgr.At(0, 0, 0) = 0xFFFF;
    EXPECT_EQ(SubsampledAverage(*bgr.Get(), 0)[2], (65535.0 + 3) / 4);
}

TEST(SubsampledAverage, FlareAndErrors)
{
    OwnedPixmap<KPixelClass48SRGB> image(8, 8);
    image.Fill(1000);
    EXPECT_EQ(CalculateFlare(image.Get(), {0.01, 0.5, 0}), (KColorTriple{10, 500, 0}));

    OwnedPixmap<KPixelClass8Mono> mono(4, 4);
    EXPECT_EQ(AverageError(mono.Get()), "SubsampledColorAverage: Unknown pixel type");
    EXPECT_EQ(AverageError(nullptr), "SubsampledColorAverage: Unknown pixel type");
    Impostor impostor(image.Get()->GetData());
    EXPECT_EQ(AverageError(&impostor), "SubsampledAverage: input pixmap ptr is not specified type");
}
