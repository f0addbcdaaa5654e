#include <gtest/gtest.h>

#include <cstring>

#include "KCache.h"
#include "KCachedPixmap.h"
#include "KIHistogram.h"
#include "KImage.h"
#include "KPMImage2.h"
#include "KPixmapExceptions.h"
#include "KPropTree.h"

TEST(KImage, RowBytesFollowTheAlignment)
{
    struct Case {
        int width, height, type, alignment, rowBytes;
    };
    const Case cases[] = {{5, 2, 7, 4, 16}, {5, 2, 7, 1, 15}, {5, 2, 7, 0, 15}, {3, 1, 15, 8, 24}, {4, 4, 13, 4, 16}};
    for (const Case& c : cases) {
        KImage* image = new KImage(c.width, c.height, c.type, c.alignment);
        KPixmap* pixmap = image->GetPixmap();
        EXPECT_EQ(pixmap->GetRowBytes(), c.rowBytes);
        EXPECT_EQ(pixmap->GetPixelType(), c.type);
        EXPECT_EQ(image->GetPixelType(), c.type);
        EXPECT_EQ(pixmap->GetWidth(), c.width);
        EXPECT_EQ(pixmap->GetHeight(), c.height);
        // The whole of row bytes x height is the image's to write (ASan checks it).
        std::memset(pixmap->GetData(), 0x5A, static_cast<size_t>(c.rowBytes) * c.height);
        image->Release();
    }
}

TEST(KImage, UnknownTypeAndBadSizesAreRefused)
{
    for (int type : {0, 18}) {
        try {
            KImage image(5, 2, type, 4);
            ADD_FAILURE() << type;
        } catch (const KExceptionUnknownPixelType& e) {
            EXPECT_STREQ(e.GetMessage(), "KImage::GetBytesPerPixel()");
        }
    }
    EXPECT_THROW(KImage(-1, 2, 7, 4), KException);
    EXPECT_THROW(KImage(0x7FFFFFFF, 1, 15, 1), KException);
    EXPECT_THROW(KImage(65536, 65536 * 64, 15, 1), KException);
}

TEST(KImage, SameGeometryPropertiesAndReleaseOnLastReference)
{
    KImage* a = new KImage(8, 4, 15, 4);
    KImage* b = new KImage(8, 4, 15, 1);
    KImage* c = new KImage(8, 4, 16, 4);
    KImage* d = new KImage(8, 5, 15, 4);
    EXPECT_TRUE(a->SameGeometry(*b));  // row alignment does not count
    EXPECT_FALSE(a->SameGeometry(*c));
    EXPECT_FALSE(a->SameGeometry(*d));
    a->SetProperty("ISO", "200");
    EXPECT_STREQ(a->GetProperty("ISO", ""), "200");
    a->AddRef();
    EXPECT_EQ(a->GetRefCount(), 2);
    a->Release();
    EXPECT_EQ(a->GetRefCount(), 1);
    for (KImage* image : {a, b, c, d})
        image->Release();  // LeakSanitizer reports any image left behind
}

namespace {
int g_FreedBlocks = 0;
void CountFreedBlock(KICacheObject*) { ++g_FreedBlocks; }

// A display image of 4 x 2 grey pixels at level `level` in a block of its own cache.
KICacheObject* MakeDisplayBlock(KCache& cache, const KWChar* label, uint8_t level)
{
    KICacheObject* block = cache.Allocate(label, GetKCachedPixmapBlockSize(13, 4, 2));
    if (block == nullptr)
        return nullptr;
    block->SetFreeCallback(CountFreedBlock);
    KPixmap* pixmap = MapKCachedPixmap(block->GetData(), 13, 4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            KPixelClass32BGRA::SetRGB(pixmap->GetRow(y) + 4 * x, KRGBTriple(level, level, level));
    return block;
}

// A handle over a new display block, made as the manager makes it: the maker's own lock is given back, so the
// handle's lock alone keeps the block.
KPMImage2* MakeHandle(KCache& cache, const KWChar* label, uint8_t level, KICacheObject** blockOut = nullptr)
{
    KICacheObject* block = MakeDisplayBlock(cache, label, level);
    if (block == nullptr)
        return nullptr;
    KPMImage2* image = new KPMImage2(block);
    block->Unlock();
    if (blockOut != nullptr)
        *blockOut = block;
    return image;
}
}  // namespace

TEST(KPMImage2, KeepsItsCacheBlockLockedUntilTheLastRelease)
{
    KCache cache;
    g_FreedBlocks = 0;
    KICacheObject* block = nullptr;
    KPMImage2* image = MakeHandle(cache, u"preview", 9, &block);
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(cache.SetMaxSize(0));
    EXPECT_TRUE(cache.Exists(u"preview", 0));
    EXPECT_EQ(image->GetPixmap(), GetKCachedPixmapRecord(block->GetData())->m_pPixmap);
    EXPECT_EQ(image->GetPixmap()->GetWidth(), 4);

    image->AddRef();
    image->Release();
    EXPECT_TRUE(cache.Exists(u"preview", 0));
    image->Release();  // count 1 -> 0: unlocks the block and deletes the handle
    EXPECT_FALSE(cache.Exists(u"preview", 0));
    EXPECT_EQ(g_FreedBlocks, 1);
}

TEST(KPMImage2, HistogramIsMadeOnFirstRequestAndRecountedAfter)
{
    KCache cache;
    KPMImage2* image = MakeHandle(cache, u"processed", 200);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetHistogramPointer(), nullptr);
    image->ComputeHistogram();
    KIHistogram* histogram = image->GetHistogramPointer();
    ASSERT_NE(histogram, nullptr);
    EXPECT_EQ(histogram->GetPixelCount(), 8u);
    EXPECT_EQ(histogram->GetChannelTable()[200].green, 8u);
    EXPECT_EQ(histogram->GetLuminanceTable()[200], 8u);

    KPixelClass32BGRA::SetRGB(image->GetPixmap()->GetRow(1), KRGBTriple(0, 0, 0));
    image->ComputeHistogram();
    EXPECT_EQ(image->GetHistogramPointer(), histogram);  // the same histogram, recounted
    EXPECT_EQ(histogram->GetChannelTable()[200].green, 7u);
    EXPECT_EQ(histogram->GetLuminanceTable()[0], 1u);
    image->Release();
}

TEST(KPMImage2, PropertiesAreOwnedAndReplaced)
{
    KCache cache;
    KPMImage2* image = MakeHandle(cache, u"thumb", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetProps(), nullptr);
    KPropTree* first = new KPropTree(nullptr, "Props");
    image->SetProps(first);
    EXPECT_EQ(image->GetProps(), first);
    image->SetProps(first);  // the same tree again: kept, not freed
    EXPECT_EQ(image->GetProps(), first);
    image->SetProps(new KPropTree(nullptr, "Props"));  // the first is deleted (LeakSanitizer)
    image->SetProps(nullptr);
    EXPECT_EQ(image->GetProps(), nullptr);
    image->SetProps(new KPropTree(nullptr, "Props"));
    image->Release();  // deletes the tree with the handle
}
