// The alignment on any records and frames: a record in range for every
// frame, totals that add up, and no more work than its bound.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "alignment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Records and frames as 60-byte slices; a few distinct bytes make
    // records that repeat, as real data has.
    const size_t records = 1 + data[0] % 64, alphabet = 1 + data[1] % 4;
    RecordStore store;
    store.complete = true;
    std::vector<Record> frames;
    for (size_t at = 2, n = 0; at < size; at += 8, ++n) {
        Record r{};
        for (size_t i = 0; i < payloadSize; ++i)
            r[i] =
                static_cast<uint8_t>(data[at + i % std::min<size_t>(8, size - at)] % alphabet * 85);
        (n < records ? store.records : frames).push_back(r);
    }
    if (store.records.empty())
        return 0;
    FrameAligner aligner(store);
    const auto count = static_cast<int64_t>(store.records.size());
    for (const Record& frame : frames) {
        const FrameMatch m = aligner.match(frame.data());
        if (m.record < 0 || m.record >= count || m.bitErrors > 480 || m.nextBits > 480)
            std::abort();
    }
    const AlignmentTotals& t = aligner.totals();
    const auto n = static_cast<int64_t>(frames.size());
    if (t.firstRecord >= 0 && t.matched + t.missing > t.lastRecord - t.firstRecord + 1)
        std::abort();
    if (t.matched + t.repeated > n || t.matched > count)
        std::abort();
    const int64_t nearest = std::min(count, std::max(nearestSearchRecords, 2 * searchBehind + 1));
    const int64_t bound = n * (searchBehind + searchAhead + 4) +
                          (fullSearchesAtStart + n / framesPerFullSearch + 1) * count +
                          std::min(n, count) * nearest;
    if (aligner.comparisons() > bound)
        std::abort();
    return 0;
}
