// How the clock records of successive frames stand to each other (in
// step, counters missing, repeated, out of order, a restarted source) and
// what their latencies add up to. Pure logic on records handed in one at a
// time, in memory bounded however long the stream runs; no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "clock_record.h"

enum class ClockStep {
    inStep,     // the counter after the last one, or counter 0 first
    starts,     // the first record read, at a counter after 0
    skips,      // counters were passed over since the last one
    repeats,    // the last counter again
    outOfOrder, // a counter before the last one
    restarts,   // another run identifier: the source started again
};

// What one record says against those before it.
struct ClockEvent {
    ClockStep step = ClockStep::inStep;
    uint64_t missingFrom = 0; // with ClockStep::skips, counters missingFrom
    uint64_t missingTo = 0;   // to missingTo no frame showed
    uint64_t lastCounter = 0; // the highest counter before this record
};

struct ClockTotals {
    int64_t missing = 0; // counters passed over and not shown later
    int64_t repeated = 0;
    int64_t outOfOrder = 0;
    int64_t restarts = 0;
};

// Counters passed over are remembered, a bounded number of gaps back, so
// that one shown late counts as out of order rather than missing.
constexpr size_t clockGapsKept = 256;

struct ClockSequence {
    bool started = false;
    uint64_t run = 0;
    uint64_t lastCounter = 0; // the highest counter of the run so far
    int64_t unreadSince = 0;  // frames without a record since the last one
    struct Gap {
        uint64_t from, to; // counters from to to, inclusive, not shown yet
    };
    std::vector<Gap> gaps; // oldest first, at most clockGapsKept
    ClockTotals totals;
};

// Follows the sequence with the next frame's record.
ClockEvent followClock(ClockSequence& sequence, const ClockRecord& record);

// Notes a frame whose record could not be read: it stands for the counter
// after the last one shown, as a frame too damaged to read.
void noteUnreadClock(ClockSequence& sequence);

// Whether nothing broke the step: no counter missing, repeated or out of
// order, and no restart.
bool clockInStep(const ClockTotals& totals);

// Latencies in a histogram of fixed size: exact below 10.24 ms to 10 us,
// and within 0.1 % above, up to some 127 days either way (clocks on two
// machines can put the arrival before the stamp). The least and the
// largest are kept exactly.
struct LatencyStats {
    static constexpr int linearBins = 1024; // of 10 us
    static constexpr int octaves = 31;      // of 1024 bins each above them
    static constexpr int binsPerSign = linearBins * (octaves + 1);
    std::vector<uint64_t> negative, positive; // binsPerSign each, once a latency came
    int64_t count = 0;
    int64_t least = 0, largest = 0;
};

void addLatency(LatencyStats& stats, int64_t nanoseconds);

// The value at a share `q` (0 to 1) of the latencies, by nearest rank, in
// nanoseconds: the middle of its bin, within the least and the largest.
// 0 with no latency.
int64_t latencyQuantile(const LatencyStats& stats, double q);
