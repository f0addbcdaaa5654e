#include "PlatformTime.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "PlatformSync.h"

bool PlatQueryPerformanceCounter(int64_t* count)
{
    if (!count)
        return false;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *count = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return true;
}

bool PlatQueryPerformanceFrequency(int64_t* frequency)
{
    if (!frequency)
        return false;
    *frequency = 1000000000;
    return true;
}

void PlatSleep(uint32_t milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == PLAT_INFINITE) {
        for (;;)
            pause();
    }
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_sec += milliseconds / 1000;
    at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (at.tv_nsec >= 1000000000) {
        at.tv_sec += 1;
        at.tv_nsec -= 1000000000;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}
