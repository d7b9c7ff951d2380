#include "alignment.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int noDistance = 8 * static_cast<int>(payloadSize) + 1;

uint64_t contentHash(const uint8_t* payload)
{
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < payloadSize; ++i)
        h = (h ^ payload[i]) * 1099511628211ull;
    return h;
}

bool sameContent(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, payloadSize) == 0;
}

} // namespace

FrameAligner::FrameAligner(RecordStore& store) : store_(store) {}

void FrameAligner::indexUpTo(size_t count)
{
    if (count <= indexed_)
        return;
    // At most half full; a larger table takes every record again.
    if (2 * count > slots_.size()) {
        size_t size = 1024;
        while (size < 2 * count)
            size *= 2;
        slots_.assign(size, 0);
        indexed_ = 0;
    }
    sameNext_.resize(count, -1);
    repeats_.resize(count, false);
    shown_.resize(count, false);
    accounted_.resize(count, false);
    nearestOther_.resize(count, -1);
    const size_t mask = slots_.size() - 1;
    for (; indexed_ < count; ++indexed_) {
        const uint8_t* record = store_.records[indexed_].data();
        size_t slot = static_cast<size_t>(contentHash(record)) & mask;
        while (slots_[slot] != 0 &&
               !sameContent(store_.records[static_cast<size_t>(slots_[slot] - 1)].data(), record))
            slot = (slot + 1) & mask;
        // Newest first: a chain of equal records runs from the latest back.
        sameNext_[indexed_] = slots_[slot] - 1;
        if (slots_[slot] != 0) {
            repeats_[indexed_] = true;
            repeats_[static_cast<size_t>(slots_[slot] - 1)] = true;
        }
        slots_[slot] = static_cast<int32_t>(indexed_ + 1);
    }
}

// A record of exactly this content, the nearest at or before `near` of
// those the chain reaches in a bounded walk; -1 when there is none.
int64_t FrameAligner::findExact(const uint8_t* payload, int64_t near) const
{
    const size_t mask = slots_.size() - 1;
    size_t slot = static_cast<size_t>(contentHash(payload)) & mask;
    while (slots_[slot] != 0) {
        int64_t record = slots_[slot] - 1;
        if (sameContent(store_.records[static_cast<size_t>(record)].data(), payload)) {
            int64_t found = record;
            for (int steps = 0; steps < 64 && record >= 0 && found > near; ++steps) {
                found = record;
                record = sameNext_[static_cast<size_t>(record)];
            }
            return found;
        }
        slot = (slot + 1) & mask;
    }
    return -1;
}

// Keeps the nearest record in `best` (the first looked at wins a tie) and
// the nearest of other content in `next`.
void FrameAligner::consider(const uint8_t* payload, int64_t record, Candidate& best,
                            Candidate& next) const
{
    const uint8_t* content = store_.records[static_cast<size_t>(record)].data();
    ++comparisons_;
    const int bits = bitDistance(payload, content);
    if (best.record >= 0 &&
        sameContent(store_.records[static_cast<size_t>(best.record)].data(), content))
        return;
    if (bits < best.bits) {
        next = best;
        best = {record, bits};
    } else if (bits < next.bits) {
        next = {record, bits};
    }
}

size_t FrameAligner::available(int64_t wanted)
{
    if (!store_.complete && store_.fill)
        store_.fill(store_, static_cast<size_t>(wanted));
    indexUpTo(store_.records.size());
    return store_.records.size();
}

FrameMatch FrameAligner::match(const uint8_t payload[payloadSize])
{
    const int64_t frame = frames_++;
    int64_t expected = lastRecord_ < 0 ? 0 : lastRecord_ + 1 + unidentifiedSince_;
    // Data from a pipe is read as far as the expected record, and further
    // ahead only for a frame that does not carry it: a pipe that stays open
    // must not stall frames that keep in step.
    const auto count = static_cast<int64_t>(available(expected + 1));
    FrameMatch result;
    // Before the first identified frame, frame n stands at record n.
    result.expected = (lastRecord_ < 0 ? unidentifiedSince_ : expected) + pastEndSince_;
    if (count == 0) {
        ++unidentifiedSince_;
        return result;
    }
    // Past the end of the data every frame carries the last record again.
    expected = std::min(expected, count - 1);

    Candidate best, next;
    consider(payload, expected, best, next);
    if (best.bits != 0) {
        const auto wider = static_cast<int64_t>(available(expected + searchAhead + 1));
        // The previous record first (a repeat), then ahead (drops), then
        // further behind (swaps).
        if (expected > 0)
            consider(payload, expected - 1, best, next);
        for (int64_t r = expected + 1; r < wider && r <= expected + searchAhead; ++r)
            consider(payload, r, best, next);
        for (int64_t r = expected - 2; r >= 0 && r >= expected - searchBehind; --r)
            consider(payload, r, best, next);
        const int64_t exact = findExact(payload, expected);
        if (exact >= 0)
            consider(payload, exact, best, next);
        const bool clear = best.bits * identifyDenominator < next.bits * identifyNumerator;
        if (!clear && store_.complete &&
            fullSearches_ < fullSearchesAtStart + frame / framesPerFullSearch) {
            ++fullSearches_;
            for (int64_t r = 0; r < wider; ++r)
                consider(payload, r, best, next);
        }
    }
    // An exact payload is as far from every record as its own record is.
    if (best.bits == 0)
        next.bits = std::min(next.bits, nearestOther(best.record));
    result.record = best.record;
    result.bitErrors = best.bits;
    result.nextBits = std::min(next.bits, noDistance - 1);
    result.ambiguous = repeats_[static_cast<size_t>(best.record)];
    if (best.bits * identifyDenominator >= next.bits * identifyNumerator) {
        ++unidentifiedSince_;
        return result;
    }
    const FrameMatch classified = classify(best.record);
    result.step = classified.step;
    result.missingFrom = classified.missingFrom;
    result.missingTo = classified.missingTo;
    result.previousFrame = lastFrame_;
    result.pastEnd = classified.pastEnd;
    lastFrame_ = frame;
    return result;
}

// The distance from a record to the nearest record of other content, among
// every record of a small complete DATA or those around it otherwise;
// noDistance when there is none. Found once a record where DATA is
// complete, since then it cannot change.
int FrameAligner::nearestOther(int64_t record)
{
    const auto index = static_cast<size_t>(record);
    if (store_.complete && nearestOther_[index] >= 0)
        return nearestOther_[index];
    const auto count = static_cast<int64_t>(store_.records.size());
    const bool whole = store_.complete && count <= nearestSearchRecords;
    const int64_t from = whole ? 0 : std::max<int64_t>(0, record - searchBehind);
    const int64_t to = whole ? count : std::min(count, record + searchBehind + 1);
    const uint8_t* content = store_.records[index].data();
    int nearest = noDistance;
    for (int64_t r = from; r < to; ++r) {
        const uint8_t* other = store_.records[static_cast<size_t>(r)].data();
        ++comparisons_;
        const int bits = bitDistance(content, other);
        if (bits > 0 && bits < nearest)
            nearest = bits;
    }
    if (store_.complete)
        nearestOther_[index] = static_cast<int16_t>(nearest);
    return nearest;
}

void FrameAligner::account(int64_t record)
{
    const auto index = static_cast<size_t>(record);
    if (!accounted_[index]) {
        accounted_[index] = true;
        ++accountedCount_;
    }
}

FrameMatch FrameAligner::classify(int64_t record)
{
    FrameMatch m;
    const auto index = static_cast<size_t>(record);
    const bool ranOutRepeat = store_.complete &&
                              record == static_cast<int64_t>(store_.records.size()) - 1 &&
                              lastRecord_ == record;
    if (lastRecord_ < 0) {
        m.step = record > 0 ? Step::starts : Step::inStep;
        totals_.firstRecord = record;
        totals_.lastRecord = record;
        ++totals_.matched;
    } else if (shown_[index]) {
        m.step = ranOutRepeat ? Step::inStep : Step::repeats;
        m.pastEnd = ranOutRepeat;
        if (!ranOutRepeat)
            ++totals_.repeated;
    } else if (record < totals_.lastRecord) {
        m.step = Step::outOfOrder;
        totals_.firstRecord = std::min(totals_.firstRecord, record);
        ++totals_.outOfOrder;
        ++totals_.matched;
    } else {
        // Frames that matched nothing since stand for as many records.
        const int64_t between = record - totals_.lastRecord - 1;
        const int64_t gap = std::max<int64_t>(0, between - unidentifiedSince_);
        m.step = gap > 0 ? Step::skips : Step::inStep;
        m.missingFrom = record - gap;
        m.missingTo = record - 1;
        for (int64_t r = totals_.lastRecord + 1; r < m.missingFrom; ++r)
            account(r);
        totals_.lastRecord = record;
        ++totals_.matched;
    }
    pastEndSince_ = ranOutRepeat ? pastEndSince_ + 1 : 0;
    shown_[index] = true;
    account(record);
    // Missing: what the range holds that no frame showed or stood for,
    // wherever in the order the frames showed the rest.
    totals_.missing = totals_.lastRecord - totals_.firstRecord + 1 - accountedCount_;
    lastRecord_ = record;
    unidentifiedSince_ = 0;
    return m;
}
