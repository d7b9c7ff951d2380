// The clock form's payload: a record of wmpack's code with 40 data bytes
// that say which run stamped the frame, its counter and when it was
// stamped, so that a reader finds drops, repeats, restarts and latency
// with no data file. No I/O lives here.
#pragma once

#include <cstdint>

#include "watermark.h"

// The data bytes of a clock record; the other 20 are the code's parity.
constexpr int clockDataBytes = 40;

// Big-endian in the data bytes: the run identifier in bytes 0-7, the
// counter in 8-15, the time of stamping in 16-23; bytes 24-39 are zero.
struct ClockRecord {
    uint64_t run = 0;      // chosen at random when the stamping starts; never 0
    uint64_t counter = 0;  // the frame's number in its run, from 0
    int64_t stampedNs = 0; // wall-clock time, nanoseconds since 1970-01-01 UTC
};

// Writes the record's data bytes and their parity into `word`.
void packClockRecord(const ClockRecord& record, uint8_t word[payloadSize]);

enum class ClockRead {
    ok,            // the record, corrected where the code could
    uncorrectable, // beyond the code's reach
    notClock,      // a valid word whose zero bytes are not: another payload
    flat,          // one byte value throughout: what a flat picture reads as
};

// Corrects `word` in place and reads its record; `corrected` gets the
// bytes the code changed (0 unless ok).
ClockRead readClockRecord(uint8_t word[payloadSize], ClockRecord& record, int& corrected);
