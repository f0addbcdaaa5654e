#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "KDataMatrix.h"
#include "KPixmap.h"
#include "KPixmapExceptions.h"

TEST(KPixelTypes, BytesPerPixelOfEveryCode)
{
    const int expected[] = {0, 1, 2, 2, 2, 4, 3, 3, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 0};
    for (int type = 0; type <= 18; ++type)
        EXPECT_EQ(KPixelTypeBytes(type), expected[type]) << "type " << type;
    EXPECT_EQ(KPixelTypeBytes(-1), 0);
    EXPECT_EQ(KPixelClass48SRGB::kPixelType, 16);
    EXPECT_EQ(KPixelClass30BGRL::kBytesPerPixel, 4);
}

TEST(KPixmap, SizesRoundRowsUpToFourBytes)
{
    struct Case {
        int type, width, rowBytes;
    };
    const Case cases[] = {
        {7, 5, 16}, {13, 5, 20}, {1, 1, 4}, {1, 0, 0}, {1, 4, 4}, {15, 3, 20}, {2, 3, 8}, {6, 4, 12},
    };
    for (const Case& c : cases) {
        int32_t header = -1, rowBytes = -1;
        GetKPixmapSizes(c.type, c.width, 123, header, rowBytes);
        EXPECT_EQ(rowBytes, c.rowBytes) << "type " << c.type << " width " << c.width;
        EXPECT_EQ(header, static_cast<int32_t>(sizeof(KPixmapTemplate<KPixelClass24RGB>)));
    }
}

TEST(KPixmap, UnknownTypesAndAbsurdWidthsAreRefused)
{
    for (int type : {0, 18, -3}) {
        int32_t header = 0, rowBytes = 0;
        try {
            GetKPixmapSizes(type, 5, 5, header, rowBytes);
            ADD_FAILURE() << "type " << type;
        } catch (const KException& e) {
            EXPECT_STREQ(e.GetMessage(), "GetKPixmapSizes: unknown pixmap type.");
        }
        alignas(KPixmap) unsigned char memory[sizeof(KPixmapTemplate<KPixelClass8Mono>)];
        try {
            MapKPixmapHeader(memory, type, 5, 5, 0, nullptr);
            ADD_FAILURE() << "type " << type;
        } catch (const KException& e) {
            EXPECT_STREQ(e.GetMessage(), "MapKPixmapHeader: unknown pixmap type.");
        }
    }
    int32_t header = 0, rowBytes = 0;
    EXPECT_THROW(GetKPixmapSizes(15, -1, 1, header, rowBytes), KException);
    EXPECT_THROW(GetKPixmapSizes(15, 0x7FFFFFFF, 1, header, rowBytes), KException);
}

TEST(KPixmap, MappedHeaderDescribesTheRowsThatFollowIt)
{
    // A cache-held pixmap: header, then height x rowBytes of rows, in one block.
    for (int type = kFirstPixelType; type <= kLastPixelType; ++type) {
        int32_t header = 0, rowBytes = 0;
        GetKPixmapSizes(type, 7, 3, header, rowBytes);
        std::vector<uint64_t> block((header + 3 * rowBytes + 7) / 8);
        uint8_t* bytes = reinterpret_cast<uint8_t*>(block.data());
        KPixmap* pixmap = MapKPixmapHeader(bytes, type, 7, 3, rowBytes, bytes + header);
        EXPECT_EQ(static_cast<void*>(pixmap), static_cast<void*>(bytes));
        EXPECT_EQ(pixmap->GetPixelType(), type);
        EXPECT_EQ(pixmap->GetBytesPerPixel(), KPixelTypeBytes(type));
        EXPECT_EQ(pixmap->GetWidth(), 7);
        EXPECT_EQ(pixmap->GetHeight(), 3);
        EXPECT_EQ(pixmap->GetRowBytes(), rowBytes);
        EXPECT_EQ(pixmap->GetRow(2), bytes + header + 2 * rowBytes);
        std::memset(pixmap->GetRow(0), 0xAB, 3 * rowBytes);  // all rows lie inside the block
    }
}

TEST(KPixmap, MapWithZeroRowBytesUsesTheUnroundedRow)
{
    alignas(KPixmap) unsigned char memory[sizeof(KPixmapTemplate<KPixelClass8Mono>)];
    uint8_t data[64];
    KPixmap* pixmap = MapKPixmapHeader(memory, 7, 5, 2, 0, data);
    EXPECT_EQ(pixmap->GetRowBytes(), 15);
    EXPECT_EQ(pixmap->GetData(), data);
    EXPECT_EQ(pixmap->GetPixelType(), 7);
}

TEST(KPixmap, TemplatesGiveTheirClassCode)
{
    uint8_t data[16];
    std::unique_ptr<KPixmap> p(new KPixmapTemplate<KPixelClass32BGRA>(data, 2, 2, 8));
    EXPECT_EQ(p->GetPixelType(), 13);
    EXPECT_EQ(KPixmapTemplate<KPixelClass48BGR>::kPixelType, 17);
    EXPECT_EQ(KPixmapTemplate<KPixelClass12Mono>(data, 1, 1, 4).GetPixelType(), 2);
}

TEST(KDataMatrix, ElementTypesAndColumnMajorLayout)
{
    KDataMatrixTemplate<FloatClass> f(3, 2, KWString(u"TABLE"));
    KDataMatrixTemplate<Int32Class> i(1, 1);
    KDataMatrixTemplate<Int16Class> s(65536, 3);
    EXPECT_EQ(f.GetElementType(), 0);
    EXPECT_EQ(i.GetElementType(), 1);
    EXPECT_EQ(s.GetElementType(), 2);
    EXPECT_TRUE(f.GetName() == KWString(u"TABLE"));
    EXPECT_TRUE(f.OwnsData());
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(f.At(r, c), 0.0);  // owned elements start at zero
    f.At(2, 1) = 4.5;
    EXPECT_EQ(f.Elements()[2 + 1 * 3], 4.5);
    s.At(65535, 2) = -7;
    EXPECT_EQ(s.Elements()[65535 + 2 * 65536], -7);
    EXPECT_THROW(KDataMatrixTemplate<FloatClass>(-1, 2), KException);
}

TEST(KDataMatrix, BorrowedDataIsLeftUntouched)
{
    int16_t table[6] = {1, 2, 3, 4, 5, 6};
    {
        auto* m = new KDataMatrixTemplate<Int16Class>(2, 3, table, KWString(u"LUT"));
        EXPECT_FALSE(m->OwnsData());
        EXPECT_EQ(m->At(1, 2), 6);
        KIDataMatrix* base = m;
        delete base;  // through the base, as the engine's parameter list does
    }
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[5], 6);
}
