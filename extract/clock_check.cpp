#include "clock_check.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int64_t binNs = 10000; // 10 us

// The bin of a latency's magnitude.
int binOf(uint64_t magnitude)
{
    const uint64_t units = magnitude / binNs;
    if (units < LatencyStats::linearBins)
        return static_cast<int>(units);
    int octave = 0;
    while (octave < LatencyStats::octaves - 1 && units >> (octave + 1) >= LatencyStats::linearBins)
        ++octave;
    const uint64_t step = units >> octave;
    const uint64_t within =
        std::min<uint64_t>(step, 2 * LatencyStats::linearBins - 1) - LatencyStats::linearBins;
    return LatencyStats::linearBins * (octave + 1) + static_cast<int>(within);
}

// The middle of a bin, in nanoseconds.
double binMiddle(int bin)
{
    if (bin < LatencyStats::linearBins)
        return (bin + 0.5) * binNs;
    const int octave = bin / LatencyStats::linearBins - 1;
    const int within = bin % LatencyStats::linearBins;
    return std::ldexp(LatencyStats::linearBins + within + 0.5, octave) * binNs;
}

// Takes counter `c` out of the gaps it was counted missing in, where it is
// still remembered. Whether it was.
bool fillGap(std::vector<ClockSequence::Gap>& gaps, uint64_t c)
{
    for (size_t i = 0; i < gaps.size(); ++i) {
        ClockSequence::Gap& gap = gaps[i];
        if (c < gap.from || c > gap.to)
            continue;
        if (gap.from == gap.to)
            gaps.erase(gaps.begin() + static_cast<std::ptrdiff_t>(i));
        else if (c == gap.from)
            ++gap.from;
        else if (c == gap.to)
            --gap.to;
        else {
            const ClockSequence::Gap after{c + 1, gap.to};
            gap.to = c - 1;
            gaps.insert(gaps.begin() + static_cast<std::ptrdiff_t>(i) + 1, after);
            if (gaps.size() > clockGapsKept)
                gaps.erase(gaps.begin());
        }
        return true;
    }
    return false;
}

} // namespace

ClockEvent followClock(ClockSequence& s, const ClockRecord& record)
{
    ClockEvent event;
    event.lastCounter = s.lastCounter;
    const int64_t unread = s.unreadSince;
    s.unreadSince = 0;
    if (!s.started || record.run != s.run) {
        event.step = !s.started ? (record.counter == 0 ? ClockStep::inStep : ClockStep::starts)
                                : ClockStep::restarts;
        s.totals.restarts += s.started ? 1 : 0;
        s.started = true;
        s.run = record.run;
        s.lastCounter = record.counter;
        s.gaps.clear();
        return event;
    }
    const uint64_t c = record.counter;
    if (c == s.lastCounter) {
        event.step = ClockStep::repeats;
        ++s.totals.repeated;
    } else if (c < s.lastCounter) {
        event.step = ClockStep::outOfOrder;
        ++s.totals.outOfOrder;
        // Shown late, so not missing after all.
        if (fillGap(s.gaps, c))
            --s.totals.missing;
    } else {
        s.lastCounter = c;
        // Frames that could not be read stand for the counters after the
        // last one shown.
        const uint64_t passed = c - event.lastCounter - 1;
        const uint64_t standIn = std::min(passed, static_cast<uint64_t>(unread));
        if (passed > standIn) {
            event.step = ClockStep::skips;
            event.missingFrom = event.lastCounter + 1 + standIn;
            event.missingTo = c - 1;
            s.totals.missing += static_cast<int64_t>(passed - standIn);
            s.gaps.push_back({event.missingFrom, event.missingTo});
            if (s.gaps.size() > clockGapsKept)
                s.gaps.erase(s.gaps.begin());
        }
    }
    return event;
}

void noteUnreadClock(ClockSequence& sequence)
{
    ++sequence.unreadSince;
}

bool clockInStep(const ClockTotals& t)
{
    return t.missing == 0 && t.repeated == 0 && t.outOfOrder == 0 && t.restarts == 0;
}

void addLatency(LatencyStats& stats, int64_t nanoseconds)
{
    if (stats.count == 0) {
        stats.negative.assign(LatencyStats::binsPerSign, 0);
        stats.positive.assign(LatencyStats::binsPerSign, 0);
        stats.least = stats.largest = nanoseconds;
    }
    ++stats.count;
    stats.least = std::min(stats.least, nanoseconds);
    stats.largest = std::max(stats.largest, nanoseconds);
    // The magnitude of the most negative value too, without overflow.
    const uint64_t magnitude = nanoseconds < 0 ? 0 - static_cast<uint64_t>(nanoseconds)
                                               : static_cast<uint64_t>(nanoseconds);
    auto& bins = nanoseconds < 0 ? stats.negative : stats.positive;
    ++bins[static_cast<size_t>(binOf(magnitude))];
}

int64_t latencyQuantile(const LatencyStats& stats, double q)
{
    if (stats.count == 0)
        return 0;
    const auto rank = std::clamp<int64_t>(
        static_cast<int64_t>(std::ceil(q * static_cast<double>(stats.count))), 1, stats.count);
    // The ends are known exactly.
    if (rank == 1)
        return stats.least;
    if (rank == stats.count)
        return stats.largest;
    int64_t seen = 0;
    double value = 0;
    bool found = false;
    // From the most negative bin up.
    for (int bin = LatencyStats::binsPerSign - 1; bin >= 0 && !found; --bin) {
        seen += static_cast<int64_t>(stats.negative[static_cast<size_t>(bin)]);
        if (seen >= rank) {
            value = -binMiddle(bin);
            found = true;
        }
    }
    for (int bin = 0; bin < LatencyStats::binsPerSign && !found; ++bin) {
        seen += static_cast<int64_t>(stats.positive[static_cast<size_t>(bin)]);
        if (seen >= rank) {
            value = binMiddle(bin);
            found = true;
        }
    }
    const auto ns = static_cast<int64_t>(std::llround(value));
    return std::clamp(ns, stats.least, stats.largest);
}
