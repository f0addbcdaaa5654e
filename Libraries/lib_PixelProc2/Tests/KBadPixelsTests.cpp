#include <gtest/gtest.h>

#include <vector>

#include "KBadPixels.h"
#include "RawStageTestSupport.h"

using rawstage::Image;

namespace {

KUInt32 Entry(KUInt32 row, KUInt32 column, KUInt32 mask)
{
    return row << 20 | column << 8 | mask;
}

// Every pixel distinct: red 100 x y + x, green its negative, blue 7.
Image Numbered(int width, int height)
{
    Image image(width, height);
    image.FillBy([](int x, int y, int c) { return c == 2 ? 7 : c == 0 ? 100 * y + x : -(100 * y + x); });
    return image;
}

bool Same(const Image& a, const Image& b)
{
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x)
            if (a.Row(y)[x] != b.Row(y)[x])
                return false;
    return true;
}

}  // namespace

TEST(BadPixels, EntriesThatAreSkipped)
{
    // 8 x 6: rows 2..4 and columns 2..6 can be repaired.
    const Image original = Numbered(8, 6);
    const KUInt32 skipped[] = {Entry(3, 3, 0),    Entry(1, 3, 0xFF), Entry(3, 1, 0xFF), Entry(5, 3, 0xFF),
                               Entry(3, 7, 0xFF), Entry(0, 0, 0xFF), Entry(4095, 4095, 0xFF)};
    for (KUInt32 e : skipped) {
        Image image = Numbered(8, 6);
        FixBadPixels(image.Get(), &e, 1, nullptr);
        EXPECT_TRUE(Same(image, original)) << std::hex << e;
    }
    // An offset that moves an entry above the image is skipped too (negative positions compare as unsigned).
    Image image = Numbered(8, 6);
    const KUInt32 e = Entry(3, 3, 0xFF);
    const KPoint up{0, -4};
    FixBadPixels(image.Get(), &e, 1, &up);
    EXPECT_TRUE(Same(image, original));
    // The last repairable row and column.
    const KUInt32 corner = Entry(4, 6, 16 | 64);
    FixBadPixels(image.Get(), &corner, 1, nullptr);
    EXPECT_EQ(image.At(6, 4, 0), (407 + 506) / 2);
}

TEST(BadPixels, MaskedNeighboursAreAveragedTowardZero)
{
    Image image = Numbered(8, 6);
    const KUInt32 right = Entry(3, 3, 16);
    FixBadPixels(image.Get(), &right, 1, nullptr);
    EXPECT_EQ(image.At(3, 3, 0), 304);
    EXPECT_EQ(image.At(3, 3, 1), -304);
    EXPECT_EQ(image.At(3, 3, 2), 7);

    // Red 1, 2, 2 over three neighbours gives 1; the negatives give -1.
    image.Fill(0);
    image.At(2, 2, 0) = 1;  // up-left
    image.At(3, 2, 0) = 2;  // up
    image.At(4, 4, 0) = 2;  // down-right
    image.At(2, 2, 1) = -1;
    image.At(3, 2, 1) = -2;
    image.At(4, 4, 1) = -2;
    image.At(3, 3, 0) = 999;
    const KUInt32 three = Entry(3, 3, 1 | 2 | 128);
    FixBadPixels(image.Get(), &three, 1, nullptr);
    EXPECT_EQ(image.At(3, 3, 0), 1);
    EXPECT_EQ(image.At(3, 3, 1), -1);
}

TEST(BadPixels, ListOrderAndPositionOffset)
{
    Image image = Numbered(10, 8);
    // Sensor positions 2 columns and 1 row off the image: (5, 4) and (6, 4) on the sensor are (3, 3) and (4, 3).
    const KUInt32 list[] = {Entry(4, 5, 16), Entry(4, 6, 8)};
    const KPoint offset{-2, -1};
    FixBadPixels(image.Get(), list, 2, &offset);
    EXPECT_EQ(image.At(3, 3, 0), 304);
    EXPECT_EQ(image.At(4, 3, 0), 304);  // its left neighbour, already repaired
}

TEST(BadPixels, APixelOnThePicturesEdgeIsRepairedFromThePicture)
{
    // A grey picture (columns 3-9, rows 3-7) inside dark shields. Its hot pixels on its edges are repaired from
    // their neighbours inside it, not from the shields; a pixel whose selected neighbours all lie outside, and a
    // pixel of the shields, keep the plain rule.
    Image image(12, 10);
    const KRect picture(3, 3, 10, 8);
    image.FillBy([&](int x, int y, int) {
        return x >= picture.left && x < picture.right && y >= picture.top && y < picture.bottom ? 1000 : -10;
    });
    const KUInt32 cross = 2 | 8 | 16 | 64;  // up, left, right, down
    struct Case {
        KUInt32 entry;
        int x, y;
        int repaired;
    } cases[] = {
        {Entry(3, 3, cross), 3, 3, 1000},  // corner: right and down
        {Entry(7, 6, cross), 6, 7, 1000},  // last row: left, right and up
        {Entry(5, 9, cross), 9, 5, 1000},  // last column
        {Entry(3, 5, 1), 5, 3, -10},       // only the shield above-left selected
        {Entry(5, 2, cross), 2, 5, (-10 - 10 - 10 + 1000) / 4},  // in the shield
    };
    for (const Case& c : cases) {
        for (int ch = 0; ch < 3; ++ch)
            image.Row(c.y)[c.x * 3 + ch] = 4000;
        FixBadPixels(image.Get(), &c.entry, 1, nullptr, &picture);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(image.At(c.x, c.y, ch), c.repaired) << c.x << "," << c.y;
        for (int ch = 0; ch < 3; ++ch)
            image.Row(c.y)[c.x * 3 + ch] = picture.left <= c.x && c.x < picture.right && c.y >= picture.top ? 1000 : -10;
    }
    // Without the picture the shields count: the corner becomes (2 x -10 + 2 x 1000) / 4.
    const KUInt32 corner = Entry(3, 3, cross);
    image.Row(3)[9] = 4000;
    FixBadPixels(image.Get(), &corner, 1, nullptr);
    EXPECT_EQ(image.At(3, 3, 0), (2 * -10 + 2 * 1000) / 4);
}
