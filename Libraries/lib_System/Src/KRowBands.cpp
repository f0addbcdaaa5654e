#include "KRowBands.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

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
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(processors), 1, kMaxThreads);
}

}  // namespace

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
    std::vector<std::exception_ptr> errors(static_cast<size_t>(m_Count));
    auto run = [&](int band) {
        try {
            body(band, Begin(band), End(band));
        } catch (...) {
            errors[static_cast<size_t>(band)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(m_Count) - 1);
    try {
        for (int band = 1; band < m_Count; ++band)
            threads.emplace_back(run, band);
    } catch (...) {
        // No thread to be had: the bands that did not start run here.
        for (int band = static_cast<int>(threads.size()) + 1; band < m_Count; ++band)
            run(band);
    }
    run(0);
    for (std::thread& thread : threads)
        thread.join();
    for (const std::exception_ptr& error : errors)
        if (error)
            std::rethrow_exception(error);
}
