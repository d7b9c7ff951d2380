// The clocks the programs read: wall-clock time for the clock records and
// their arrival, which two machines can share through NTP or PTP, and a
// steady clock for periods, which a clock step cannot upset.
#pragma once

#include <chrono>
#include <cstdint>

// Nanoseconds since 1970-01-01 UTC.
inline int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Nanoseconds since some fixed moment of this process's life.
inline int64_t steadyClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
