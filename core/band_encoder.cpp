#include <algorithm>
#include <cstring>

#include "watermark.h"

uint8_t symbolLevel(uint8_t symbol)
{
    // Four levels 73 apart, from video black to video white.
    static constexpr uint8_t levels[4] = {16, 89, 162, 235};
    return levels[symbol & 3];
}

void encodeBandRow(const uint8_t* payload, size_t payloadBytes, uint8_t* dstRow)
{
    uint8_t* cursor = dstRow;
    for (size_t i = 0; i < payloadBytes; ++i) {
        unsigned work = payload[i];
        for (int k = 0; k < symbolsPerByte; ++k) {
            const auto symbol = static_cast<uint8_t>((work & 0xC0u) >> 6);
            work <<= 2;
            std::memset(cursor, symbolLevel(symbol), samplesPerSymbol);
            cursor += samplesPerSymbol;
        }
    }
}

void stampWindow(const uint8_t wmData[payloadSize], int64_t from, size_t length, uint8_t* window)
{
    const int64_t to = from + static_cast<int64_t>(length);
    for (const FrameSpan& span : stampedSpans) {
        const int64_t begin = std::max<int64_t>(span.offset, from);
        const int64_t end = std::min<int64_t>(span.offset + span.length, to);
        if (begin >= end)
            continue;
        uint8_t* dst = window + (begin - from);
        const auto count = static_cast<size_t>(end - begin);
        if (span.offset != 0) {
            std::memset(dst, neutralChroma, count);
            continue;
        }
        // The band is encoded only for a window that holds part of it, and
        // straight into place when it holds all of it. Each pass fills one
        // luma row, so rows 0 and 1 come out identical.
        uint8_t band[bandLength];
        uint8_t* rows = count == static_cast<size_t>(bandLength) ? dst : band;
        for (int pass = 0; pass < bandPasses; ++pass)
            encodeBandRow(wmData, payloadSize, rows + pass * bandRowLength);
        if (rows == band)
            std::memcpy(dst, band + begin, count);
    }
}

void stampWatermark(const uint8_t wmData[payloadSize])
{
    stampWindow(wmData, 0, frameSize, frameBuf);
}
