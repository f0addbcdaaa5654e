// The arena of medium blocks: blocks apart from each other, room given back serving later blocks, neighbouring
// room joined, regions added when full and unmapped when released empty.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "KBlockArena.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;

}  // namespace

TEST(BlockArena, BlocksHoldTheirBytesApartAndRefuseSizesOutOfRange)
{
    KBlockArena arena(8 * kMiB);
    EXPECT_EQ(arena.Allocate(0), nullptr);
    EXPECT_EQ(arena.Allocate(8 * kMiB + 1), nullptr);
    const size_t sizes[] = {1, KBlockArena::kGrain - 1, KBlockArena::kGrain, KBlockArena::kGrain + 1, kMiB + 7,
                            3 * kMiB, 8 * kMiB};
    std::vector<unsigned char*> blocks;
    for (size_t size : sizes) {
        auto* block = static_cast<unsigned char*>(arena.Allocate(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % KBlockArena::kGrain, 0u) << size;
        std::memset(block, static_cast<int>(blocks.size() + 1), size);
        blocks.push_back(block);
    }
    EXPECT_EQ(arena.RegionCount(), 2u) << "the whole-region block took a region of its own";
    for (size_t i = 0; i < blocks.size(); ++i)
        for (size_t at : {size_t{0}, sizes[i] / 2, sizes[i] - 1})
            EXPECT_EQ(blocks[i][at], i + 1) << sizes[i] << " at " << at;
    for (unsigned char* block : blocks)
        arena.Free(block);
    arena.Free(nullptr);
    EXPECT_EQ(arena.FreeBytes(), 2 * 8 * kMiB) << "every block's room joined back";
    EXPECT_TRUE(arena.Release());
    EXPECT_EQ(arena.RegionCount(), 0u);
    EXPECT_FALSE(arena.Release()) << "nothing given back since";
}

TEST(BlockArena, RoomGivenBackServesTheNextBlocksFirstFit)
{
    KBlockArena arena(8 * kMiB);
    char* a = static_cast<char*>(arena.Allocate(2 * kMiB));
    char* b = static_cast<char*>(arena.Allocate(kMiB));
    char* c = static_cast<char*>(arena.Allocate(2 * kMiB));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(b, a + 2 * kMiB) << "packed side by side";
    EXPECT_EQ(c, b + kMiB);
    arena.Free(b);
    EXPECT_EQ(arena.Allocate(kMiB / 2), b) << "the first room large enough";
    char* d = static_cast<char*>(arena.Allocate(kMiB));
    EXPECT_EQ(d, c + 2 * kMiB) << "the rest of b's room is too small";
    // a and the rest of b's room join, then with b's start too: a block of their whole size fits there.
    arena.Free(a);
    arena.Free(b);
    EXPECT_EQ(arena.Allocate(3 * kMiB), a);
    EXPECT_EQ(arena.RegionCount(), 1u);
    // Released room keeps its addresses: the block there reads zeros.
    arena.Free(c);
    EXPECT_TRUE(arena.Release());
    auto* again = static_cast<unsigned char*>(arena.Allocate(2 * kMiB));
    ASSERT_EQ(again, reinterpret_cast<unsigned char*>(c));
    EXPECT_EQ(again[0], 0);
    EXPECT_EQ(again[2 * kMiB - 1], 0);
    EXPECT_EQ(arena.RegionCount(), 1u) << "a region with blocks stays";
}

TEST(BlockArena, BlocksFromManyThreadsStayApart)
{
    KBlockArena arena(4 * kMiB);
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const size_t size = KBlockArena::kGrain * static_cast<size_t>(1 + (round * 7 + t) % 64);
                auto* block = static_cast<unsigned char*>(arena.Allocate(size));
                if (!block) {
                    ++wrong[t];
                    continue;
                }
                std::memset(block, t + 1, size);
                for (size_t at : {size_t{0}, size - 1})
                    wrong[t] += block[at] != t + 1;
                arena.Free(block);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(wrong[t], 0) << t;
    EXPECT_EQ(arena.FreeBytes(), arena.RegionCount() * arena.RegionBytes());
}
