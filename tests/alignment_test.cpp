// Frame identity on synthetic sequences: which record each frame carries,
// and what the timing between frames says.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "alignment.h"

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
