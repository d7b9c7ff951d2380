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

void stampWatermark(const uint8_t wmData[payloadSize])
{
    // Each pass fills one luma row, so rows 0 and 1 come out identical.
    for (int pass = 0; pass < bandPasses; ++pass)
        encodeBandRow(wmData, payloadSize, frameBuf + pass * bandRowLength);
    std::memset(pUPlane, neutralChroma, chromaRowLength);
    std::memset(pVPlane, neutralChroma, chromaRowLength);
}
