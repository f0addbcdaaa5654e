#pragma once
// The monotonic clock and sleeping.
#include <cstdint>

// The performance counter: ticks of a monotonic clock that never goes back, PlatQueryPerformanceFrequency
// ticks a second. Both always succeed here.
bool PlatQueryPerformanceCounter(int64_t* count);
bool PlatQueryPerformanceFrequency(int64_t* frequency);

// Sleeps at least `milliseconds` (0 gives the processor to another thread; PLAT_INFINITE sleeps for ever).
void PlatSleep(uint32_t milliseconds);
