// The clock form's pure pieces: the record's layout, the sequence of
// counters, the latency figures, --every's timer and its value.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "clock_check.h"
#include "clock_record.h"
#include "command_line.h"
#include "reed_solomon.h"
#include "summary_timer.h"

namespace {

// The record read back as a user's script would: eight big-endian bytes
// each, at 0, 8 and 16.
uint64_t bigEndianAt(const uint8_t* word, int at)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value * 256 + word[at + i];
    return value;
}

ClockRecord record(uint64_t run, uint64_t counter, int64_t ns = 0)
{
    ClockRecord r;
    r.run = run;
    r.counter = counter;
    r.stampedNs = ns;
    return r;
}

} // namespace

TEST(ClockRecord, LayoutIsBigEndianFieldsZerosAndTheCodeAtK40)
{
    const ClockRecord r = record(0x0123456789abcdefULL, 0x1122334455667788ULL,
                                 static_cast<int64_t>(0xf0e0d0c0b0a09080ULL));
    uint8_t word[60];
    packClockRecord(r, word);
    EXPECT_EQ(bigEndianAt(word, 0), 0x0123456789abcdefULL);
    EXPECT_EQ(bigEndianAt(word, 8), 0x1122334455667788ULL);
    EXPECT_EQ(bigEndianAt(word, 16), 0xf0e0d0c0b0a09080ULL);
    EXPECT_EQ(word[0], 0x01);
    EXPECT_EQ(word[23], 0x80);
    EXPECT_TRUE(std::all_of(word + 24, word + 40, [](uint8_t b) { return b == 0; }));
    // The last 20 bytes are the parity of wmpack's code at K = 40: a clean
    // word has (at least) its 20 zero syndromes, and wmpack's decoder at
    // K = 40 leaves it alone.
    EXPECT_GE(rsZeroSyndromes(word), 20);
    uint8_t copy[60];
    std::copy(word, word + 60, copy);
    EXPECT_EQ(rsDecode(copy, 40), 0);

    // Read back whole; ten wrong bytes are corrected, eleven are not.
    ClockRecord back;
    int corrected = -1;
    std::copy(word, word + 60, copy);
    for (int i = 0; i < 10; ++i)
        copy[i * 6] ^= 0x5a;
    ASSERT_EQ(readClockRecord(copy, back, corrected), ClockRead::ok);
    EXPECT_EQ(corrected, 10);
    EXPECT_EQ(back.run, r.run);
    EXPECT_EQ(back.counter, r.counter);
    EXPECT_EQ(back.stampedNs, r.stampedNs);
    std::copy(word, word + 60, copy);
    for (int i = 0; i < 11; ++i)
        copy[i * 5] ^= 0xa5;
    EXPECT_EQ(readClockRecord(copy, back, corrected), ClockRead::uncorrectable);
    EXPECT_EQ(corrected, 0);

    // A word of the same code that is not a clock record: wmpack's record
    // of 40 bytes of data.
    uint8_t packed[60] = {};
    for (int i = 0; i < 40; ++i)
        packed[i] = static_cast<uint8_t>(i + 1);
    rsEncode(packed, 40);
    EXPECT_EQ(readClockRecord(packed, back, corrected), ClockRead::notClock);
    // No run is 0, so the record of run 0 is not one.
    packClockRecord(record(0, 5, 12345), copy);
    EXPECT_EQ(readClockRecord(copy, back, corrected), ClockRead::notClock);

    // Flat pictures: black reads as zeros throughout, a codeword of every
    // code, and grey as one level throughout; neither is a clock record.
    for (const int level : {0x00, 0x55, 0xaa, 0xff}) {
        uint8_t flat[60];
        std::fill(flat, flat + 60, static_cast<uint8_t>(level));
        EXPECT_EQ(readClockRecord(flat, back, corrected), ClockRead::flat) << level;
        EXPECT_TRUE(std::all_of(flat, flat + 60, [&](uint8_t b) { return b == level; }));
    }
}

TEST(ClockSequence, GapsRepeatsLateCountersRestartsAndUnreadFrames)
{
    ClockSequence s;
    // A late start is said, not counted.
    ClockEvent e = followClock(s, record(7, 5));
    EXPECT_EQ(e.step, ClockStep::starts);
    EXPECT_EQ(followClock(s, record(7, 6)).step, ClockStep::inStep);
    // 7 and 8 dropped.
    e = followClock(s, record(7, 9));
    EXPECT_EQ(e.step, ClockStep::skips);
    EXPECT_EQ(e.missingFrom, 7u);
    EXPECT_EQ(e.missingTo, 8u);
    EXPECT_EQ(e.lastCounter, 6u);
    EXPECT_EQ(followClock(s, record(7, 9)).step, ClockStep::repeats);
    // 8 comes late: out of order, and no longer missing.
    e = followClock(s, record(7, 8));
    EXPECT_EQ(e.step, ClockStep::outOfOrder);
    EXPECT_EQ(e.lastCounter, 9u);
    EXPECT_EQ(s.totals.missing, 1);
    // 8 again: out of order, and nothing more to take back.
    EXPECT_EQ(followClock(s, record(7, 8)).step, ClockStep::outOfOrder);
    EXPECT_EQ(s.totals.missing, 1);
    EXPECT_EQ(followClock(s, record(7, 10)).step, ClockStep::inStep);
    // Two frames that could not be read stand for 11 and 12; 13 is missing.
    noteUnreadClock(s);
    noteUnreadClock(s);
    e = followClock(s, record(7, 14));
    EXPECT_EQ(e.step, ClockStep::skips);
    EXPECT_EQ(e.missingFrom, 13u);
    EXPECT_EQ(e.missingTo, 13u);
    // An unread frame followed by the next counter stands for nothing.
    noteUnreadClock(s);
    EXPECT_EQ(followClock(s, record(7, 15)).step, ClockStep::inStep);
    ClockTotals expected;
    expected.missing = 2;
    expected.repeated = 1;
    expected.outOfOrder = 2;
    EXPECT_EQ(s.totals.missing, expected.missing);
    EXPECT_EQ(s.totals.repeated, expected.repeated);
    EXPECT_EQ(s.totals.outOfOrder, expected.outOfOrder);
    EXPECT_EQ(s.totals.restarts, 0);
    EXPECT_FALSE(clockInStep(s.totals));

    // Another run: a restart, at whatever counter; its counters are its own.
    EXPECT_EQ(followClock(s, record(8, 0)).step, ClockStep::restarts);
    EXPECT_EQ(followClock(s, record(8, 1)).step, ClockStep::inStep);
    EXPECT_EQ(followClock(s, record(7, 16)).step, ClockStep::restarts);
    EXPECT_EQ(s.totals.restarts, 2);
    EXPECT_EQ(s.totals.missing, 2);

    // In step from 0, and each kind of break alone.
    ClockSequence clean;
    for (uint64_t c = 0; c < 100; ++c)
        EXPECT_EQ(followClock(clean, record(1, c)).step, ClockStep::inStep);
    EXPECT_TRUE(clockInStep(clean.totals));
    for (int kind = 0; kind < 4; ++kind) {
        ClockTotals t;
        (kind == 0   ? t.missing
         : kind == 1 ? t.repeated
         : kind == 2 ? t.outOfOrder
                     : t.restarts) = 1;
        EXPECT_FALSE(clockInStep(t)) << kind;
    }
}

TEST(ClockSequence, MemoryStaysBoundedOverEndlessGaps)
{
    // Every other counter dropped for a long time: the gaps kept stay
    // bounded, and the count goes on exactly.
    ClockSequence s;
    for (uint64_t c = 0; c < 200000; c += 2)
        followClock(s, record(3, c));
    EXPECT_EQ(s.totals.missing, 99999);
    EXPECT_LE(s.gaps.size(), clockGapsKept);
    // A counter from long ago is out of order, and stays counted missing.
    EXPECT_EQ(followClock(s, record(3, 1)).step, ClockStep::outOfOrder);
    EXPECT_EQ(s.totals.missing, 99999);
    // A recent one is taken back.
    followClock(s, record(3, 199997));
    EXPECT_EQ(s.totals.missing, 99998);
}

TEST(LatencyStats, QuantilesWithinTheirBinOfTheExactOnes)
{
    LatencyStats empty;
    EXPECT_EQ(latencyQuantile(empty, 0.5), 0);

    // Latencies from 0.1 ms to 2 s, and some below zero (a clock ahead).
    std::mt19937_64 rng(5);
    std::vector<int64_t> all;
    LatencyStats stats;
    for (int i = 0; i < 20001; ++i) {
        const int64_t ns = static_cast<int64_t>(rng() % 2000000000ULL) - 100000000;
        all.push_back(ns);
        addLatency(stats, ns);
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(stats.least, all.front());
    EXPECT_EQ(stats.largest, all.back());
    EXPECT_EQ(stats.count, 20001);
    for (const double q : {0.0, 0.05, 0.5, 0.95, 1.0}) {
        const auto rank = std::max<size_t>(1, static_cast<size_t>(std::ceil(q * 20001)));
        const int64_t exact = all[rank - 1];
        const int64_t found = latencyQuantile(stats, q);
        // Within 10 us, or 0.1 %, whichever is larger.
        const int64_t tolerance = std::max<int64_t>(10000, (exact < 0 ? -exact : exact) / 1000);
        EXPECT_LE(std::abs(found - exact), tolerance) << q;
    }
    // One value: every figure is that value.
    LatencyStats one;
    addLatency(one, 100123456);
    EXPECT_EQ(latencyQuantile(one, 0.5), 100123456);
    EXPECT_EQ(latencyQuantile(one, 0.95), 100123456);
    // Far past the bins' range: still counted, and the figures stay within
    // the least and the largest.
    LatencyStats extreme;
    addLatency(extreme, INT64_MAX);
    addLatency(extreme, INT64_MIN);
    addLatency(extreme, 0);
    EXPECT_EQ(latencyQuantile(extreme, 0.0), INT64_MIN);
    EXPECT_EQ(latencyQuantile(extreme, 1.0), INT64_MAX);
    EXPECT_LT(std::abs(latencyQuantile(extreme, 0.5)), 10000);
    // The memory is fixed once the first latency came.
    EXPECT_EQ(stats.positive.size(), static_cast<size_t>(LatencyStats::binsPerSign));
}

TEST(SummaryTimer, OneLineEachPeriodFromTheFirstFrameAndNoneAfterAStall)
{
    SummaryTimer off;
    EXPECT_FALSE(summaryDue(off, 0));
    EXPECT_FALSE(summaryDue(off, 1000000000000));

    SummaryTimer t;
    t.periodNs = 100;
    EXPECT_FALSE(summaryDue(t, 1000)); // the period starts
    EXPECT_FALSE(summaryDue(t, 1099));
    EXPECT_TRUE(summaryDue(t, 1100));
    EXPECT_FALSE(summaryDue(t, 1150));
    EXPECT_TRUE(summaryDue(t, 1210)); // on the grid, not from the frame
    EXPECT_FALSE(summaryDue(t, 1299));
    // A stall of many periods gives one line, then a whole period passes.
    EXPECT_TRUE(summaryDue(t, 5050));
    EXPECT_FALSE(summaryDue(t, 5149));
    EXPECT_TRUE(summaryDue(t, 5150));
}

TEST(CommandLine, SecondsForEvery)
{
    int64_t ms = -1;
    EXPECT_TRUE(parseSeconds("2", 86400, ms));
    EXPECT_EQ(ms, 2000);
    EXPECT_TRUE(parseSeconds("0.5", 86400, ms));
    EXPECT_EQ(ms, 500);
    EXPECT_TRUE(parseSeconds("0.001", 86400, ms));
    EXPECT_EQ(ms, 1);
    EXPECT_TRUE(parseSeconds("86400", 86400, ms));
    EXPECT_EQ(ms, 86400000);
    for (const char* bad : {"", "0", "0.0", "0.0001", "86400.001", "86401", "-1", ".5", "1e3", "2s",
                            "1.2345", "99999999999999999999"}) {
        ms = -1;
        EXPECT_FALSE(parseSeconds(bad, 86400, ms)) << bad;
        EXPECT_EQ(ms, -1) << bad;
    }
}
