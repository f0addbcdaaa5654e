// The cache blocks of previews, stage results, the tone LUT and the capture properties.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "KCache.h"
#include "KMemoryAllocator.h"
#include "KMutex.h"
#include "KPixelTypes.h"
#include "KPropTree.h"
#include "Manager/KStageBlocks.h"

namespace {

// An allocator whose blocks move to fresh memory at every Lock (as a compacting allocator's may between uses).
class MovingAllocator : public KIMemoryAllocator {
public:
    struct Handle {
        void* m_pBytes;
        size_t m_Size;
    };
    void* Allocate(size_t size) override { return new Handle{std::malloc(size), size}; }
    void Free(void* block) override
    {
        auto* h = static_cast<Handle*>(block);
        std::free(h->m_pBytes);
        delete h;
    }
    void* Lock(void* block) override
    {
        auto* h = static_cast<Handle*>(block);
        void* moved = std::malloc(h->m_Size);
        std::memcpy(moved, h->m_pBytes, h->m_Size);
        std::memset(h->m_pBytes, 0xEE, h->m_Size);
        std::free(h->m_pBytes);
        h->m_pBytes = moved;
        return moved;
    }
    bool IsMovable() override { return false; }
};

}  // namespace

TEST(StageBlocks, PixmapBlockIsMadeOnceAndFoundUnderItsLabel)
{
    KCache cache;
    const KWString label(u"f-ID-Stage3-x");
    KICacheObject* made = FindOrMakePixmapBlock(cache, label, kPixelType48SRGB, 5, 3);
    ASSERT_NE(made, nullptr);
    KCachedPixmapRecord& record = PixmapRecord(made);
    EXPECT_EQ(record.m_Complete, 0);
    EXPECT_EQ(record.m_pTemporary, nullptr);
    ASSERT_NE(record.m_pMutex, nullptr);
    ASSERT_NE(record.m_pPixmap, nullptr);
    EXPECT_EQ(record.m_pPixmap->GetPixelType(), kPixelType48SRGB);
    EXPECT_EQ(record.m_pPixmap->GetWidth(), 5);
    record.m_Complete = 1;
    record.m_Words[4] = 77;
    GetBlockTemporary(record, 5, 7);
    made->Unlock();

    KICacheObject* found = FindOrMakePixmapBlock(cache, label, kPixelType48SRGB, 5, 3);
    EXPECT_EQ(found, made);
    EXPECT_EQ(PixmapRecord(found).m_Complete, 1);
    EXPECT_EQ(PixmapRecord(found).m_Words[4], 77);
    found->Unlock();

    // Another geometry under the same label: the old block loses its label (and, held by nobody, goes at
    // once), a new one is made.
    KICacheObject* other = FindOrMakePixmapBlock(cache, label, kPixelType16SMono, 5, 3);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(PixmapRecord(other).m_Complete, 0);
    const std::vector<KWString> labels = cache.List();
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_TRUE(labels[0] == label);
    other->Unlock();
    // Evicting both runs their free callbacks (mutex and scratch pixmap; the sanitizer sees any leak).
    EXPECT_TRUE(cache.SetMaxSize(0));
}

TEST(StageBlocks, TheScratchPixmapGrowsWhenTooSmall)
{
    KCache cache;
    KICacheObject* block = FindOrMakePixmapBlock(cache, KWString(u"s"), kPixelType48SRGB, 8, 8);
    ASSERT_NE(block, nullptr);
    KCachedPixmapRecord& record = PixmapRecord(block);
    KPixmap* five = GetBlockTemporary(record, 8, 5);
    EXPECT_EQ(five->GetPixelType(), kPixelType48SRGB);
    EXPECT_EQ(GetBlockTemporary(record, 8, 3), five);
    KPixmap* seven = GetBlockTemporary(record, 8, 7);
    EXPECT_EQ(seven->GetHeight(), 7);
    block->Unlock();
}

TEST(StageBlocks, RelocatedBlocksMapTheirPixmapAndLUTAgain)
{
    MovingAllocator allocator;
    KCache cache(&allocator);
    KICacheObject* pixmapBlock = FindOrMakePixmapBlock(cache, KWString(u"p"), kPixelType32BGRA, 3, 2);
    KICacheObject* lutBlock = FindOrMakeLUTBlock(cache, KWString(u"ToneLUT-x"));
    ASSERT_NE(pixmapBlock, nullptr);
    ASSERT_NE(lutBlock, nullptr);
    PixmapRecord(pixmapBlock).m_pPixmap->GetRow(1)[4] = 99;
    LUTRecord(lutBlock).m_pData[65536 * 2 + 5] = 1234;
    pixmapBlock->Unlock();
    lutBlock->Unlock();

    pixmapBlock->Lock();  // moves the bytes
    lutBlock->Lock();
    uint8_t* data = static_cast<uint8_t*>(pixmapBlock->GetData());
    const KPixmap* pixmap = PixmapRecord(pixmapBlock).m_pPixmap;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(pixmap), data + sizeof(KCachedPixmapRecord));
    EXPECT_EQ(pixmap->GetWidth(), 3);
    EXPECT_EQ(pixmap->GetRow(1)[4], 99);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(LUTRecord(lutBlock).m_pData),
              static_cast<uint8_t*>(lutBlock->GetData()) + sizeof(KCachedLUTRecord));
    EXPECT_EQ(LUTRecord(lutBlock).m_pData[65536 * 2 + 5], 1234);
    EXPECT_EQ(LUTRecord(lutBlock).m_ThreeChannels, 1);
    pixmapBlock->Unlock();
    lutBlock->Unlock();
    EXPECT_TRUE(cache.SetMaxSize(0));
}

TEST(StageBlocks, PropertiesBlockOwnsItsTreeAndFullCacheRefuses)
{
    KCache cache;
    auto* tree = new KPropTree(nullptr, "f");
    tree->AddPair("ROTATION", "90");
    KICacheObject* block = MakePropertiesBlock(cache, KWString(u"f-ID-Properties"), tree);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->GetSize(), sizeof(KPropTree*));
    EXPECT_EQ(GetPropertiesBlockTree(block), tree);
    block->Unlock();
    EXPECT_TRUE(cache.SetMaxSize(0));  // the tree goes with the block

    cache.SetMaxSize(1000);
    EXPECT_EQ(FindOrMakePixmapBlock(cache, KWString(u"big"), kPixelType48SRGB, 100, 100), nullptr);
    EXPECT_EQ(FindOrMakeLUTBlock(cache, KWString(u"ToneLUT-big")), nullptr);
    KICacheObject* small = MakePropertiesBlock(cache, KWString(u"x"), new KPropTree(nullptr, "x"));
    ASSERT_NE(small, nullptr);
    small->Unlock();
    EXPECT_TRUE(cache.SetMaxSize(0));
}
