// The clock form's reading on any words, one a frame: a record read is a
// codeword of the code at K = 40 that packs back to itself, a word beyond
// the code is left as it was, and the sequence and the latency figures
// stay consistent and bounded whatever the counters do.
#include <array>
#include <cstdlib>
#include <cstring>

#include "clock_check.h"
#include "clock_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ClockSequence sequence;
    LatencyStats latency;
    int64_t unread = 0;
    for (size_t at = 0; at + payloadSize <= size; at += payloadSize) {
        std::array<uint8_t, payloadSize> word{};
        std::memcpy(word.data(), data + at, payloadSize);
        const std::array<uint8_t, payloadSize> received = word;
        ClockRecord record;
        int corrected = -1;
        const ClockRead read = readClockRecord(word.data(), record, corrected);
        if ((read == ClockRead::uncorrectable || read == ClockRead::flat) && word != received)
            std::abort();
        if (read != ClockRead::ok) {
            noteUnreadClock(sequence);
            ++unread;
            continue;
        }
        std::array<uint8_t, payloadSize> packed{};
        packClockRecord(record, packed.data());
        if (packed != word || corrected < 0 || corrected > 10)
            std::abort();
        followClock(sequence, record);
        addLatency(latency, record.stampedNs);
    }
    const ClockTotals& t = sequence.totals;
    if (t.missing < 0 || t.repeated < 0 || t.outOfOrder < 0 || t.restarts < 0 ||
        sequence.gaps.size() > clockGapsKept)
        std::abort();
    // The figures lie between the least and the largest, in order.
    int64_t previous = latency.least;
    for (const double q : {0.0, 0.25, 0.5, 0.95, 1.0}) {
        const int64_t value = latencyQuantile(latency, q);
        if (latency.count > 0 && (value < previous || value > latency.largest))
            std::abort();
        previous = value;
    }
    (void)unread;
    return 0;
}
