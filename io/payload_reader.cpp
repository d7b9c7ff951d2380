#include "payload_reader.h"

#include <cstring>

PayloadRead readNextPayload(PayloadReader& reader, uint8_t markDat[payloadSize])
{
    if (reader.exhausted)
        return PayloadRead::repeated;
    const size_t got = std::fread(markDat, 1, payloadSize, reader.pFile);
    if (got == payloadSize) {
        ++reader.wholeRecords;
        return PayloadRead::whole;
    }
    if (std::ferror(reader.pFile))
        return PayloadRead::failed;
    reader.exhausted = true;
    // A short last record never carries the tail of the one before it.
    if (got > 0)
        std::memset(markDat + got, 0, payloadSize - got);
    return PayloadRead::ranOut;
}
