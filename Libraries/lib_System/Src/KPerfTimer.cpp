#include "KPerfTimer.h"

#include "PlatformSync.h"
#include "PlatformTime.h"

KPerfTimer::KPerfTimer()
{
    Reset();
}

void KPerfTimer::Reset()
{
    m_Start = m_Stop = m_Accumulated = 0;
    m_Intervals = 0;
    m_Running = false;
}

KInt64 KPerfTimer::priNow()
{
    int64_t count = 0;
    PlatQueryPerformanceCounter(&count);
    return count;
}

void KPerfTimer::Start()
{
    m_Start = m_Stop = priNow();
    m_Running = true;
}

void KPerfTimer::Stop()
{
    m_Stop = priNow();
    m_Running = false;
    ++m_Intervals;
    m_Accumulated += m_Stop - m_Start;
}

double KPerfTimer::GetElapsedSeconds() const
{
    return static_cast<double>(priNow() - m_Start) * GetSecondsPerTick();
}

double KPerfTimer::GetSecondsPerTick()
{
    int64_t frequency = 1;
    PlatQueryPerformanceFrequency(&frequency);
    return 1.0 / static_cast<double>(frequency);
}

void SleepSeconds(double seconds)
{
    double milliseconds = seconds * 1000.0;
    // The longest finite sleep: PLAT_INFINITE would never end.
    const double longest = static_cast<double>(PLAT_INFINITE - 1);
    if (!(milliseconds > 0.0))
        milliseconds = 0.0;
    else if (milliseconds > longest)
        milliseconds = longest;
    PlatSleep(static_cast<KUInt32>(milliseconds));
}

void SleepMilliseconds(KUInt32 milliseconds)
{
    // Straight through: milliseconds x 0.001 x 1000 in doubles comes out a millisecond short for some values.
    PlatSleep(milliseconds == PLAT_INFINITE ? PLAT_INFINITE - 1 : milliseconds);
}
