#pragma once

/** The monotonic clock as the framework reads it (its millisecond counters, its timers, how long a window
    has gone unpainted), moved on by the test: the e2e executable is linked with libc's clock_gettime
    wrapped, and CLOCK_MONOTONIC answers the real time plus everything advanced so far. It never goes back,
    so sessions that run after a jump only see a clock that started later. Waits inside the framework and
    the C++ library still take real time.
*/
namespace TestClock
{
    void advance (int milliseconds);
}
