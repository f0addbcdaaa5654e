#pragma once
// A stopwatch on the performance counter, and sleeping. A timer belongs to one thread at a time.
#include "KTypes.h"

class KPerfTimer {
public:
    KPerfTimer();  // reset

    void Reset();
    void Start();
    // Ends the current interval and adds it to the accumulated time.
    void Stop();
    // Seconds since the last Start, whether stopped since or not.
    double GetElapsedSeconds() const;
    // 1 / the counter's frequency.
    static double GetSecondsPerTick();

private:
    static KInt64 priNow();

    KInt64 m_Start = 0;
    KInt64 m_Stop = 0;
    KInt64 m_Accumulated = 0;
    KUInt32 m_Intervals = 0;
    bool m_Running = false;
};

// Sleeps seconds x 1000 milliseconds, the fraction cut off (so under a millisecond only yields). Negative or
// not-a-number sleeps 0; beyond the 32-bit range of milliseconds sleeps the longest finite time.
void SleepSeconds(double seconds);
void SleepMilliseconds(KUInt32 milliseconds);
