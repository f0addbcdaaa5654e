#pragma once
// Runs a loop over rows on several threads at once: the rows are cut into contiguous bands, one per thread,
// and the calling thread takes the first band. The other bands run on the process's pool of worker threads,
// started once and kept, or on the caller when it is free before a worker is. For loops whose rows do not depend on each other, or that the
// caller has made independent (for example by keeping copies of the rows around each band's edges).
//
// Threading: Run returns only once every band has returned; the bands share nothing but what the caller gives
// them. Thread-safe: any thread may cut and run bands.
#include <functional>
#include <memory>

#include "KTypes.h"

class KRowBands {
public:
    // Rows [begin, end) in at most GetThreadCount() bands of at least minRows rows (one band when the rows are
    // fewer than twice that), the first bands one row longer where the rows do not divide evenly.
    KRowBands(KInt32 begin, KInt32 end, KInt32 minRows);

    int Count() const { return m_Count; }
    KInt32 Begin(int band) const;
    KInt32 End(int band) const { return Begin(band + 1); }

    // Calls body(band, begin, end) for every band, band 0 on the calling thread and the others on the pool (a
    // band may run bands of its own). When bands throw, the first exception is rethrown once all have returned.
    void Run(const std::function<void(int band, KInt32 begin, KInt32 end)>& body) const;

    // Calls body(task) for task 0 to count - 1 in the same way: task 0 on the calling thread.
    static void RunTasks(int count, const std::function<void(int task)>& body);

    // Threads a loop may use: the processors the process may run on, at most 8; the environment variable LUMO_THREADS sets
    // another number (1 runs every loop on the calling thread).
    static int GetThreadCount();
    // Sets the number of threads for the loops that start from now on (tests and benchmarks compare counts);
    // 0 goes back to the number above.
    static void SetThreadCount(int threads);

private:
    KInt32 m_Begin;
    KInt32 m_Rows;
    int m_Count;
};

// One task run on the same pool while its caller goes on: a worker takes it as it takes bands, or the caller
// runs it in Wait when no worker has (always, on one thread).
//
// Threading: the task runs on one thread, once; what it shares with the caller is the caller's to hand over
// and take back, which Wait does.
class KPoolTask {
public:
    explicit KPoolTask(std::function<void()> task);
    // Waits for the task; an exception it threw and nobody waited for is dropped.
    ~KPoolTask();
    KPoolTask(const KPoolTask&) = delete;
    KPoolTask& operator=(const KPoolTask&) = delete;

    // Returns once the task has run, rethrowing its exception (the first wait only).
    void Wait();

private:
    struct State;
    std::unique_ptr<State> m_State;
};
