// The watermark data file, one 60-byte record a frame. A short last record
// is padded with zeros; once the data is exhausted every further frame gets
// the last payload again.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "stream_io.h"
#include "watermark.h"

// Consecutive records that differ in fewer bits than this (but differ at
// all) are shown by heavy compression as the record before often enough to
// read as drops and repeats that never happened: measured through libx264
// at CRF 35 to 40 with bench/close_records.py (doc/compression.md).
constexpr int closeRecordBits = 8;

struct PayloadReader {
    NamedStream data;
    size_t recordSize = payloadSize; // fewer for the data inside a coded payload
    bool exhausted = false;
    int64_t wholeRecords = 0;
    size_t shortRecordBytes = 0; // the bytes of a short last record, once read
    // What the data looks like, found as it is read and said once each.
    std::array<uint8_t, payloadSize> firstRecord{}; // record 0 as read
    bool textLines = false;                         // lines of recordSize characters and a line end
    std::array<uint8_t, payloadSize> lastStamped{}; // the last record noted
    int64_t stampedRecords = 0;
    int64_t closeRecord = -1; // the first record too close to the one before
    int closeBits = 0;
    unsigned noticesSaid = 0;
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

// Notes a record as it is stamped (with wmpack's code, as packed), so that
// consecutive records too close to each other are found.
void noteStampedRecord(PayloadReader& reader, const uint8_t record[payloadSize]);

// Says once each, on standard error as "program: ...", what makes the data
// likely not to be what the user meant: no record at all, text lines one
// byte longer than a record, consecutive records closer than
// closeRecordBits (wmpack keeps them apart).
void printDataNotices(const char* program, PayloadReader& reader);

// Counts the records no frame used, a short last one included, where the
// data's size is known (a regular file). False where it is not: a pipe or
// a device may never end, so it is not read through.
bool countUnusedRecords(const PayloadReader& reader, int64_t& records);
