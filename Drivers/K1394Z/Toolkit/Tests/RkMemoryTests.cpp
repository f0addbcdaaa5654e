// The toolkit's memory services: tracked pool, heap, segment pools, lists, trie and memory routines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "PlatformKernelHost.h"
#include "RkMemory.h"

namespace {

// Every test starts and ends with the services stopped and no tracked block left.
class RkMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        RkMemoryStop();
        RK_POOL_FIGURES f;
        RkPoolGetFigures(&f);
        ASSERT_EQ(f.Blocks, 0u);
    }
    void TearDown() override
    {
        RkMemoryStop();
        RK_POOL_FIGURES f;
        RkPoolGetFigures(&f);
        EXPECT_EQ(f.Blocks, 0u);
        EXPECT_EQ(f.Bytes, 0u);
        EXPECT_EQ(KernGetPoolTagFigures(RK_POOL_TAG).blocks, 0u);
    }
};

RK_HEAP_FIGURES Heap()
{
    RK_HEAP_FIGURES f;
    RkHeapGetFigures(&f);
    return f;
}

bool SameFigures(const RK_HEAP_FIGURES& a, const RK_HEAP_FIGURES& b)
{
    return a.Regions == b.Regions && a.RegionBytes == b.RegionBytes && a.BytesInUse == b.BytesInUse &&
           a.BlocksInUse == b.BlocksInUse && a.FreeBlocks == b.FreeBlocks && a.SizeClasses == b.SizeClasses;
}

}  // namespace

// ---- Tracked pool -----------------------------------------------------------------------------------------------

TEST_F(RkMemory, PoolBlocksCarryTheirHeaderAndAreCounted)
{
    auto* p = static_cast<UCHAR*>(AllocateMemoryOS(10));
    ASSERT_NE(p, nullptr);
    const UCHAR* h = p - RK_POOL_HEADER;
    EXPECT_EQ(std::vector<UCHAR>(h, h + 4), (std::vector<UCHAR>{0x40, 0x42, 0x4C, 0x4B}));
    ULONG words[3];
    std::memcpy(words, h + 4, sizeof words);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(words[1], 0u);
    EXPECT_EQ(words[2], 10u);
    RK_POOL_FIGURES f;
    RkPoolGetFigures(&f);
    EXPECT_EQ(f.Blocks, 1u);
    EXPECT_EQ(f.Bytes, 26u);
    EXPECT_EQ(f.LowestAddress, reinterpret_cast<ULONG_PTR>(h));
    auto* z = static_cast<UCHAR*>(AllocateZeroedMemoryOS(33));
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(std::vector<UCHAR>(z, z + 33), std::vector<UCHAR>(33, 0));
    FreeMemoryOS(z);
    FreeMemoryOS(p);
    RkPoolGetFigures(&f);
    EXPECT_EQ(f.Blocks, 0u);
    EXPECT_EQ(f.PeakBytes, 26u + 49u);
}

TEST_F(RkMemory, PoolRefusesWhatWouldPass32BitsOrRunAboveDispatchLevel)
{
    EXPECT_EQ(AllocateMemoryOS(0xFFFFFFFFull - 204816), nullptr);
    EXPECT_EQ(AllocateMemoryOS(SIZE_T(1) << 33), nullptr);
    KernDbgPrintCapture capture;
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    PVOID p = AllocateMemoryOS(8);
    KeLowerIrql(old);
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(capture.Contains("AllocateMemoryOS invalid IRQL.\n"));
    // At dispatch level it works.
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    p = AllocateMemoryOS(8);
    FreeMemoryOS(p);
    KeLowerIrql(old);
    EXPECT_NE(p, nullptr);
}

TEST_F(RkMemory, FreeingAnythingButALiveBlockIsIgnored)
{
    PVOID keep = AllocateMemoryOS(16);
    PVOID p = AllocateMemoryOS(16);
    FreeMemoryOS(p);
    RK_POOL_FIGURES before;
    RkPoolGetFigures(&before);
    KernDbgPrintCapture capture;
    FreeMemoryOS(p);  // twice: its memory is back in the system's pool and is not read
    int local[8] = {};
    FreeMemoryOS(&local[4]);
    void* foreign = std::malloc(64);
    FreeMemoryOS(static_cast<char*>(foreign) + 16);
    std::free(foreign);
    FreeMemoryOS(reinterpret_cast<PVOID>(0x20));  // below the lowest block
    RK_POOL_FIGURES after;
    RkPoolGetFigures(&after);
    EXPECT_EQ(after.Blocks, before.Blocks);
    EXPECT_EQ(after.Bytes, before.Bytes);
    EXPECT_TRUE(capture.Contains("is not a live block"));
    FreeMemoryOS(keep);
}

// ---- Heap ------------------------------------------------------------------------------------------------------------

TEST_F(RkMemory, OneByteTakesAnEightyByteBlock)
{
    PVOID p = RkHeapAllocate(1);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(RkMemoryIsReady());  // the first allocation started the services
    RK_HEAP_BLOCK_INFO info;
    ASSERT_TRUE(RkHeapGetBlockInfo(p, &info));
    EXPECT_EQ(info.BlockSize, 80u);
    EXPECT_FALSE(info.FromTop);
    struct Case {
        SIZE_T size;
        ULONG block;
    };
    for (Case c : {Case{16, 80}, Case{17, 96}, Case{100, 176}, Case{0x7FB0, 0x7FF0}, Case{0x7FC0, 0x8000}}) {
        PVOID q = RkHeapAllocate(c.size);
        ASSERT_TRUE(RkHeapGetBlockInfo(q, &info));
        EXPECT_EQ(info.BlockSize, c.block) << c.size;
        RkHeapFree(q);
    }
    EXPECT_EQ(RkHeapAllocate(0), nullptr);
    RkHeapFree(p);
}

TEST_F(RkMemory, FortyThousandBytesComeFromARegionsTopEnd)
{
    ASSERT_EQ(RkMemoryStart(), STATUS_SUCCESS);
    PVOID small = RkHeapAllocate(100);
    auto* big = static_cast<UCHAR*>(RkHeapAllocate(40000));
    ASSERT_NE(big, nullptr);
    RK_HEAP_BLOCK_INFO info;
    ASSERT_TRUE(RkHeapGetBlockInfo(big, &info));
    EXPECT_TRUE(info.FromTop);
    EXPECT_EQ(info.BlockSize, 40064u);
    EXPECT_EQ(big - RK_HEAP_HEADER + info.BlockSize, info.RegionEnd);
    RK_HEAP_BLOCK_INFO smallInfo;
    ASSERT_TRUE(RkHeapGetBlockInfo(small, &smallInfo));
    EXPECT_EQ(static_cast<UCHAR*>(small) - RK_HEAP_HEADER, smallInfo.RegionStart);
    EXPECT_EQ(Heap().Regions, 1u);
    // The newest top block gives its bytes back: the next one takes the same place.
    RkHeapFree(big);
    PVOID again = RkHeapAllocate(40000);
    EXPECT_EQ(again, big);
    // A second one no longer fits beside it: a new region serves it.
    PVOID second = RkHeapAllocate(40000);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Heap().Regions, 2u);
    RkHeapFree(second);
    RkHeapFree(again);
    RkHeapFree(small);
}

TEST_F(RkMemory, FreedBlocksAreReusedBySize)
{
    std::vector<PVOID> blocks;
    for (int i = 0; i < 10; ++i)
        blocks.push_back(RkHeapAllocate(100));
    RkHeapFree(blocks[3]);
    RkHeapFree(blocks[7]);
    EXPECT_EQ(Heap().FreeBlocks, 2u);
    // First freed, first reused; no new bytes carved.
    RK_HEAP_FIGURES before = Heap();
    EXPECT_EQ(RkHeapAllocate(100), blocks[3]);
    EXPECT_EQ(RkHeapAllocate(97), blocks[7]);
    EXPECT_EQ(Heap().RegionBytes, before.RegionBytes);
    EXPECT_EQ(Heap().FreeBlocks, 0u);
    // A block very much larger than asked is not handed out for a small size once the region is full.
    for (PVOID b : blocks)
        RkHeapFree(b);
}

TEST_F(RkMemory, ASecondFreeChangesNothing)
{
    PVOID a = RkHeapAllocate(200);
    PVOID b = RkHeapAllocate(50000);
    PVOID c = RkHeapAllocate(100000);  // a region of its own
    RK_HEAP_BLOCK_INFO info;
    ASSERT_TRUE(RkHeapGetBlockInfo(c, &info));
    EXPECT_TRUE(info.OwnsRegion);
    RkHeapFree(a);
    RkHeapFree(b);
    RkHeapFree(c);
    RK_HEAP_FIGURES once = Heap();
    RK_POOL_FIGURES poolOnce;
    RkPoolGetFigures(&poolOnce);
    KernDbgPrintCapture capture;
    RkHeapFree(a);
    RkHeapFree(b);
    RkHeapFree(c);  // its region went back to the pool: nothing of it is read
    int local = 0;
    RkHeapFree(&local);
    EXPECT_TRUE(SameFigures(once, Heap()));
    RK_POOL_FIGURES poolTwice;
    RkPoolGetFigures(&poolTwice);
    EXPECT_EQ(poolTwice.Blocks, poolOnce.Blocks);
    EXPECT_TRUE(capture.Contains("is not a live heap block"));
    // The driver's entry points trace their refusals.
    EXPECT_EQ(AllocateMemoryK1394(0), nullptr);
    FreeMemoryK1394(nullptr);
    EXPECT_TRUE(capture.Contains("AllocateMemoryK1394 error: requested block size is 0.\n"));
    EXPECT_TRUE(capture.Contains("FreeMemoryK1394 error: BlockAddr = 0.\n"));
}

TEST_F(RkMemory, StopFreesEveryRegionAndTheNextStartBeginsAtZero)
{
    for (SIZE_T size : {1, 500, 40000, 70000, 200000})
        ASSERT_NE(RkHeapAllocate(size), nullptr);
    RK_LIST* list = RkListCreate();
    ASSERT_NE(list, nullptr);
    RkListPushBack(list, nullptr, nullptr);
    EXPECT_GE(Heap().Regions, 3u);
    RkMemoryStop();
    EXPECT_FALSE(RkMemoryIsReady());
    RK_POOL_FIGURES pool;
    RkPoolGetFigures(&pool);
    EXPECT_EQ(pool.Blocks, 0u);
    EXPECT_EQ(pool.Bytes, 0u);
    EXPECT_EQ(pool.PeakBytes, 0u);
    EXPECT_EQ(KernGetPoolTagFigures(RK_POOL_TAG).blocks, 0u);
    RK_HEAP_FIGURES stopped = Heap();
    EXPECT_EQ(stopped.Regions, 0u);
    EXPECT_EQ(stopped.BytesInUse, 0u);
    EXPECT_EQ(RkListCreate(), nullptr);  // no lists while stopped

    ASSERT_EQ(RkMemoryStart(), STATUS_SUCCESS);
    RK_HEAP_FIGURES started = Heap();
    EXPECT_EQ(started.Regions, 1u);
    EXPECT_EQ(started.RegionBytes, RK_HEAP_REGION_SIZE);
    EXPECT_EQ(started.BytesInUse, 0u);
    EXPECT_EQ(started.BlocksInUse, 0u);
    EXPECT_EQ(started.SizeClasses, 0u);
    RkPoolGetFigures(&pool);
    EXPECT_EQ(pool.PeakBytes, pool.Bytes);
}

TEST_F(RkMemory, HeapAndPoolServeManyThreadsAtOnce)
{
    ASSERT_EQ(RkMemoryStart(), STATUS_SUCCESS);
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &bad] {
            std::mt19937 random(t);
            struct Held {
                UCHAR* p;
                SIZE_T size;
                bool heap;
            };
            std::vector<Held> held;
            for (int i = 0; i < 3000; ++i) {
                if (held.size() < 50 && random() % 3) {
                    SIZE_T size = 1 + random() % (random() % 8 ? 600 : 50000);
                    bool heap = random() % 2;
                    auto* p = static_cast<UCHAR*>(heap ? RkHeapAllocate(size) : AllocateMemoryOS(size));
                    if (!p) {
                        ++bad;
                        continue;
                    }
                    std::memset(p, t + 1, size);
                    held.push_back({p, size, heap});
                } else if (!held.empty()) {
                    size_t at = random() % held.size();
                    Held h = held[at];
                    for (SIZE_T j = 0; j < h.size; ++j)
                        if (h.p[j] != t + 1) {
                            ++bad;
                            break;
                        }
                    h.heap ? RkHeapFree(h.p) : FreeMemoryOS(h.p);
                    held.erase(held.begin() + static_cast<long>(at));
                }
            }
            for (Held h : held)
                h.heap ? RkHeapFree(h.p) : FreeMemoryOS(h.p);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(Heap().BlocksInUse, 0u);
    EXPECT_EQ(Heap().BytesInUse, 0u);
}

// ---- Segment pools and lists -------------------------------------------------------------------------------------------

TEST_F(RkMemory, SegmentPoolCarvesReusesAndKeepsItsLimit)
{
    RK_SEGMENT_POOL pool;
    ASSERT_EQ(RkSegPoolCreate(&pool, 20, 10, 2 * 10 * 24), STATUS_SUCCESS);
    EXPECT_EQ(pool.EntrySize, 24u);
    std::vector<PVOID> entries;
    while (PVOID e = RkSegPoolTake(&pool)) {
        std::memset(e, 0xAB, 20);
        entries.push_back(e);
    }
    EXPECT_EQ(entries.size(), 20u);  // two segments, then the limit
    RkSegPoolReturn(&pool, entries[5]);
    auto* again = static_cast<UCHAR*>(RkSegPoolTake(&pool));
    EXPECT_EQ(again, entries[5]);
    EXPECT_EQ(std::vector<UCHAR>(again, again + 20), std::vector<UCHAR>(20, 0));
    RkSegPoolReset(&pool);
    EXPECT_EQ(pool.BytesMade, 240u);
    EXPECT_NE(RkSegPoolTake(&pool), nullptr);
    RkSegPoolDestroy(&pool);
    EXPECT_EQ(RkSegPoolCreate(&pool, 0, 10, RK_NO_LIMIT), STATUS_INVALID_PARAMETER);
}

TEST_F(RkMemory, CountedListsInsertInOrderFindRemoveAndWalk)
{
    ASSERT_EQ(RkMemoryStart(), STATUS_SUCCESS);
    RK_LIST* list = RkListCreate();
    ASSERT_NE(list, nullptr);
    auto compare = [](PVOID nodeKey, PVOID key) -> LONG {
        return static_cast<LONG>(reinterpret_cast<LONG_PTR>(nodeKey) - reinterpret_cast<LONG_PTR>(key));
    };
    for (LONG_PTR k : {5, 1, 3, 3, 9, 0})
        RkListInsertOrdered(list, reinterpret_cast<PVOID>(k * 10), reinterpret_cast<PVOID>(k), compare);
    RkListPushFront(list, reinterpret_cast<PVOID>(-1), reinterpret_cast<PVOID>(-1));
    RkListPushBack(list, reinterpret_cast<PVOID>(100), reinterpret_cast<PVOID>(100));
    auto keys = [&] {
        std::vector<LONG_PTR> out;
        for (RK_LIST_NODE* n = RkListNext(list, nullptr); n; n = RkListNext(list, n))
            out.push_back(reinterpret_cast<LONG_PTR>(n->Key));
        return out;
    };
    EXPECT_EQ(keys(), (std::vector<LONG_PTR>{-1, 0, 1, 3, 3, 5, 9, 100}));
    EXPECT_EQ(list->Count, 8u);
    RK_LIST_NODE* three = RkListFind(list, reinterpret_cast<PVOID>(3), compare);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->Value, reinterpret_cast<PVOID>(30));
    EXPECT_EQ(RkListRemoveRun(list, three, 3), 3u);
    EXPECT_EQ(keys(), (std::vector<LONG_PTR>{-1, 0, 1, 9, 100}));
    RkListRemove(list, list->Last);
    RkListRemove(list, list->First);
    EXPECT_EQ(keys(), (std::vector<LONG_PTR>{0, 1, 9}));
    EXPECT_EQ(list->Count, 3u);
    EXPECT_EQ(RkListFind(list, reinterpret_cast<PVOID>(7), compare), nullptr);
    EXPECT_EQ(RkListRemoveRun(list, list->Last, 10), 1u);
    RkListDestroy(list);
}

// ---- Trie ------------------------------------------------------------------------------------------------------------------

TEST_F(RkMemory, TrieAgreesWithAMapOverRandomFourByteKeys)
{
    ASSERT_EQ(RkMemoryStart(), STATUS_SUCCESS);
    RK_TRIE* trie = RkTrieCreate(4, 4, TRUE);
    ASSERT_NE(trie, nullptr);
    std::map<ULONG, ULONG_PTR> model;
    std::mt19937 random(1234);
    for (int i = 0; i < 100000; ++i) {
        // Mostly a small range, so that finds and removes hit; sometimes any value, and the edges.
        ULONG key;
        switch (random() % 8) {
        case 0: key = static_cast<ULONG>(random()); break;
        case 1: key = (random() % 2) ? 0u : 0xFFFFFFFFu; break;
        default: key = static_cast<ULONG>(random() % 3000) * 0x10001u; break;
        }
        ULONG_PTR value = static_cast<ULONG_PTR>(i) + 1;
        switch (random() % 3) {
        case 0: {
            NTSTATUS status = RkTrieInsert(trie, &key, 4, reinterpret_cast<PVOID>(value));
            bool fresh = model.emplace(key, value).second;
            ASSERT_EQ(status, fresh ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION) << i;
            break;
        }
        case 1: {
            BOOLEAN found = FALSE;
            PVOID got = RkTrieFind(trie, &key, 4, &found);
            auto it = model.find(key);
            ASSERT_EQ(found != 0, it != model.end()) << i;
            if (found) {
                ASSERT_EQ(reinterpret_cast<ULONG_PTR>(got), it->second) << i;
            }
            break;
        }
        default:
            ASSERT_EQ(RkTrieRemove(trie, &key, 4) != 0, model.erase(key) == 1) << i;
            break;
        }
        ASSERT_EQ(RkTrieCount(trie), model.size());
    }
    for (const auto& [key, value] : model) {
        BOOLEAN found = FALSE;
        ASSERT_EQ(reinterpret_cast<ULONG_PTR>(RkTrieFind(trie, &key, 4, &found)), value);
        ASSERT_TRUE(found);
    }
    for (const auto& [key, value] : model)
        ASSERT_TRUE(RkTrieRemove(trie, &key, 4));
    EXPECT_EQ(RkTrieCount(trie), 0u);
    RkTrieDestroy(trie);
}

TEST_F(RkMemory, TrieKeepsKeysOfEachLengthApart)
{
    RK_TRIE* trie = RkTrieCreate(1, 6, FALSE);
    ASSERT_NE(trie, nullptr);
    const UCHAR key[6] = {0, 0, 0, 0, 0, 0};
    for (ULONG length = 1; length <= 6; ++length)
        ASSERT_EQ(RkTrieInsert(trie, key, length, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(length))),
                  STATUS_SUCCESS);
    for (ULONG length = 1; length <= 6; ++length)
        EXPECT_EQ(RkTrieFind(trie, key, length, nullptr), reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(length)));
    EXPECT_EQ(RkTrieInsert(trie, key, 7, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RkTrieFind(trie, key, 0, nullptr), nullptr);
    EXPECT_TRUE(RkTrieRemove(trie, key, 3));
    EXPECT_FALSE(RkTrieRemove(trie, key, 3));
    EXPECT_EQ(RkTrieFind(trie, key, 2, nullptr), reinterpret_cast<PVOID>(2));
    RkTrieDestroy(trie);  // frees the keys still held
}

// ---- Memory routines -------------------------------------------------------------------------------------------------------

TEST_F(RkMemory, CompareEqualCopyZero)
{
    const UCHAR a[] = {1, 2, 3, 4, 5};
    const UCHAR b[] = {1, 2, 9, 4, 5};
    EXPECT_EQ(RkMemCompare(a, 5, b, 5), 3 - 9);
    EXPECT_EQ(RkMemCompare(a, 3, a, 5), -2);
    EXPECT_EQ(RkMemCompare(a, 5, a, 5), 0);
    alignas(4) UCHAR x[40];
    alignas(4) UCHAR y[40];
    for (int i = 0; i < 40; ++i)
        x[i] = y[i] = static_cast<UCHAR>(i);
    EXPECT_TRUE(RkMemEqual(x, y, 40));
    EXPECT_TRUE(RkMemEqual(x + 1, y + 1, 37));  // unaligned: bytes
    y[39] ^= 1;
    EXPECT_FALSE(RkMemEqual(x, y, 40));
    y[39] ^= 1;
    y[20] ^= 1;  // the middle byte is looked at first
    EXPECT_FALSE(RkMemEqual(x, y, 40));
    EXPECT_TRUE(RkMemEqual(x, y, 0));
    RkMemCopy(x + 2, x, 30);  // overlapping
    EXPECT_EQ(x[2], 0);
    EXPECT_EQ(x[31], 29);
    RkMemZero(x, 40);
    EXPECT_EQ(std::vector<UCHAR>(x, x + 40), std::vector<UCHAR>(40, 0));
}

TEST_F(RkMemory, DelayAndBoundedEventWait)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RkWaitForEvent(&event, 50), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    KeSetEvent(&event, 0, FALSE);
    EXPECT_EQ(RkWaitForEvent(&event, 0), STATUS_SUCCESS);
    start = std::chrono::steady_clock::now();
    RkDelayMs(20);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    RkDelayMs(5);  // busy-waits at dispatch level
    KeLowerIrql(old);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    ULONGLONG t = RkReadTimeStampCounter();
    EXPECT_GT(RkReadTimeStampCounter(), t);
}
