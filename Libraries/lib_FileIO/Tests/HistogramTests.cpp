#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "KCachedPixmap.h"
#include "KIHistogram.h"
#include "KPixmapExceptions.h"

namespace {
// A 32BGRA pixmap with padded rows; pixels given as {r, g, b}.
struct BgraImage {
    BgraImage(int w, int h) : data(static_cast<size_t>(h) * (w * 4 + 8), 0xEE), pixmap(data.data(), w, h, w * 4 + 8) {}
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b)
    {
        KPixelClass32BGRA::SetRGB(pixmap.GetRow(y) + 4 * x, KRGBTriple(r, g, b));
    }
    std::vector<uint8_t> data;
    KPixmapTemplate<KPixelClass32BGRA> pixmap;
};
}  // namespace

TEST(KIHistogram, CountsChannelsLuminanceAndPixels)
{
    BgraImage image(3, 2);
    image.Set(0, 0, 255, 255, 255);  // luminance 255
    image.Set(1, 0, 1, 0, 0);        // 0.3 + 0.5 = 0.8: luminance 0
    image.Set(2, 0, 0, 0, 255);      // 38.25 + 0.5: 38
    image.Set(0, 1, 10, 20, 30);     // 3 + 11 + 4.5 + 0.5 = 19
    image.Set(1, 1, 10, 20, 30);
    image.Set(2, 1, 0, 255, 0);      // 140.25 + 0.5: 140
    KIHistogram h;
    h.Count(image.pixmap);
    EXPECT_EQ(h.GetPixelCount(), 6u);
    const auto* c = h.GetChannelTable();
    EXPECT_EQ(c[255].red, 1u);
    EXPECT_EQ(c[255].green, 2u);
    EXPECT_EQ(c[255].blue, 2u);
    EXPECT_EQ(c[10].red, 2u);
    EXPECT_EQ(c[20].green, 2u);
    EXPECT_EQ(c[30].blue, 2u);
    EXPECT_EQ(c[0].red, 2u);  // the padding bytes between rows are not counted
    const uint32_t* l = h.GetLuminanceTable();
    EXPECT_EQ(l[255], 1u);
    EXPECT_EQ(l[0], 1u);
    EXPECT_EQ(l[38], 1u);
    EXPECT_EQ(l[19], 2u);
    EXPECT_EQ(l[140], 1u);
    uint32_t total = 0, red = 0;
    for (int v = 0; v < 256; ++v) {
        total += l[v];
        red += c[v].red;
    }
    EXPECT_EQ(total, 6u);
    EXPECT_EQ(red, 6u);
}

TEST(KIHistogram, RecountStartsFromZeroAndOtherTypesAreRefused)
{
    BgraImage image(2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            image.Set(x, y, 7, 7, 7);
    KIHistogram h;
    EXPECT_EQ(h.GetChannelTable()[0].red, 0u);  // a new histogram is empty
    h.Count(image.pixmap);
    h.Count(image.pixmap);
    EXPECT_EQ(h.GetChannelTable()[7].red, 4u);
    EXPECT_EQ(h.GetLuminanceTable()[7], 4u);

    std::vector<uint8_t> rgb(16);
    KPixmapTemplate<KPixelClass24RGB> wrong(rgb.data(), 2, 2, 8);
    EXPECT_THROW(h.Count(wrong), KExceptionUnknownPixelType);
    EXPECT_EQ(h.GetPixelCount(), 4u);
    EXPECT_EQ(h.GetChannelTable()[7].red, 4u);
}

TEST(KCachedPixmap, RecordThenHeaderThenRowsInOneBlock)
{
    const uint32_t size = GetKCachedPixmapBlockSize(13, 5, 3);
    int32_t header = 0, rowBytes = 0;
    GetKPixmapSizes(13, 5, 3, header, rowBytes);
    EXPECT_EQ(size, sizeof(KCachedPixmapRecord) + header + 3u * rowBytes);
    std::vector<uint64_t> block((size + 7) / 8);
    KPixmap* pixmap = MapKCachedPixmap(block.data(), 13, 5, 3);
    EXPECT_EQ(GetKCachedPixmapRecord(block.data())->m_pPixmap, pixmap);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(block.data());
    EXPECT_EQ(reinterpret_cast<uint8_t*>(pixmap), bytes + sizeof(KCachedPixmapRecord));
    EXPECT_EQ(pixmap->GetRow(3), bytes + size);  // the rows end with the block
    EXPECT_EQ(pixmap->GetPixelType(), 13);
    EXPECT_THROW(GetKCachedPixmapBlockSize(48, 5, 3), KException);
    EXPECT_THROW(GetKCachedPixmapBlockSize(15, 65500, 65500), KException);
}
