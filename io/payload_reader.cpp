#include "payload_reader.h"

#include "platform.h"

#include <cinttypes>
#include <cstring>

PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize])
{
    if (reader.exhausted)
        return PayloadRead::repeated;
    size_t got = 0;
    const BlockRead read = readBlock(reader.data.pFile, markDat, reader.recordSize, got);
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
