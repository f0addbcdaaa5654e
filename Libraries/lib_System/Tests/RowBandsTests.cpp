#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "KRowBands.h"

namespace {

// Sets the thread count for one test.
struct Threads {
    explicit Threads(int n) { KRowBands::SetThreadCount(n); }
    ~Threads() { KRowBands::SetThreadCount(0); }
};

}  // namespace

TEST(RowBands, CutRowsIntoContiguousBandsOfAtLeastTheLeastRows)
{
    Threads threads(4);
    struct Case {
        KInt32 begin, end, minRows;
        std::vector<KInt32> starts;  // of each band, then the end
    } cases[] = {
        {0, 1536, 64, {0, 384, 768, 1152, 1536}},
        {0, 130, 64, {0, 65, 130}},         // two bands of at least 64
        {0, 127, 64, {0, 127}},             // fewer than twice the least: one band
        {10, 21, 1, {10, 13, 16, 19, 21}},  // the first bands one row longer
        {5, 5, 64, {5, 5}},                 // no rows: one empty band
        {7, 3, 1, {7, 7}},
    };
    for (const Case& c : cases) {
        const KRowBands bands(c.begin, c.end, c.minRows);
        ASSERT_EQ(bands.Count() + 1, static_cast<int>(c.starts.size())) << c.begin << ".." << c.end;
        for (int i = 0; i <= bands.Count(); ++i)
            EXPECT_EQ(bands.Begin(i), c.starts[static_cast<size_t>(i)]) << c.begin << ".." << c.end << " band " << i;
    }
}

TEST(RowBands, RunVisitsEveryRowOnceWithTheFirstBandOnTheCaller)
{
    Threads threads(3);
    const KRowBands bands(0, 300, 16);
    ASSERT_EQ(bands.Count(), 3);
    std::vector<std::atomic<int>> visits(300);
    std::atomic<int> bandsOnCaller{0};
    const std::thread::id caller = std::this_thread::get_id();
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        if (std::this_thread::get_id() == caller)
            bandsOnCaller += band == 0 ? 1 : 100;
        for (KInt32 r = begin; r < end; ++r)
            ++visits[static_cast<size_t>(r)];
    });
    for (const std::atomic<int>& v : visits)
        EXPECT_EQ(v.load(), 1);
    EXPECT_EQ(bandsOnCaller.load() % 100, 1);
}

TEST(RowBands, ExceptionComesBackAfterEveryBandHasEnded)
{
    Threads threads(4);
    const KRowBands bands(0, 400, 10);
    std::atomic<int> ended{0};
    EXPECT_THROW(bands.Run([&](int band, KInt32, KInt32) {
        ++ended;
        if (band == 2)
            throw std::runtime_error("band 2 failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(ended.load(), 4);

    KRowBands::SetThreadCount(1);
    EXPECT_EQ(KRowBands(0, 400, 10).Count(), 1);
}

TEST(RowBands, BandsThatRunBandsAndRunsFromSeveralThreadsAllComplete)
{
    Threads threads(4);
    // Several callers at once, each of whose bands cuts its rows into bands again: every row is visited once
    // whoever runs the bands, and nobody waits for a band that no thread will take.
    constexpr int kCallers = 3, kRows = 256;
    std::vector<std::vector<std::atomic<int>>> visits(kCallers);
    for (auto& rows : visits)
        rows = std::vector<std::atomic<int>>(kRows);
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            for (int round = 0; round < 20; ++round)
                KRowBands(0, kRows, 16).Run([&](int, KInt32 begin, KInt32 end) {
                    KRowBands(begin, end, 4).Run([&](int, KInt32 b, KInt32 e) {
                        for (KInt32 r = b; r < e; ++r)
                            ++visits[static_cast<size_t>(c)][static_cast<size_t>(r)];
                    });
                });
        });
    for (std::thread& caller : callers)
        caller.join();
    for (const auto& rows : visits)
        for (const std::atomic<int>& v : rows)
            EXPECT_EQ(v.load(), 20);

    std::vector<int> tasks(5, 0);
    KRowBands::RunTasks(5, [&](int task) { tasks[static_cast<size_t>(task)] += task + 1; });
    EXPECT_EQ(tasks, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(PoolTask, RunsBesideItsCallerOnceAndBringsBackItsException)
{
    for (const int n : {1, 4}) {
        SCOPED_TRACE(n);
        Threads threads(n);
        // With several threads a worker runs the task while its caller goes on; with one, Wait may run it.
        std::atomic<bool> started{false}, release{false};
        std::atomic<int> runs{0};
        KPoolTask task([&] {
            started = true;
            while (n > 1 && !release.load())
                std::this_thread::yield();
            ++runs;
        });
        while (n > 1 && !started.load())
            std::this_thread::yield();
        release = true;
        task.Wait();
        task.Wait();
        EXPECT_EQ(runs.load(), 1);

        KPoolTask failing([] { throw std::runtime_error("the disk is full"); });
        EXPECT_THROW(failing.Wait(), std::runtime_error);
        EXPECT_NO_THROW(failing.Wait());
    }
    // Not waited for: the destructor waits, and drops the exception.
    std::atomic<int> ended{0};
    {
        Threads threads(4);
        KPoolTask a([&] { ++ended; });
        KPoolTask b([&] {
            ++ended;
            throw std::runtime_error("nobody asks");
        });
    }
    EXPECT_EQ(ended.load(), 2);
}
