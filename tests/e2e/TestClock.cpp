#include "tests/e2e/TestClock.h"

#include <atomic>
#include <ctime>

extern "C" int __real_clock_gettime (clockid_t clock, timespec* time);

namespace
{
    std::atomic<long long> advancedNs { 0 };
}

void TestClock::advance (int milliseconds)
{
    advancedNs += (long long) milliseconds * 1000000;
}

extern "C" int __wrap_clock_gettime (clockid_t clock, timespec* time)
{
    const auto result = __real_clock_gettime (clock, time);

    if (result == 0 && clock == CLOCK_MONOTONIC)
    {
        const auto ns = (long long) time->tv_nsec + advancedNs.load();
        time->tv_sec += (time_t) (ns / 1000000000);
        time->tv_nsec = (long) (ns % 1000000000);
    }

    return result;
}
