#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KCamLinkSupport.h"
#include "KDebug.h"
#include "LumoFreshProcess.h"

TEST(CamPool, ConnectionSizedPoolGivesFiftyFourElementsThenNone)
{
    CamPool* pool = PoolCreate(1496, 14960, 14960, 100000);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> elements;
    for (int i = 0; i < 60; ++i) {
        void* e = PoolAllocZeroed(pool);
        if (!e)
            break;
        elements.push_back(e);
    }
    EXPECT_EQ(elements.size(), 54u);
    EXPECT_EQ(pool->arena->reservedBytes, 6u * 14960);
    // Elements do not overlap and are writable whole.
    for (size_t i = 0; i < elements.size(); ++i)
        memset(elements[i], static_cast<int>(i), 1496);
    for (size_t i = 0; i < elements.size(); ++i)
        EXPECT_EQ(static_cast<uint8_t*>(elements[i])[1495], static_cast<uint8_t>(i));
    // A freed element comes back before the arena is asked again.
    PoolFree(pool, elements[10]);
    EXPECT_EQ(pool->freeCount, 1u);
    EXPECT_EQ(PoolAlloc(pool), elements[10]);
    EXPECT_EQ(PoolAlloc(pool), nullptr);
    PoolDestroy(pool);

    // Sized in elements, a larger record keeps the count.
    for (size_t size : {size_t{2000}, size_t{2504}}) {
        pool = PoolCreate(size, 10 * size, 10 * size, 65 * size);
        ASSERT_NE(pool, nullptr);
        int count = 0;
        while (PoolAlloc(pool) && count < 100)
            ++count;
        EXPECT_EQ(count, 54) << size;
        PoolDestroy(pool);
    }
}

TEST(CamArena, ChunksGrowUpToTheLimitAndResetKeepsTheFirst)
{
    CamArena* arena = ArenaCreate(1000, 104, 200);
    ASSERT_NE(arena, nullptr);
    void* a = ArenaAlloc(arena, 45);  // rounded to 48
    void* b = ArenaAlloc(arena, 40);  // 56 free: taken, 16 left
    ASSERT_TRUE(a && b);
    EXPECT_EQ(static_cast<uint8_t*>(b) - static_cast<uint8_t*>(a), 48) << "8-byte steps";
    EXPECT_EQ(arena->reservedBytes, 104u);
    EXPECT_NE(ArenaAlloc(arena, 496), nullptr) << "more than the growth: a chunk of its own size";
    EXPECT_EQ(arena->reservedBytes, 600u);
    EXPECT_NE(ArenaAlloc(arena, 120), nullptr) << "a chunk of the growth size, 80 left";
    EXPECT_EQ(arena->reservedBytes, 800u);
    EXPECT_NE(ArenaAlloc(arena, 64), nullptr) << "taken from the free bytes of the last chunk";
    EXPECT_EQ(arena->reservedBytes, 800u);
    EXPECT_EQ(ArenaAlloc(arena, 300), nullptr) << "a chunk of 300 would pass the limit";
    EXPECT_EQ(arena->reservedBytes, 800u);
    ArenaReset(arena);
    EXPECT_EQ(arena->reservedBytes, 104u);
    EXPECT_EQ(arena->freeBytes, 104u);
    EXPECT_EQ(ArenaAlloc(arena, 8), a) << "the first chunk again, from its start";
    ArenaDestroy(arena);
}

TEST(CamList, PushRemoveNthAndIteration)
{
    CamList* list = ListCreate();
    ASSERT_NE(list, nullptr);
    int v[4] = {};
    EXPECT_TRUE(ListPushBack(list, &v[1]));
    EXPECT_TRUE(ListPushBack(list, &v[2]));
    EXPECT_TRUE(ListPushFront(list, &v[0]));
    EXPECT_TRUE(ListPushBack(list, &v[1]));
    EXPECT_EQ(ListCount(list), 4u);
    EXPECT_EQ(ListNth(list, 0), &v[0]);
    EXPECT_EQ(ListNth(list, 3), &v[1]);
    EXPECT_EQ(ListNth(list, 4), nullptr);
    EXPECT_TRUE(ListRemoveValue(list, &v[1])) << "the first of two nodes with the value";
    EXPECT_FALSE(ListRemoveValue(list, &v[3]));
    std::vector<void*> order;
    for (CamListNode* n = ListFirst(list); n; n = ListNext(n))
        order.push_back(n->value);
    EXPECT_EQ(order, (std::vector<void*>{&v[0], &v[2], &v[1]}));
    EXPECT_TRUE(ListRemoveValue(list, &v[1]));
    EXPECT_TRUE(ListRemoveValue(list, &v[0]));
    EXPECT_EQ(list->head, list->tail);
    EXPECT_TRUE(ListRemoveValue(list, &v[2]));
    EXPECT_EQ(ListCount(list), 0u);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_TRUE(ListPushFront(list, &v[3]));
    EXPECT_EQ(ListNth(list, 0), &v[3]);
    ListDestroy(list);
}

TEST(CamNameTable, KeysDifferingInTheirLastByteAreKeptApart)
{
    CamNameTable* table = NameTableCreate(1, 512, true);
    ASSERT_NE(table, nullptr);
    std::string a(300, 'k');
    std::string b = a;
    b.back() = 'l';
    int va = 1, vb = 2, vc = 3;
    EXPECT_TRUE(NameTableInsert(table, a.data(), 300, &va));
    EXPECT_TRUE(NameTableInsert(table, b.data(), 300, &vb));
    EXPECT_EQ(NameTableFind(table, a.data(), 300), &va);
    EXPECT_EQ(NameTableFind(table, b.data(), 300), &vb);
    EXPECT_EQ(NameTableFind(table, a.data(), 299), nullptr) << "a prefix is another key";
    EXPECT_TRUE(NameTableRemove(table, a.data(), 300));
    EXPECT_EQ(NameTableFind(table, a.data(), 300), nullptr);
    EXPECT_EQ(NameTableFind(table, b.data(), 300), &vb);
    EXPECT_FALSE(NameTableRemove(table, a.data(), 300));
    EXPECT_TRUE(NameTableInsert(table, b.data(), 300, &vc)) << "an existing key takes the new value";
    EXPECT_EQ(NameTableFind(table, b.data(), 300), &vc);
    // Keys with zero bytes, and lengths out of range.
    const char zeros[3] = {0, 0, 1};
    EXPECT_TRUE(NameTableInsert(table, zeros, 3, &va));
    EXPECT_EQ(NameTableFind(table, zeros, 2), nullptr);
    EXPECT_EQ(NameTableFind(table, zeros, 3), &va);
    std::string longKey(513, 'x');
    EXPECT_FALSE(NameTableInsert(table, longKey.data(), 513, &va));
    EXPECT_FALSE(NameTableInsert(table, "", 0, &va));
    NameTableDestroy(table);
}

TEST(CamCrc16, CheckValues)
{
    EXPECT_EQ(Crc16("123456789", 9), 0x31C3);
    EXPECT_EQ(Crc16("", 0), 0);
    EXPECT_EQ(Crc16("A", 1), 0x58E5);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(Crc16(zeros, 4), 0);
}

TEST(CamRandomPause, TenThousandPausesLieInOneToTwentyMilliseconds)
{
    std::vector<int> seen(21, 0);
    for (int i = 0; i < 10000; ++i) {
        uint32_t ms = RandomPauseMilliseconds();
        ASSERT_GE(ms, 1u);
        ASSERT_LE(ms, 20u);
        seen[ms]++;
    }
    for (int ms = 1; ms <= 20; ++ms)
        EXPECT_GT(seen[ms], 300) << ms << " ms: the pauses spread over the whole range";
    auto start = std::chrono::steady_clock::now();
    RandomPause();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

TEST(CamTime, TimeRunsInSecondsAndTheFrequencyIsTracedOnce)
{
    // The process's first use of the time base traces the frequency, so this runs where nothing used it before.
    lumotest::InFreshProcess([] {
        KTraceCapture capture;
        const double a = TimeNow();
        usleep(20000);
        const double b = TimeNow();
        EXPECT_GE(b - a, 0.019);
        EXPECT_LT(b - a, 5.0);
        const std::string text = capture.Text();
        const std::string line = "RoughTimeStampFrequency = 1000000000.000000\n";
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_EQ(text.find(line), text.rfind(line)) << text;
    });
}

TEST(CamLock, CreatedAndZeroedLocksExcludeEachOther)
{
    CamLock* created = CreateLock(nullptr);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->allocated, 1u);
    EXPECT_NE(created->mutex, nullptr);
    CamLock zeroed{};  // spin byte only, as in a zeroed device record
    CamLock inPlace{};
    EXPECT_EQ(CreateLock(&inPlace), &inPlace);
    EXPECT_EQ(inPlace.allocated, 0u);
    for (CamLock* lock : {created, &zeroed, &inPlace}) {
        long counter = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 2000; ++i) {
                    ASSERT_TRUE(Lock(lock));
                    long v = counter;
                    counter = v + 1;
                    Unlock(lock);
                }
            });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(counter, 8000);
    }
    DestroyLock(&inPlace);
    DestroyLock(created);
}

TEST(CamOsVersion, CodesOfTheVersionRecords)
{
    uint32_t platform = 0, code = 0;
    ASSERT_TRUE(GetOsVersionCode(&platform, &code));
    EXPECT_EQ(platform, 7u);
    EXPECT_EQ(code, 0x70009u);
    struct Case {
        uint32_t id, major, minor, code;
    } cases[] = {
        {0, 3, 11, 0x70001}, {1, 4, 0, 0x70002}, {1, 4, 10, 0x70003}, {1, 4, 90, 0x70005}, {1, 4, 50, 0},
        {2, 3, 51, 0x70006}, {2, 4, 0, 0x70007}, {2, 5, 0, 0x70008}, {2, 5, 1, 0x70009}, {2, 5, 2, 0},
        {2, 6, 0, 0},        {3, 5, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OsVersionCodeOf(c.id, c.major, c.minor), c.code) << c.id << " " << c.major << "." << c.minor;
}

namespace {

// The permissions of the mapping that holds an address, as /proc/self/maps shows them ("rw-p").
std::string MappingPermissions(const void* p)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    const auto address = reinterpret_cast<uintptr_t>(p);
    while (std::getline(maps, line)) {
        unsigned long from = 0, to = 0;
        char perms[5] = {};
        if (sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) == 3 && address >= from && address < to)
            return perms;
    }
    return "";
}

bool SameStats(const CamPageStats& a, const CamPageStats& b)
{
    return a.blocks == b.blocks && a.bytesInUse == b.bytesInUse && a.peakBytesInUse == b.peakBytesInUse &&
           a.lowestBlock == b.lowestBlock;
}

}  // namespace

TEST(CamPageAlloc, BlocksCountersAndTheirHeader)
{
    const CamPageStats before = PageAllocStats();
    auto* p = static_cast<uint8_t*>(PageAllocZeroed(10000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(memcmp(p - 16, "@BLK\0\0\0\0\0\0\0\0", 12), 0);
    uint32_t size = 0;
    memcpy(&size, p - 4, 4);
    EXPECT_EQ(size, 10016u);
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(p[i], 0);
    memset(p, 0xAB, 10000);
    EXPECT_EQ(MappingPermissions(p), "rw-p") << "never executable";
    CamPageStats during = PageAllocStats();
    EXPECT_EQ(during.blocks, before.blocks + 1);
    EXPECT_EQ(during.bytesInUse, before.bytesInUse + 10016);
    EXPECT_GE(during.peakBytesInUse, during.bytesInUse);
    EXPECT_LE(during.lowestBlock, reinterpret_cast<uintptr_t>(p - 16));
    PageFree(p);
    CamPageStats after = PageAllocStats();
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytesInUse, before.bytesInUse);
    PageFree(p);  // twice: no longer a block of the allocator
    EXPECT_TRUE(SameStats(PageAllocStats(), after));
    PageFree(nullptr);
}

TEST(CamPageAlloc, PointersThatAreNoBlockAreIgnored)
{
    // A buffer that even carries a block header in front of the pointer handed to PageFree.
    std::vector<uint8_t> fake(64, 0);
    memcpy(fake.data(), "@BLK", 4);
    const uint32_t size = 64;
    memcpy(fake.data() + 12, &size, 4);
    const CamPageStats before = PageAllocStats();
    PageFree(fake.data() + 16);
    PageFree(fake.data() + 1);  // nothing in front of it may be read either
    EXPECT_TRUE(SameStats(PageAllocStats(), before));
    EXPECT_EQ(fake[0], '@');
    auto* p = static_cast<uint8_t*>(PageAlloc(100));
    ASSERT_NE(p, nullptr);
    PageFree(p + 8);  // inside a block
    EXPECT_EQ(PageAllocStats().blocks, before.blocks + 1);
    PageFree(p);
}

TEST(CamPageAlloc, RequestsBeyondTheAvailablePageFileFailWithoutTouchingTheCounters)
{
    void* keep = PageAlloc(64);  // some state in the counters
    ASSERT_NE(keep, nullptr);
    const CamPageStats before = PageAllocStats();
    const uint64_t available = AvailablePageFileBytes();
    ASSERT_GT(available, 204816u);
    const uint64_t requests[] = {available - 204816 + (64ull << 20), available, available + 1, uint64_t{SIZE_MAX},
                                 uint64_t{SIZE_MAX} - 100000};
    for (uint64_t n : requests) {
        EXPECT_EQ(PageAlloc(static_cast<size_t>(n)), nullptr) << n;
        EXPECT_TRUE(SameStats(PageAllocStats(), before)) << n;
    }
    PageFree(keep);
}

TEST(CamStrings, RoutinesOnTables)
{
    char buffer[8];
    EXPECT_STREQ(CamStrCopy(buffer, sizeof(buffer), "camera"), "camera");
    EXPECT_STREQ(CamStrAppend(buffer, sizeof(buffer), "://"), "camera:") << "cut to the capacity";
    EXPECT_STREQ(CamStrCopy(buffer, sizeof(buffer), nullptr), "");
    EXPECT_EQ(CamStrLength("1394"), 4u);
    EXPECT_EQ(CamStrLength(nullptr), 0u);
    struct Compare {
        const char *a, *b;
        int exact, noCase;
    } compares[] = {
        {"abc", "abc", 0, 0}, {"abc", "ABC", 1, 0}, {"abc", "abd", -1, -1}, {"ab", "abc", -1, -1},
        {"FILE", "file", -1, 0}, {"\xE9", "\xC9", 1, 1}, {"", "", 0, 0},
    };
    for (const Compare& c : compares) {
        auto sign = [](int v) { return (v > 0) - (v < 0); };
        EXPECT_EQ(sign(CamStrCompare(c.a, c.b)), c.exact) << c.a << " " << c.b;
        EXPECT_EQ(sign(CamStrCompareNoCase(c.a, c.b)), c.noCase) << c.a << " " << c.b;
    }
    char digits[12];
    for (auto [value, text] : std::vector<std::pair<uint32_t, const char*>>{
             {0, "0"}, {7, "7"}, {1394, "1394"}, {4294967295u, "4294967295"}}) {
        EXPECT_STREQ(CamFormatUnsigned(digits, sizeof(digits), value), text);
    }
    EXPECT_STREQ(CamFormatUnsigned(digits, 4, 1394), "139");
    char word[] = "USB1394";
    EXPECT_STREQ(CamStrReverse(word), "4931BSU");
    const char* table[] = {"1394", "USB", "FILE"};
    EXPECT_EQ(CamStrFindInTable(table, 3, "FILE"), 2);
    EXPECT_EQ(CamStrFindInTable(table, 3, "file"), -1);
    EXPECT_EQ(CamStrFindInTable(table, 2, "FILE"), -1);
}

TEST(CamTrace, ErrorLinesGoToTheTraceAndVerboseLinesNowhere)
{
    KTraceCapture capture;
    CamTrace("Failed Control Transfer 0x%x\r\n", 0xE0100005u);
    CamTraceVerbose("BulkIN h 0x%04x\r\n", 0x1009u);
    EXPECT_EQ(capture.Text(), "Failed Control Transfer 0xe0100005\r\n");
}
