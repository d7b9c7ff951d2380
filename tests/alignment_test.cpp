// Frame identity on synthetic sequences: which record each frame carries,
// and what the timing between frames says.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "alignment.h"
#include "pairing.h"

namespace {

RecordStore randomRecords(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    RecordStore store;
    store.records.resize(count);
    for (Record& r : store.records)
        for (uint8_t& b : r)
            b = static_cast<uint8_t>(rng());
    store.complete = true;
    return store;
}

// Flips `bits` distinct bits of a copy of `r`.
Record damaged(const Record& r, int bits)
{
    Record d = r;
    for (int i = 0; i < bits; ++i)
        d[static_cast<size_t>(i * 7 % 60)] ^= static_cast<uint8_t>(1u << (i / 60 + i % 3));
    return d;
}

// Runs the frames carrying `records` (-1: a random payload) and writes
// what each frame matched and how, e.g. "3 skips 1-2", one per frame.
std::string align(FrameAligner& aligner, const RecordStore& store, const std::vector<int>& records,
                  int damageBits = 0)
{
    std::string out;
    std::mt19937 rng(99);
    for (int r : records) {
        Record payload{};
        if (r >= 0)
            payload = damaged(store.records[static_cast<size_t>(r)], damageBits);
        else
            for (uint8_t& b : payload)
                b = static_cast<uint8_t>(rng());
        const FrameMatch m = aligner.match(payload.data());
        static const char* names[] = {"in", "starts", "skips", "repeats", "swap", "unknown"};
        out += (m.step == Step::unidentified ? std::string("?") : std::to_string(m.record)) + " " +
               names[static_cast<int>(m.step)];
        if (m.step == Step::skips)
            out += " " + std::to_string(m.missingFrom) + "-" + std::to_string(m.missingTo);
        out += m.ambiguous ? " same\n" : "\n";
    }
    return out;
}

// The distance from record r to the nearest record of other content,
// counted here on its own.
int nearestOther(const RecordStore& store, size_t r)
{
    int nearest = 481;
    for (const Record& other : store.records) {
        int bits = 0;
        for (size_t i = 0; i < payloadSize; ++i)
            for (unsigned x = store.records[r][i] ^ other[i]; x != 0; x &= x - 1)
                ++bits;
        if (bits > 0)
            nearest = std::min(nearest, bits);
    }
    return nearest;
}

std::string totals(const FrameAligner& aligner)
{
    const AlignmentTotals& t = aligner.totals();
    return std::to_string(t.firstRecord) + "-" + std::to_string(t.lastRecord) + ": " +
           std::to_string(t.matched) + " matched, " + std::to_string(t.missing) + " missing, " +
           std::to_string(t.repeated) + " repeated, " + std::to_string(t.outOfOrder) +
           " out of order";
}

} // namespace

TEST(Alignment, DropsRepeatsAndASwapThroughDamage)
{
    RecordStore store = randomRecords(20, 1);
    FrameAligner aligner(store);
    // A late start, a drop of two, a repeat, a swap, an early end; every
    // frame 90 bits off, as heavy compression leaves them.
    EXPECT_EQ(align(aligner, store, {2, 3, 6, 6, 7, 9, 8, 10}, 90),
              "2 starts\n3 in\n6 skips 4-5\n6 repeats\n7 in\n9 skips 8-8\n8 swap\n10 in\n");
    EXPECT_EQ(totals(aligner), "2-10: 7 matched, 2 missing, 1 repeated, 1 out of order");
}

TEST(Alignment, UnidentifiedFramesStandForTheirRecords)
{
    RecordStore store = randomRecords(1000, 2);
    FrameAligner aligner(store);
    EXPECT_EQ(align(aligner, store, {0, 1, -1, -1, 4, 5, -1, 900, 901}),
              "0 in\n1 in\n? unknown\n? unknown\n4 in\n5 in\n? unknown\n900 skips 7-899\n901 in\n");
    EXPECT_EQ(totals(aligner), "0-901: 6 matched, 893 missing, 0 repeated, 0 out of order");
}

TEST(Alignment, RepeatedRecordsRelyOnOrder)
{
    // A short cycle: every record's content stands at three places.
    RecordStore cycle = randomRecords(3, 3);
    for (size_t i = 0; i < 6; ++i)
        cycle.records.push_back(cycle.records[i]);
    FrameAligner byOrder(cycle);
    EXPECT_EQ(align(byOrder, cycle, {0, 1, 2, 3, 4, 5, 6, 7, 8}),
              "0 in same\n1 in same\n2 in same\n3 in same\n4 in same\n5 in same\n6 in same\n"
              "7 in same\n8 in same\n");
    EXPECT_EQ(totals(byOrder), "0-8: 9 matched, 0 missing, 0 repeated, 0 out of order");

    // Past the end of the data the last record is shown again, in step.
    RecordStore one = randomRecords(1, 4);
    FrameAligner last(one);
    EXPECT_EQ(align(last, one, {0, 0, 0}, 30), "0 in\n0 in\n0 in\n");
    EXPECT_EQ(totals(last), "0-0: 1 matched, 0 missing, 0 repeated, 0 out of order");
}

TEST(Alignment, DataFromAPipeIsReadOnlyAsFarAsTheFramesNeed)
{
    RecordStore source = randomRecords(200, 5);
    RecordStore store;
    size_t asked = 0;
    store.fill = [&](RecordStore& s, size_t count) {
        asked = std::max(asked, count);
        while (s.records.size() < count && s.records.size() < source.records.size())
            s.records.push_back(source.records[s.records.size()]);
        s.complete = s.records.size() == source.records.size();
    };
    FrameAligner aligner(store);
    EXPECT_EQ(align(aligner, source, {0, 1, 2, 3}), "0 in\n1 in\n2 in\n3 in\n");
    EXPECT_EQ(asked, 4u);
    // A drop needs the records ahead.
    EXPECT_EQ(align(aligner, source, {10, 11}), "10 skips 4-9\n11 in\n");
    EXPECT_EQ(asked, 4u + 1 + searchAhead);
}

TEST(Alignment, MissingIsWhatTheRangeHoldsThatNoFrameShowed)
{
    // Whatever the order the frames show records in, a record of the range
    // that none showed is missing.
    RecordStore store = randomRecords(8, 6);
    FrameAligner late(store);
    EXPECT_EQ(align(late, store, {3, 4, 5, 1}), "3 starts\n4 in\n5 in\n1 swap\n");
    EXPECT_EQ(totals(late), "1-5: 4 matched, 1 missing, 0 repeated, 1 out of order");
    FrameAligner back(store);
    EXPECT_EQ(align(back, store, {2, 4, 0}), "2 starts\n4 skips 3-3\n0 swap\n");
    EXPECT_EQ(totals(back), "0-4: 3 matched, 2 missing, 0 repeated, 1 out of order");
    // An unidentified frame stands for the record after the last one shown;
    // that record shown later fills no other place.
    FrameAligner standIn(store);
    EXPECT_EQ(align(standIn, store, {0, -1, 3, 1}), "0 in\n? unknown\n3 skips 2-2\n1 swap\n");
    EXPECT_EQ(totals(standIn), "0-3: 3 matched, 1 missing, 0 repeated, 1 out of order");
}

TEST(Alignment, TheLastRecordAgainIsTheDataRunningOutOnlyRightAfterItself)
{
    RecordStore store = randomRecords(4, 7);
    FrameAligner ranOut(store);
    EXPECT_EQ(align(ranOut, store, {0, 1, 2, 3, 3, 3}), "0 in\n1 in\n2 in\n3 in\n3 in\n3 in\n");
    EXPECT_EQ(totals(ranOut), "0-3: 4 matched, 0 missing, 0 repeated, 0 out of order");
    // Shown again after another record, it is a repeat like any other.
    FrameAligner again(store);
    EXPECT_EQ(align(again, store, {0, 1, 2, 3, 1, 3}),
              "0 in\n1 in\n2 in\n3 in\n1 repeats\n3 repeats\n");
    EXPECT_EQ(totals(again), "0-3: 4 matched, 0 missing, 2 repeated, 0 out of order");
}

TEST(Alignment, AFrameIsIdentifiedOnlyWellInsideItsNearestRecord)
{
    // Payloads on the way from record 0 to record 1: `k` of the bits in
    // which the two differ taken from record 1. Identified while k is less
    // than 0.6 of the distance left to record 1.
    RecordStore store = randomRecords(20, 8);
    const Record& from = store.records[0];
    const Record& to = store.records[1];
    std::vector<int> differing;
    for (int bit = 0; bit < 480; ++bit)
        if (((from[static_cast<size_t>(bit / 8)] ^ to[static_cast<size_t>(bit / 8)]) >> (bit % 8)) &
            1)
            differing.push_back(bit);
    const int d = static_cast<int>(differing.size());
    const auto between = [&](int k) {
        Record p = from;
        for (int i = 0; i < k; ++i)
            p[static_cast<size_t>(differing[static_cast<size_t>(i)] / 8)] ^=
                static_cast<uint8_t>(1u << (differing[static_cast<size_t>(i)] % 8));
        return p;
    };
    // The largest k still identified, and the ratios either side of it.
    int k = 0;
    while (5 * (k + 1) < 3 * (d - k - 1))
        ++k;
    for (const auto& [bits, identified] :
         std::vector<std::pair<int, bool>>{{k, true}, {k + 1, false}, {d * 7 / 17, false}}) {
        FrameAligner aligner(store);
        const Record payload = between(bits);
        const FrameMatch m = aligner.match(payload.data());
        EXPECT_EQ(m.record, 0) << bits;
        EXPECT_EQ(m.bitErrors, bits);
        EXPECT_EQ(m.nextBits, d - bits);
        EXPECT_EQ(m.step, identified ? Step::inStep : Step::unidentified)
            << bits << " of " << d << " bits";
    }
}

TEST(Alignment, NextBitsOfAnExactFrameIsItsNearestOtherRecordAtABoundedCost)
{
    // Record 5 one bit from record 0, record 280 two bits from record 2: in
    // a small DATA every record is looked at.
    RecordStore small = randomRecords(300, 9);
    small.records[5] = small.records[0];
    small.records[5][17] ^= 0x10;
    small.records[280] = small.records[2];
    small.records[280][3] ^= 0x06;
    FrameAligner whole(small);
    for (int r = 0; r < 3; ++r) {
        const FrameMatch m = whole.match(small.records[static_cast<size_t>(r)].data());
        EXPECT_EQ(m.nextBits, r == 0 ? 1 : r == 2 ? 2 : nearestOther(small, 1)) << r;
    }

    // In a large one, the records around it: 106 one bit from 100, found
    // for a frame that starts at 100.
    RecordStore large = randomRecords(2 * nearestSearchRecords, 10);
    large.records[106] = large.records[100];
    large.records[106][59] ^= 0x01;
    FrameAligner near(large);
    EXPECT_EQ(near.match(large.records[100].data()).nextBits, 1);
    // Frames in step over all of it cost a bounded number of comparisons a
    // record, never a search of every record.
    FrameAligner inStep(large);
    for (const Record& r : large.records)
        ASSERT_EQ(inStep.match(r.data()).bitErrors, 0);
    const auto frames = static_cast<int64_t>(large.records.size());
    EXPECT_LE(inStep.comparisons(), frames * (2 * searchBehind + 2));
}

namespace {

// Runs the frames carrying `records` (-1: a random payload; frame
// `noBand` does not look stamped) and writes the stamped frame each is
// paired with, and "e" where the order chose it, one per frame.
std::string pair(FrameAligner& aligner, const RecordStore& store, const std::vector<int>& records,
                 int noBand = -1)
{
    std::string out;
    std::mt19937 rng(98);
    int frame = 0;
    for (int r : records) {
        Record payload{};
        if (r >= 0)
            payload = damaged(store.records[static_cast<size_t>(r)], 40);
        else
            for (uint8_t& b : payload)
                b = static_cast<uint8_t>(rng());
        const FrameMatch m = aligner.match(payload.data());
        const PairChoice c = choosePair(m, frame++ != noBand, true);
        out += std::to_string(c.source) + (c.by == PairedBy::expected ? " e\n" : "\n");
    }
    return out;
}

} // namespace

TEST(Pairing, EachFrameGetsTheStampedFrameOfItsRecord)
{
    RecordStore store = randomRecords(20, 11);
    // A later start, drops, a repeat and a swap, all identified: their own
    // records, whatever the order.
    FrameAligner timing(store);
    EXPECT_EQ(pair(timing, store, {3, 4, 6, 6, 8, 7, 9}), "3\n4\n6\n6\n8\n7\n9\n");
    // Unidentified frames stand where the order puts them: after the last
    // identified frame, one a frame, and at their own position before the
    // first; a frame without a band likewise, whatever it matched.
    FrameAligner gaps(store);
    EXPECT_EQ(pair(gaps, store, {-1, -1, 2, 3, -1, -1, 9, 13, 11}, 7),
              "0 e\n1 e\n2\n3\n4 e\n5 e\n9\n10 e\n11\n");
}

TEST(Pairing, FramesTheContentCannotTellApartArePairedByTheOrder)
{
    // Records 1 and 4 hold one content: a frame showing it keeps the one
    // the order chose, marked.
    RecordStore store = randomRecords(8, 12);
    store.records[4] = store.records[1];
    FrameAligner repeated(store);
    EXPECT_EQ(pair(repeated, store, {0, 1, 2, 3, 4, 5}), "0\n1 e\n2\n3\n4 e\n5\n");

    // Past the end of the data every frame carries the last record again:
    // the stamped frames after it, one a frame, counted on through an
    // unidentified one, and back to records once another is shown.
    RecordStore four = randomRecords(4, 13);
    FrameAligner ranOut(four);
    EXPECT_EQ(pair(ranOut, four, {0, 1, 2, 3, 3, 3, -1, 3, 1, 2}),
              "0\n1\n2\n3\n4 e\n5 e\n6 e\n7 e\n1\n2\n");
}
