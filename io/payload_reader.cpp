#include "payload_reader.h"

#include "platform.h"

#include <array>
#include <cstring>

PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize])
{
    if (reader.exhausted)
        return PayloadRead::repeated;
    size_t got = 0;
    const BlockRead read = readBlock(reader.data.pFile, markDat, payloadSize, got);
    if (read == BlockRead::whole) {
        ++reader.wholeRecords;
        return PayloadRead::whole;
    }
    if (read == BlockRead::failed)
        return PayloadRead::failed;
    reader.exhausted = true;
    // A short last record never carries the tail of the one before it.
    if (got > 0)
        std::memset(markDat + got, 0, payloadSize - got);
    return PayloadRead::ranOut;
}

bool countUnusedRecords(PayloadReader& reader, int64_t& records)
{
    records = 0;
    if (reader.exhausted)
        return true;
    // A regular file is measured; a pipe (or a pseudo-file claiming no
    // size) is read through.
    uint64_t bytes = 0;
    if (bytesLeftInFile(reader.data.pFile, bytes) && bytes > 0) {
        records = static_cast<int64_t>((bytes + payloadSize - 1) / payloadSize);
        return true;
    }
    std::array<uint8_t, 64 * payloadSize> chunk;
    for (;;) {
        size_t got = 0;
        const BlockRead read = readBlock(reader.data.pFile, chunk.data(), chunk.size(), got);
        bytes += got;
        if (read == BlockRead::failed)
            return false;
        if (read == BlockRead::end)
            break;
    }
    records = static_cast<int64_t>((bytes + payloadSize - 1) / payloadSize);
    return true;
}
