#include "payload_reader.h"

#include "bit_distance.h"
#include "platform.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

namespace {

enum Notice : unsigned { emptyData = 1, textLineData = 2, closeData = 4 };

bool isText(const uint8_t* bytes, size_t count)
{
    return std::all_of(bytes, bytes + count,
                       [](uint8_t b) { return (b >= 0x20 && b < 0x7f) || b == '\t'; });
}

// Record 1 as read: does it start with the line end of a text line that
// filled record 0? (60 characters and a newline, as "60 bytes per line"
// invites, shift every later record by the line ends.)
void noteShape(PayloadReader& reader, const uint8_t* record, size_t got)
{
    if (reader.wholeRecords == 0) {
        std::memcpy(reader.firstRecord.data(), record, std::min(got, payloadSize));
        return;
    }
    if (reader.wholeRecords != 1 || got == 0)
        return;
    const bool lineEnd = record[0] == '\n' || (got > 1 && record[0] == '\r' && record[1] == '\n');
    reader.textLines = lineEnd && isText(reader.firstRecord.data(), reader.recordSize);
}

} // namespace

PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize])
{
    if (reader.exhausted)
        return PayloadRead::repeated;
    size_t got = 0;
    const BlockRead read = readBlock(reader.data.pFile, markDat, reader.recordSize, got);
    if (read != BlockRead::failed)
        noteShape(reader, markDat, got);
    if (read == BlockRead::whole) {
        ++reader.wholeRecords;
        return PayloadRead::whole;
    }
    if (read == BlockRead::failed)
        return PayloadRead::failed;
    reader.exhausted = true;
    // A short last record never carries the tail of the one before it.
    reader.shortRecordBytes = got;
    if (got > 0)
        std::memset(markDat + got, 0, reader.recordSize - got);
    return PayloadRead::ranOut;
}

void printRanOut(FILE* pConsole, const char* program, const PayloadReader& reader)
{
    const int64_t n = reader.wholeRecords;
    if (program == nullptr)
        printNow(pConsole, "Watermark data file \"%s\" ran out after %" PRId64 " whole records\n",
                 reader.data.name, n);
    else
        printNow(pConsole, "%s: watermark data file \"%s\" ran out after %" PRId64 " whole %s\n",
                 program, reader.data.name, n, plural(n, "record", "records"));
}

void noteStampedRecord(PayloadReader& reader, const uint8_t record[payloadSize])
{
    if (reader.stampedRecords > 0 && reader.closeRecord < 0) {
        const int bits = bitDistance(reader.lastStamped.data(), record);
        if (bits > 0 && bits < closeRecordBits) {
            reader.closeRecord = reader.stampedRecords;
            reader.closeBits = bits;
        }
    }
    std::memcpy(reader.lastStamped.data(), record, payloadSize);
    ++reader.stampedRecords;
}

void printDataNotices(const char* program, PayloadReader& reader)
{
    const char* name = reader.data.name;
    const bool empty = reader.exhausted && reader.wholeRecords == 0 && reader.shortRecordBytes == 0;
    if (empty && (reader.noticesSaid & emptyData) == 0) {
        reader.noticesSaid |= emptyData;
        printNow(stderr, "%s: watermark data file \"%s\" is empty: every payload is zeros\n",
                 program, name);
    }
    if (reader.textLines && (reader.noticesSaid & textLineData) == 0) {
        reader.noticesSaid |= textLineData;
        const int size = static_cast<int>(reader.recordSize);
        printNow(stderr,
                 "%s: watermark data file \"%s\" holds lines of %d characters and a line end, "
                 "but its records are %d bytes with no line end: every record after the first "
                 "is shifted by them\n",
                 program, name, size, size);
    }
    if (reader.closeRecord >= 0 && (reader.noticesSaid & closeData) == 0) {
        reader.noticesSaid |= closeData;
        const int64_t r = reader.closeRecord;
        printNow(stderr,
                 "%s: records %" PRId64 " and %" PRId64
                 " of watermark data file \"%s\" differ in only %d %s: heavy compression may "
                 "show one for the other (wmpack keeps records apart)\n",
                 program, r - 1, r, name, reader.closeBits,
                 plural(reader.closeBits, "bit", "bits"));
    }
}

bool countUnusedRecords(const PayloadReader& reader, int64_t& records)
{
    records = 0;
    if (reader.exhausted)
        return true;
    uint64_t bytes = 0;
    if (!bytesLeftInFile(reader.data.pFile, bytes))
        return false;
    records = static_cast<int64_t>((bytes + reader.recordSize - 1) / reader.recordSize);
    return true;
}
