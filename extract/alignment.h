// Which record of the watermark data each decoded frame carries, found by
// content rather than by position, so that dropped, repeated and re-timed
// frames are followed. Pure logic: records come in through a store that
// the caller fills, frames one at a time; no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "bit_distance.h"
#include "watermark.h"

using Record = std::array<uint8_t, payloadSize>;

// The records of DATA read so far, in order (a short last one padded).
struct RecordStore {
    std::vector<Record> records;
    bool complete = false; // DATA has been read to its end
    // Reads on until `count` records are held or DATA ends; nullptr when
    // the store is filled beforehand.
    std::function<void(RecordStore&, size_t count)> fill;
};

enum class Step {
    inStep,     // the record after the previous frame's, or the first
    starts,     // the first identified frame, at a record after 0
    skips,      // records were passed over since the previous frame
    repeats,    // a record already shown
    outOfOrder, // a record before one already shown, not shown itself
    unidentified,
};

struct FrameMatch {
    int64_t record = -1;    // the matched record; the nearest when unidentified
    int bitErrors = 0;      // distance to that record
    int nextBits = 0;       // distance to the nearest record of other content
    bool ambiguous = false; // its content stands at other places of DATA too
    Step step = Step::unidentified;
    int64_t missingFrom = 0;    // with Step::skips: the records passed over,
    int64_t missingTo = -1;     // missingFrom to missingTo, none if empty
    int64_t previousFrame = -1; // the previous identified frame
    bool pastEnd = false;       // the last record again, after the data ran out
    // Where the order puts this frame: one after the previous identified
    // frame's record, and one more for each unidentified frame since (frame
    // n, before the first identified frame). Past
    // the data's last record it counts on as stamping did, each frame there
    // carrying the last record again, so that it names a stamped frame.
    int64_t expected = 0;
};

struct AlignmentTotals {
    int64_t firstRecord = -1; // the lowest record matched
    int64_t lastRecord = -1;  // the highest record matched
    int64_t matched = 0;      // frames that matched a record not shown before
    int64_t missing = 0;      // records between first and last no frame showed or stood for
    int64_t repeated = 0;
    int64_t outOfOrder = 0;
};

// A frame is identified when its nearest record is closer than this share
// of the distance to the nearest record of other content.
constexpr int identifyNumerator = 3;
constexpr int identifyDenominator = 5;

// Records looked at around the expected one before a wider search: behind
// it for repeats and swaps, ahead of it for drops.
constexpr int64_t searchBehind = 8;
constexpr int64_t searchAhead = 64;
// Searches of every record, which a long video full of frames that match
// nothing would otherwise make quadratic: so many a run, and one more every
// this many frames.
constexpr int64_t fullSearchesAtStart = 64;
constexpr int64_t framesPerFullSearch = 1000;
// An exact frame's next_bits is a property of its record: the distance to
// the nearest record of other content, found once a record. A DATA of at
// most this many records is searched whole for it; a larger one only
// within searchBehind records either side, which bounds the cost (a few
// hundred nanoseconds a record) but may miss a nearer record farther away.
constexpr int64_t nearestSearchRecords = 1024;

class FrameAligner {
  public:
    explicit FrameAligner(RecordStore& store);
    FrameMatch match(const uint8_t payload[payloadSize]);
    const AlignmentTotals& totals() const { return totals_; }
    // Records compared with payloads so far: at most
    // (searchBehind + searchAhead + 4) a frame, plus every record once a full
    // search, of which there are at most fullSearchesAtStart plus one per
    // framesPerFullSearch frames, plus, once for each record an exact frame
    // shows, min(records, max(nearestSearchRecords, 2 searchBehind + 1)).
    int64_t comparisons() const { return comparisons_; }

  private:
    struct Candidate {
        int64_t record = -1;
        int bits = 8 * static_cast<int>(payloadSize) + 1;
    };
    void indexUpTo(size_t count);
    size_t available(int64_t wanted); // records held after reading up to `wanted`
    int64_t findExact(const uint8_t* payload, int64_t near) const;
    void consider(const uint8_t* payload, int64_t record, Candidate& best, Candidate& next) const;
    FrameMatch classify(int64_t record);
    int nearestOther(int64_t record);
    void account(int64_t record);

    RecordStore& store_;
    std::vector<int32_t> slots_;    // open addressing by content: record + 1, 0 empty
    std::vector<int32_t> sameNext_; // the next record of the same content, or -1
    std::vector<bool> repeats_;     // the record's content stands elsewhere too
    std::vector<bool> shown_;
    std::vector<bool> accounted_; // shown, or stood for by unidentified frames
    int64_t accountedCount_ = 0;
    std::vector<int16_t> nearestOther_; // found once a record; -1 not yet
    size_t indexed_ = 0;
    int64_t frames_ = 0;
    int64_t lastRecord_ = -1; // the previous identified frame's
    int64_t lastFrame_ = -1;
    int64_t unidentifiedSince_ = 0;
    int64_t pastEndSince_ = 0; // frames that carried the last record again since it was shown
    int64_t fullSearches_ = 0;
    mutable int64_t comparisons_ = 0;
    AlignmentTotals totals_;
};
