// The watermark data file, one 60-byte record a frame. A short last record
// is padded with zeros; once the data is exhausted every further frame gets
// the last payload again.
#pragma once

#include <cinttypes>
#include <cstdint>

#include "stream_io.h"
#include "watermark.h"

struct PayloadReader {
    NamedStream data;
    bool exhausted = false;
    int64_t wholeRecords = 0;
};

enum class PayloadRead {
    whole,    // a whole record of its own
    ranOut,   // the first frame without one: padded short record or repeat
    repeated, // the data ran out on an earlier frame
    failed,   // read error; errno tells why
};

// Said once, with the file name and wholeRecords, when the data runs out.
constexpr const char* ranOutMessage =
    "Watermark data file \"%s\" ran out after %" PRId64 " whole records\n";

// Fills markDat with the payload for the next frame. markDat must hold what
// the previous call left there (zeros before the first call).
PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize]);

// Reads the data to its end and counts the records no frame used, a short
// last one included. False on a read error.
bool countUnusedRecords(PayloadReader& reader, int64_t& records);
