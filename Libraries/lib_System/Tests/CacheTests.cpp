#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KCache.h"
#include "KDebug.h"
#include "KMemoryAllocator.h"

namespace {

constexpr KUInt32 kOverhead = 56;

// Counts the free callbacks per label.
std::vector<std::u16string>& Freed()
{
    static std::vector<std::u16string> freed;
    return freed;
}

void RecordFree(KICacheObject* object)
{
    Freed().push_back(object->GetLabel());
}

// A cache whose limit holds exactly `blocks` blocks of `size` bytes.
KUInt32 LimitFor(int blocks, KUInt32 size)
{
    return static_cast<KUInt32>(blocks) * (size + kOverhead) + 1;
}

// Blocks that can move, or fail to come.
class TestAllocator : public KIMemoryAllocator {
public:
    struct Block {
        void* bytes;
        size_t size;
    };
    bool movable = false;
    bool moveOnLock = false;
    bool fail = false;
    int blocks = 0;

    void* Allocate(size_t size) override
    {
        if (fail)
            return nullptr;
        ++blocks;
        return new Block{std::malloc(size), size};
    }
    void Free(void* block) override
    {
        auto* b = static_cast<Block*>(block);
        std::free(b->bytes);
        delete b;
        --blocks;
    }
    void* Lock(void* block) override
    {
        auto* b = static_cast<Block*>(block);
        if (moveOnLock) {
            void* moved = std::malloc(b->size);
            std::memcpy(moved, b->bytes, b->size);
            std::free(b->bytes);
            b->bytes = moved;
        }
        return b->bytes;
    }
    bool IsMovable() override { return movable; }
};

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override { Freed().clear(); }
};

}  // namespace

TEST_F(CacheTest, DefaultLimitBoundary)
{
    KCache cache;
    EXPECT_EQ(cache.GetMaxSize(), 104857600u);
    KTraceCapture capture;
    EXPECT_EQ(cache.Allocate(u"A", 104857544), nullptr) << "size + 56 must stay below the limit";
    EXPECT_TRUE(capture.Contains("Cache is full! Label = 'A' Size Requested = 104857544\nKCache debug dump:\n"
                                 "Cache size: 104857600\nIn use: 0\n=========================\n"
                                 "=========================\n"))
        << capture.Text();
    EXPECT_TRUE(cache.List().empty());
    KICacheObject* block = cache.Allocate(u"A", 104857543);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->GetSize(), 104857543u);
    EXPECT_NE(block->GetData(), nullptr);
    block->Unlock();
}

TEST_F(CacheTest, FitTestIsDoneIn64Bits)
{
    KCache cache;
    cache.SetMaxSize(0xFFFFFFFF);
    KTraceCapture capture;
    // 0xFFFFFFF0 + 56 wraps to 40 in 32 bits, which would look like a fit.
    EXPECT_EQ(cache.Allocate(u"huge", 0xFFFFFFF0), nullptr);
    EXPECT_TRUE(capture.Contains("Size Requested = 4294967280\n"));
}

TEST_F(CacheTest, EvictsLowestPriorityThenOldestAndNeverTheTopPriority)
{
    const KUInt32 size = 100;
    KCache cache;
    cache.SetMaxSize(LimitFor(3, size));
    struct Block {
        const char16_t* label;
        KUInt32 priority;
    } blocks[] = {{u"p5", 5}, {u"p3-old", 3}, {u"p3-new", 3}};
    for (const Block& b : blocks) {
        KICacheObject* o = cache.Allocate(b.label, size);
        ASSERT_NE(o, nullptr);
        o->SetPriority(b.priority);
        o->SetFreeCallback(RecordFree);
        o->Unlock();
    }
    KICacheObject* n1 = cache.Allocate(u"n1", size);
    KICacheObject* n2 = cache.Allocate(u"n2", size);
    ASSERT_NE(n1, nullptr);
    ASSERT_NE(n2, nullptr);
    n1->Unlock();
    n2->Unlock();
    EXPECT_EQ(Freed(), (std::vector<std::u16string>{u"p3-old", u"p3-new"}));
    EXPECT_EQ(cache.List(), (std::vector<KWString>{KWString(u"p5"), KWString(u"n1"), KWString(u"n2")}));

    // A block that nobody may evict stays, and a new block then does not fit.
    KCache keep;
    keep.SetMaxSize(LimitFor(1, size));
    KICacheObject* top = keep.Allocate(u"top", size);
    top->SetPriority(0xFFFFFFFF);
    top->Unlock();
    KTraceCapture capture;
    EXPECT_EQ(keep.Allocate(u"other", size), nullptr);
    EXPECT_TRUE(capture.Contains("Entry 0: 'top' size 100 ptr 0x"));
    EXPECT_TRUE(capture.Contains(" refcount 0 priority -1\n"));
    EXPECT_TRUE(keep.Exists(u"top", size));
    EXPECT_FALSE(keep.SetMaxSize(0));
    EXPECT_TRUE(keep.Exists(u"top", size));
}

TEST_F(CacheTest, LookUpByLabelAndSize)
{
    KCache cache;
    KICacheObject* a200 = cache.Allocate(u"A", 200);
    ASSERT_NE(a200, nullptr);
    // Size 0 finds any size and locks it once more.
    EXPECT_EQ(cache.Allocate(u"A", 0), a200);
    EXPECT_EQ(a200->Unlock(), 1u);
    EXPECT_TRUE(cache.Exists(u"A", 0));
    EXPECT_TRUE(cache.Exists(u"A", 200));
    EXPECT_FALSE(cache.Exists(u"A", 100));
    EXPECT_FALSE(cache.Exists(u"a", 0)) << "labels compare exactly";
    // Size 0 and no such label: nothing is made, nothing traced as full.
    KTraceCapture capture;
    EXPECT_EQ(cache.Allocate(u"B", 0), nullptr);
    EXPECT_TRUE(capture.Text().empty());
    // Another size makes a second block of the same label.
    KICacheObject* a100 = cache.Allocate(u"A", 100);
    ASSERT_NE(a100, nullptr);
    EXPECT_NE(a100, a200);
    EXPECT_EQ(cache.List(), (std::vector<KWString>{KWString(u"A"), KWString(u"A")}));
    EXPECT_EQ(cache.Allocate(u"A", 100), a100);
    a100->Unlock();
    a100->Unlock();
    a200->Unlock();
}

TEST_F(CacheTest, SetMaxSizeZeroKeepsLockedBlocks)
{
    KCache cache;
    KICacheObject* locked = cache.Allocate(u"locked", 10);
    locked->SetFreeCallback(RecordFree);
    for (const char16_t* label : {u"x", u"y"}) {
        KICacheObject* o = cache.Allocate(label, 10);
        o->SetFreeCallback(RecordFree);
        o->Unlock();
    }
    EXPECT_FALSE(cache.SetMaxSize(0));
    EXPECT_EQ(Freed(), (std::vector<std::u16string>{u"x", u"y"}));
    EXPECT_EQ(cache.List(), (std::vector<KWString>{KWString(u"locked")}));
    // Its last Unlock evicts it at once: the cache is over its limit.
    EXPECT_EQ(locked->Unlock(), 1u);
    EXPECT_EQ(Freed().size(), 3u);
    EXPECT_TRUE(cache.List().empty());
}

TEST_F(CacheTest, UnlockCountsDownAndThenReportsTheTrim)
{
    KCache cache;
    KICacheObject* a = cache.Allocate(u"a", 10);
    KICacheObject* b = cache.Allocate(u"b", 10);
    a->Lock();
    EXPECT_EQ(a->Unlock(), 1u);
    EXPECT_EQ(a->Unlock(), 1u) << "0 left, and the cache is within its limit";
    EXPECT_EQ(a->Unlock(), 1u) << "an extra Unlock stays at 0 and still trims";
    EXPECT_TRUE(cache.Exists(u"a", 10));
    // Over the limit because b is locked: a goes, and the cache still does not fit.
    cache.SetMaxSize(kOverhead + 5);
    EXPECT_FALSE(cache.Exists(u"a", 10));
    a = cache.Allocate(u"c", 1);
    EXPECT_EQ(a, nullptr);
    KICacheObject* again = cache.Allocate(u"b", 0);
    EXPECT_EQ(again, b);
    EXPECT_EQ(b->Unlock(), 1u);
    EXPECT_EQ(b->Unlock(), 1u) << "b went with its last Unlock";
    EXPECT_TRUE(cache.List().empty());
}

TEST_F(CacheTest, DumpListsEveryBlock)
{
    KCache cache;
    cache.SetMaxSize(1000);
    KICacheObject* a = cache.Allocate(u"Caf\u00e9", 100);
    a->SetPriority(3);
    KTraceCapture capture;
    cache.DebugDump();
    char expected[200];
    std::snprintf(expected, sizeof expected, "Entry 0: 'Caf\xC3\xA9' size 100 ptr 0x%08lX refcount 1 priority 3\n",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(a->GetData())));
    EXPECT_EQ(capture.Text(), std::string("KCache debug dump:\nCache size: 1000\nIn use: 156\n"
                                          "=========================\n") +
                                  expected + "=========================\n");
    a->Unlock();
}

TEST_F(CacheTest, AllocatorWithoutBytesGivesNull)
{
    TestAllocator allocator;
    allocator.fail = true;
    KCache cache(&allocator);
    KTraceCapture capture;
    EXPECT_EQ(cache.Allocate(u"A", 100), nullptr);
    EXPECT_TRUE(capture.Contains("Allocation of cache obj failed!. Size Requested = 100\n"));
    EXPECT_TRUE(cache.List().empty()) << "no block without bytes is listed";
}

namespace {
std::atomic<int> g_Relocations{0};
void RecordRelocation(KICacheObject*)
{
    ++g_Relocations;
}
}  // namespace

TEST_F(CacheTest, BytesAreRefetchedWhenLockedFromZero)
{
    TestAllocator allocator;
    allocator.moveOnLock = true;
    KCache cache(&allocator);
    KICacheObject* o = cache.Allocate(u"m", 16);
    ASSERT_NE(o, nullptr);
    std::memcpy(o->GetData(), "fifteen bytes..", 16);
    o->SetRelocateCallback(RecordRelocation);
    o->Lock();  // still locked: nothing is fetched
    EXPECT_EQ(g_Relocations.load(), 0);
    o->Unlock();
    o->Unlock();
    void* before = o->GetData();
    EXPECT_EQ(cache.Allocate(u"m", 0), o);
    EXPECT_EQ(g_Relocations.load(), 1);
    EXPECT_NE(o->GetData(), before);
    EXPECT_STREQ(static_cast<const char*>(o->GetData()), "fifteen bytes..");
    o->Unlock();
}

TEST_F(CacheTest, MovableBlocksGoAtTheirLastUnlock)
{
    TestAllocator allocator;
    allocator.movable = true;
    {
        KCache cache(&allocator);
        KICacheObject* o = cache.Allocate(u"m", 16);
        ASSERT_NE(o, nullptr);
        o->SetFreeCallback(RecordFree);
        o->Lock();
        EXPECT_EQ(o->Unlock(), 1u);
        EXPECT_TRUE(Freed().empty());
        EXPECT_EQ(o->Unlock(), 1u);
        EXPECT_EQ(Freed(), (std::vector<std::u16string>{u"m"}));
        EXPECT_TRUE(cache.List().empty());
    }
    EXPECT_EQ(allocator.blocks, 0);
}

TEST_F(CacheTest, BlocksWithoutALabelGoAtTheirLastUnlock)
{
    // A block that nobody can find again is not kept until a trim: its bytes go with its last holder.
    KCache cache;
    KICacheObject* kept = cache.Allocate(u"kept", 16);
    KICacheObject* o = cache.Allocate(u"strip", 16);
    ASSERT_TRUE(kept && o);
    o->SetFreeCallback(RecordFree);
    o->Lock();
    o->SetLabel(u"");
    EXPECT_EQ(o->Unlock(), 1u);
    EXPECT_TRUE(Freed().empty());
    EXPECT_EQ(o->Unlock(), 1u);
    EXPECT_EQ(Freed(), (std::vector<std::u16string>{u""}));
    kept->Unlock();
    EXPECT_EQ(cache.List(), (std::vector<KWString>{KWString(u"kept")}));
}

namespace {
KICache* g_Reentered = nullptr;
void ListFromCallback(KICacheObject* object)
{
    RecordFree(object);
    g_Reentered->List();
    g_Reentered->Exists(u"x", 0);
}
}  // namespace

TEST_F(CacheTest, FreeCallbacksMayCallTheCache)
{
    KCache cache;
    g_Reentered = &cache;
    cache.SetMaxSize(LimitFor(1, 10));
    KICacheObject* o = cache.Allocate(u"first", 10);
    o->SetFreeCallback(ListFromCallback);
    o->Unlock();
    KICacheObject* second = cache.Allocate(u"second", 10);  // evicts first under the allocating lock
    ASSERT_NE(second, nullptr);
    second->SetFreeCallback(ListFromCallback);
    second->Unlock();
    cache.SetMaxSize(0);  // evicts second without the lock
    EXPECT_EQ(Freed(), (std::vector<std::u16string>{u"first", u"second"}));
}

TEST_F(CacheTest, DestructorFreesEveryUnlockedBlockWithCallbacks)
{
    {
        KCache cache;
        for (KUInt32 priority : {0u, 0xFFFFFFFFu}) {
            KICacheObject* o = cache.Allocate(priority ? u"top" : u"low", 10);
            o->SetPriority(priority);
            o->SetFreeCallback(RecordFree);
            o->Unlock();
        }
    }
    EXPECT_EQ(Freed(), (std::vector<std::u16string>{u"low", u"top"}));
}

TEST_F(CacheTest, GlobalCacheIsOneCache)
{
    KCache* cache = GetGlobalCache();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache, GetGlobalCache());
    EXPECT_EQ(cache->GetMaxSize(), KCache::kDefaultMaxSize);
}

namespace {
std::atomic<int> g_ThreadFrees{0};
void CountFree(KICacheObject*)
{
    ++g_ThreadFrees;
}
}  // namespace

TEST_F(CacheTest, ThreadsAllocateLockAndEvictTogether)
{
    const KUInt32 size = 64;
    KCache cache;
    cache.SetMaxSize(LimitFor(6, size));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                std::u16string label = u"t";
                label += static_cast<char16_t>(u'0' + t);
                label += u'-';
                label += static_cast<char16_t>(u'a' + i % 8);
                cache.Exists(label.c_str(), size);
                KICacheObject* o = cache.Allocate(label.c_str(), size);
                if (!o)
                    continue;
                o->SetFreeCallback(CountFree);
                static_cast<unsigned char*>(o->GetData())[i % size] = 0x5A;
                o->SetPriority(static_cast<KUInt32>(i % 3));
                o->Lock();
                o->Unlock();
                o->Unlock();
                if (i % 50 == 0) {
                    cache.List();
                    KTraceCapture quiet;
                    cache.DebugDump();
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_LE(cache.List().size(), 6u);
    EXPECT_GT(g_ThreadFrees.load(), 0) << "the budget made them evict each other";
    cache.SetMaxSize(0);
    EXPECT_TRUE(cache.List().empty());
}

TEST(MemoryAllocator, SmallAndLargeBlocksHoldTheirBytesApart)
{
    KIMemoryAllocator* allocator = GetMemoryAllocator();
    // Small blocks from the heap, large ones (a frame's pixels) mapped on their own; sizes about a page
    // boundary and a huge-page boundary.
    const size_t sizes[] = {0, 1, 4095, 4096, (1u << 20) - 1, 1u << 20, (2u << 20) - 64, (2u << 20) + 1, 9u << 20};
    std::vector<unsigned char*> blocks;
    for (size_t size : sizes) {
        auto* block = static_cast<unsigned char*>(allocator->Allocate(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
        EXPECT_EQ(allocator->Lock(block), block);
        std::memset(block, static_cast<int>(blocks.size() + 1), size);
        blocks.push_back(block);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (sizes[i] == 0)
            continue;
        for (size_t at : {size_t{0}, sizes[i] / 2, sizes[i] - 1})
            EXPECT_EQ(blocks[i][at], i + 1) << sizes[i] << " at " << at;
    }
    for (unsigned char* block : blocks)
        allocator->Free(block);
    allocator->Free(nullptr);
    EXPECT_FALSE(allocator->IsMovable());
}

TEST(MemoryAllocator, LargeBlocksGivenBackServeTheNextOfAboutTheirSize)
{
    KIMemoryAllocator* allocator = GetMemoryAllocator();
    ReleaseKeptMemory();
    void* first = allocator->Allocate(8u << 20);
    ASSERT_NE(first, nullptr);
    allocator->Free(first);
    void* again = allocator->Allocate((8u << 20) - 1000);  // about the same size: the same block
    void* other = allocator->Allocate(2u << 20);            // far smaller: a block of its own
    ASSERT_NE(again, nullptr);
    ASSERT_NE(other, nullptr);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_EQ(again, first);
#endif
    EXPECT_NE(other, again);
    std::memset(again, 1, (8u << 20) - 1000);
    std::memset(other, 2, 2u << 20);
    allocator->Free(again);
    allocator->Free(other);
    // A cache whose budget shrinks gives the kept blocks back.
    KCache cache;
    cache.SetMaxSize(1u << 20);
    EXPECT_FALSE(ReleaseKeptMemory());
}

TEST(MemoryAllocator, ScratchBlocksHoldTheirBytesAndALargeOneIsNotKept)
{
    KMemoryAllocator allocator;  // the default allocator's blocks
    // Small, medium (packed with the strips) and large (mapped on its own) working blocks.
    const size_t sizes[] = {1, 4095, 1u << 20, (16u << 20) + 4096};
    for (size_t size : sizes) {
        auto* block = static_cast<unsigned char*>(AllocateScratch(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
        std::memset(block, 7, size);
        EXPECT_EQ(block[0] + block[size / 2] + block[size - 1], 21) << size;
        allocator.Free(block);
    }
    const KScratchArray<uint16_t> values = MakeScratchArray<uint16_t>(3);
    values[2] = 0xFFFF;
    EXPECT_EQ(values[2], 0xFFFF);
    EXPECT_THROW(MakeScratchArray<uint16_t>(SIZE_MAX / 2 + 1), std::bad_alloc);  // more bytes than size_t holds
    // A large scratch block goes back to the system when freed, not into the kept blocks where only a block of
    // about its size could use it; a pixmap's block of that size is kept.
    ReleaseKeptMemory();
    void* scratch = AllocateScratch(20u << 20);
    ASSERT_NE(scratch, nullptr);
    std::memset(scratch, 1, 20u << 20);
    allocator.Free(scratch);
    EXPECT_FALSE(ReleaseKeptMemory());
    void* pixels = allocator.Allocate(20u << 20);
    ASSERT_NE(pixels, nullptr);
    allocator.Free(pixels);
#ifndef __SANITIZE_ADDRESS__  // there every block comes from the heap
    EXPECT_TRUE(ReleaseKeptMemory());
#endif
}
