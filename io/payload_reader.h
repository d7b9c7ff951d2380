// The watermark data file, one 60-byte record a frame. A short last record
// is padded with zeros; once the data is exhausted every further frame gets
// the last payload again.
#pragma once

#include <cstdint>
#include <cstdio>

#include "stream_io.h"
#include "watermark.h"

struct PayloadReader {
    NamedStream data;
    size_t recordSize = payloadSize; // fewer for the data inside a coded payload
    bool exhausted = false;
    int64_t wholeRecords = 0;
    size_t shortRecordBytes = 0; // the bytes of a short last record, once read
};

enum class PayloadRead {
    whole,    // a whole record of its own
    ranOut,   // the first frame without one: padded short record or repeat
    repeated, // the data ran out on an earlier frame
    failed,   // read error; errno tells why
};

// Says, once, that the data ran out: on wmstamp's console as its other
// messages are (`program` nullptr), or as "program: ..." like every other
// message of that program.
void printRanOut(FILE* pConsole, const char* program, const PayloadReader& reader);

// Fills markDat's first recordSize bytes with the payload for the next frame. markDat must hold
// what the previous call left there (zeros before the first call).
PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize]);

// Counts the records no frame used, a short last one included, where the
// data's size is known (a regular file). False where it is not: a pipe or
// a device may never end, so it is not read through.
bool countUnusedRecords(const PayloadReader& reader, int64_t& records);
