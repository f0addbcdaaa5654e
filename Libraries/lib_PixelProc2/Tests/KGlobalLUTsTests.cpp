#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "KGlobalLUTs.h"
#include "KGlobalLUTsTestHook.h"

TEST(KGlobalLUTs, CubeRootTable)
{
    const KLUT* t = KGlobalLUTsClass::GetCubeRootLUT();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, KGlobalLUTsClass::GetCubeRootLUT());
    EXPECT_EQ(t->m_Size, 65536u);
    EXPECT_EQ(t->m_Mask, 0xFFFFu);
    EXPECT_FALSE(t->m_bOwnsData);
    auto at = [&](int v) { return (*t)[static_cast<KUInt32>(v)]; };
    EXPECT_EQ(at(0), 819);
    EXPECT_EQ(at(4096), 4107);
    EXPECT_EQ(at(-1), 811);
    EXPECT_GT(at(-191), 0);
    EXPECT_EQ(at(-192), 0);
    EXPECT_EQ(at(-4096), 0);
    // Increasing over the whole range from -192 up.
    for (int v = -192; v < 32767; ++v)
        ASSERT_LE(at(v), at(v + 1)) << v;
}

TEST(KGlobalLUTs, CubeTable)
{
    const KLUT* t = KGlobalLUTsClass::GetCubeLUT();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, KGlobalLUTsClass::GetCubeLUT());
    auto at = [&](int v) { return (*t)[static_cast<KUInt32>(v)]; };
    EXPECT_EQ(at(0), -97);
    EXPECT_EQ(at(819), 0);
    EXPECT_EQ(at(4096), 4063);  // (1 - 0.008) x 4096
    EXPECT_EQ(at(-4096), 0);
    EXPECT_EQ(at(-1), 0);
    EXPECT_EQ(at(32767), 32767);  // the formula exceeds 32767
    EXPECT_EQ(at(20000), 32767);
    // Inverse of the cube-root table to within a unit or two where both are steep.
    const KLUT* r = KGlobalLUTsClass::GetCubeRootLUT();
    for (int v : {0, 100, 1000, 4096, 10000})
        EXPECT_NEAR(at((*r)[static_cast<KUInt32>(v)]), v, 2 + v / 400) << v;
}

TEST(KGlobalLUTs, TanhTableSizes)
{
    struct Case {
        double limits[3];
        double slopes[3];
        KUInt32 size;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {{100, 100, 100}, {1, 1, 1}, 512},      // r = 100, n = 500
        {{102.4, 50, 1}, {1, 1, 1}, 512},       // n = 512
        {{102.6, 1, 1}, {1, 1, 1}, 1024},       // n = 513
        {{205, 1, 1}, {1, 1, 1}, 2048},         // n = 1025
        {{1, 1, 410}, {1, 1, 1}, 4096},         // n = 2050
        {{100, 100, 100}, {0, 1, 1}, 4096},     // r infinite
        {{nan, 1, 1}, {1, 1, 1}, 4096},
        {{-5, -5, -5}, {1, 1, 1}, 512},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KGlobalLUTsClass::TanhTableSize(c.limits, c.slopes), c.size) << c.limits[0];
}

TEST(KGlobalLUTs, TanhTablesAreSharedOddSoftLimiters)
{
    const double limits[3] = {100, 60, 30};
    const double slopes[3] = {1, 0.7, 0.5};
    const KColorLUT* t = KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->m_Size, 512u);
    EXPECT_EQ(t->m_Mask, 511u);
    EXPECT_FALSE(t->m_bOwnsData);
    EXPECT_EQ(KGlobalLUTsClass::GetTanhLUTs(limits, slopes), t);
    const double other[3] = {1, 0.7, 0.51};
    const KColorLUT* u = KGlobalLUTsClass::GetTanhLUTs(limits, other);
    EXPECT_NE(u, t);
    EXPECT_EQ(u->m_pData[0][10], t->m_pData[0][10]);

    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(t->Lookup(c, 0), 0);
        for (int i = 1; i < 256; ++i) {
            const int expected = static_cast<int>(std::trunc(limits[c] * std::tanh(i * slopes[c] / limits[c]) + 0.5));
            ASSERT_EQ(t->Lookup(c, static_cast<KUInt32>(i)), expected) << c << " " << i;
            ASSERT_EQ(t->Lookup(c, static_cast<KUInt32>(-i)), -expected) << c << " " << i;
        }
        EXPECT_EQ(t->Lookup(c, static_cast<KUInt32>(-256)), t->Lookup(c, static_cast<KUInt32>(-255)));
    }
    // Close to the slope for small differences, close to the limit for large ones.
    EXPECT_EQ(t->Lookup(0, 5), 5);
    EXPECT_EQ(t->Lookup(0, 255), 99);
    EXPECT_EQ(t->Lookup(2, 255), 30);
}

TEST(KGlobalLUTs, TanhTablesForDegenerateLimits)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double zero[3] = {0, 0, 0};
    const double slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT* t = KGlobalLUTsClass::GetTanhLUTs(zero, slopes);
    for (int c = 0; c < 3; ++c)
        for (KUInt32 i = 0; i < t->m_Size; ++i)
            ASSERT_EQ(t->m_pData[c][i], 0);
    // Not-a-number limits build (zero) tables once and find them again.
    const double bad[3] = {nan, 1e300, -1e300};
    const KColorLUT* b = KGlobalLUTsClass::GetTanhLUTs(bad, slopes);
    EXPECT_EQ(b->m_Size, 4096u);
    EXPECT_EQ(b->m_pData[0][100], 0);
    EXPECT_EQ(b->m_pData[1][100], 70);
    EXPECT_EQ(KGlobalLUTsClass::GetTanhLUTs(bad, slopes), b);
}

TEST(KGlobalLUTs, ManyThreadsGetTheSameTables)
{
    constexpr int kThreads = 8;
    std::vector<const void*> seen(kThreads * 3);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([i, &seen] {
            const double limits[3] = {42, 42, 42};
            const double slopes[3] = {0.6, 0.65, 0.7};
            seen[i * 3] = KGlobalLUTsClass::GetCubeRootLUT();
            seen[i * 3 + 1] = KGlobalLUTsClass::GetCubeLUT();
            const KColorLUT* t = KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
            seen[i * 3 + 2] = t;
            volatile int sum = 0;
            for (KUInt32 k = 0; k < t->m_Size; ++k)
                sum = sum + t->m_pData[1][k];
        });
    for (auto& t : threads)
        t.join();
    for (int i = 1; i < kThreads; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(seen[i * 3 + k], seen[k]);
}

namespace {
std::atomic<bool> g_InLongBuild{false};
}  // namespace

// A table whose build takes longer than a tenth of a second, as on a loaded machine: another thread's getter
// waits for the build instead of failing with "error acquiring MUTEX".
TEST(KGlobalLUTs, AGetterWaitsForAnotherThreadsLongBuild)
{
    KGlobalLUTsClass::GetCubeRootLUT();
    g_InLongBuild = false;
    g_GlobalTableBuildForTest.store([] {
        g_InLongBuild = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    });
    std::thread builder([] {
        const double limits[3] = {37.25, 37.25, 37.25}, slopes[3] = {0.55, 0.55, 0.55};  // built nowhere else
        KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    });
    while (!g_InLongBuild)
        std::this_thread::yield();
    const KLUT* table = nullptr;
    EXPECT_NO_THROW(table = KGlobalLUTsClass::GetCubeRootLUT());
    EXPECT_NE(table, nullptr);
    builder.join();
    g_GlobalTableBuildForTest.store(nullptr);
}
