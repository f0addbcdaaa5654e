#include "KRowBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "PlatformThread.h"

namespace {

constexpr int kMaxThreads = 8;
std::atomic<int> g_ThreadCount{0};  // 0: from the machine or the environment

int ThreadsFromEnvironment()
{
    if (const char* text = std::getenv("LUMO_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (*text && !*end && n >= 1)
            return static_cast<int>(std::min<long>(n, 64));
    }
    return std::clamp(PlatGetProcessorCount(), 1, kMaxThreads);
}

// One run of bands: the bands are claimed one at a time by the caller and by the pool's workers.
struct Job {
    const std::function<void(int)>* body = nullptr;
    int count = 0;
    int next = 0;      // under the pool's lock: the next band nobody has claimed
    int finished = 0;  // under the pool's lock
    std::vector<std::exception_ptr> errors;
    std::condition_variable done;
};

// The threads of the process that run bands, started as they are first needed and kept until the process
// ends. A caller runs bands of its own run too, so a run completes whatever the workers are busy with, and a
// band may itself run bands.
class WorkerPool {
public:
    static WorkerPool& Get()
    {
        // Never destroyed: workers may still wait on it while the process exits.
        static WorkerPool* pool = new WorkerPool();
        return *pool;
    }

    void Run(int count, const std::function<void(int)>& body)
    {
        Job job;
        job.body = &body;
        Start(job, count, count - 1);
        Complete(job);
    }

    // Queues the job's bands for the workers, with at least `workers` of them.
    void Start(Job& job, int count, int workers)
    {
        job.count = count;
        job.errors.resize(static_cast<size_t>(count));
        std::lock_guard<std::mutex> lock(m_Lock);
        Grow(workers);
        m_Jobs.push_back(&job);
        m_Work.notify_all();
    }

    // Runs the bands nobody has taken yet here, starting with the first, and waits for the others.
    void Complete(Job& job)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        while (job.next < job.count) {
            const int band = Claim(job);
            lock.unlock();
            RunBand(job, band);
            lock.lock();
            Finish(job);
        }
        job.done.wait(lock, [&] { return job.finished == job.count; });
        lock.unlock();
        for (std::exception_ptr& error : job.errors) {
            if (error) {
                const std::exception_ptr first = std::exchange(error, nullptr);
                std::rethrow_exception(first);
            }
        }
    }

private:
    WorkerPool() = default;

    // Under m_Lock: takes the job's next band, and the job off the queue once its last band is taken.
    int Claim(Job& job)
    {
        const int band = job.next++;
        if (job.next == job.count)
            m_Jobs.erase(std::find(m_Jobs.begin(), m_Jobs.end(), &job));
        return band;
    }

    // Under m_Lock.
    static void Finish(Job& job)
    {
        if (++job.finished == job.count)
            job.done.notify_all();
    }

    static void RunBand(Job& job, int band)
    {
        try {
            (*job.body)(band);
        } catch (...) {
            job.errors[static_cast<size_t>(band)] = std::current_exception();
        }
    }

    // Under m_Lock: at least `wanted` workers, as far as threads can be had.
    void Grow(int wanted)
    {
        while (m_Workers < wanted) {
            try {
                std::thread(&WorkerPool::Work, this).detach();
            } catch (...) {
                return;  // the callers run the bands that no worker takes
            }
            ++m_Workers;
        }
    }

    void Work()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            m_Work.wait(lock, [&] { return !m_Jobs.empty(); });
            Job& job = *m_Jobs.front();
            const int band = Claim(job);
            lock.unlock();
            RunBand(job, band);
            lock.lock();
            Finish(job);
        }
    }

    std::mutex m_Lock;
    std::condition_variable m_Work;
    std::deque<Job*> m_Jobs;  // runs with bands nobody has claimed yet, oldest first
    int m_Workers = 0;
};

}  // namespace

struct KPoolTask::State {
    std::function<void(int)> body;  // the task, as the job's one band
    Job job;
    bool waited = false;
};

KPoolTask::KPoolTask(std::function<void()> task) : m_State(std::make_unique<State>())
{
    State& state = *m_State;
    state.body = [task = std::move(task)](int) { task(); };
    state.job.body = &state.body;
    WorkerPool::Get().Start(state.job, 1, std::min(1, KRowBands::GetThreadCount() - 1));
}

KPoolTask::~KPoolTask()
{
    if (m_State->waited)
        return;
    try {
        Wait();
    } catch (...) {
        // Dropped: whoever wanted to know would have waited.
    }
}

void KPoolTask::Wait()
{
    if (m_State->waited)
        return;
    m_State->waited = true;
    WorkerPool::Get().Complete(m_State->job);
}

int KRowBands::GetThreadCount()
{
    static const int threads = ThreadsFromEnvironment();
    const int set = g_ThreadCount.load(std::memory_order_relaxed);
    return set > 0 ? set : threads;
}

void KRowBands::SetThreadCount(int threads)
{
    g_ThreadCount.store(std::max(0, std::min(threads, 64)), std::memory_order_relaxed);
}

KRowBands::KRowBands(KInt32 begin, KInt32 end, KInt32 minRows)
    : m_Begin(begin), m_Rows(std::max<KInt32>(0, end - begin)), m_Count(1)
{
    const KInt32 least = std::max<KInt32>(1, minRows);
    m_Count = static_cast<int>(std::clamp<KInt64>(m_Rows / least, 1, GetThreadCount()));
}

KInt32 KRowBands::Begin(int band) const
{
    const KInt32 base = m_Rows / m_Count, extra = m_Rows % m_Count;
    const KInt32 i = std::clamp(band, 0, m_Count);
    return m_Begin + i * base + std::min(i, extra);
}

void KRowBands::Run(const std::function<void(int band, KInt32 begin, KInt32 end)>& body) const
{
    if (m_Count == 1) {
        body(0, Begin(0), End(0));
        return;
    }
    RunTasks(m_Count, [&](int band) { body(band, Begin(band), End(band)); });
}

void KRowBands::RunTasks(int count, const std::function<void(int task)>& body)
{
    if (count <= 0)
        return;
    if (count == 1) {
        body(0);
        return;
    }
    WorkerPool::Get().Run(count, body);
}
