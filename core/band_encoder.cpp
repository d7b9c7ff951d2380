#include <algorithm>
#include <array>
#include <cstring>

#include "watermark.h"

namespace {

// `count` samples of an 8-bit `level` at `bitDepth`: at 10 bits the level
// is four times as large (16, 89, 162, 235 become 64, 356, 648, 940; 128
// becomes 512), in two little-endian bytes.
void fillSamples(uint8_t* dst, int count, uint8_t level, int bitDepth)
{
    if (bitDepth <= 8) {
        std::memset(dst, level, static_cast<size_t>(count));
        return;
    }
    const unsigned wide = static_cast<unsigned>(level) << (bitDepth - 8);
    for (int i = 0; i < count; ++i) {
        dst[2 * i] = static_cast<uint8_t>(wide & 0xFFu);
        dst[2 * i + 1] = static_cast<uint8_t>(wide >> 8);
    }
}

// The part of one row of the frame, rendered in `row`, that a window of
// the frame's bytes `from` to `to` holds.
void copyOverlap(const uint8_t* row, uint64_t rowStart, uint64_t rowBytes, int64_t from, int64_t to,
                 uint8_t* window)
{
    const int64_t begin = std::max(static_cast<int64_t>(rowStart), from);
    const int64_t end = std::min(static_cast<int64_t>(rowStart + rowBytes), to);
    if (begin < end)
        std::memcpy(window + (begin - from), row + (begin - static_cast<int64_t>(rowStart)),
                    static_cast<size_t>(end - begin));
}

bool overlaps(uint64_t rowStart, uint64_t rowBytes, int64_t from, int64_t to)
{
    return static_cast<int64_t>(rowStart)<to&& static_cast<int64_t>(rowStart + rowBytes)> from;
}

} // namespace

uint8_t symbolLevel(uint8_t symbol)
{
    // Four levels 73 apart, from video black to video white.
    static constexpr uint8_t levels[4] = {16, 89, 162, 235};
    return levels[symbol & 3];
}

int symbolSpanStart(int k, int symbols, int width)
{
    // The smallest x with (2x + 1) * symbols >= 2 * width * k.
    const int64_t over = 2 * static_cast<int64_t>(width) * k - symbols;
    if (over <= 0)
        return 0;
    return static_cast<int>((over + 2 * symbols - 1) / (2 * symbols));
}

void encodeBandRow(const uint8_t* payload, size_t payloadBytes, uint8_t* dstRow, int width,
                   int bitDepth)
{
    const int symbols = static_cast<int>(payloadBytes) * symbolsPerByte;
    const size_t sampleBytes = bitDepth > 8 ? 2 : 1;
    int start = 0;
    for (size_t i = 0; i < payloadBytes; ++i) {
        unsigned work = payload[i];
        for (int k = 0; k < symbolsPerByte; ++k) {
            const auto symbol = static_cast<uint8_t>((work & 0xC0u) >> 6);
            work <<= 2;
            const int end =
                symbolSpanStart(static_cast<int>(i) * symbolsPerByte + k + 1, symbols, width);
            fillSamples(dstRow + static_cast<size_t>(start) * sampleBytes, end - start,
                        symbolLevel(symbol), bitDepth);
            start = end;
        }
    }
}

void stampBand(const uint8_t wmData[payloadSize], uint8_t* y, ptrdiff_t strideY, uint8_t* u,
               ptrdiff_t strideU, uint8_t* v, ptrdiff_t strideV, int width, int bandRows,
               int bitDepth)
{
    // Every band row carries the whole payload, so rows 1 on are copies.
    encodeBandRow(wmData, payloadSize, y, width, bitDepth);
    const size_t rowBytes = static_cast<size_t>(width) * (bitDepth > 8 ? 2 : 1);
    for (int r = 1; r < bandRows; ++r)
        std::memcpy(y + r * strideY, y, rowBytes);
    for (int r = 0; r < (bandRows + 1) / 2; ++r) {
        fillSamples(u + r * strideU, width / 2, neutralChroma, bitDepth);
        fillSamples(v + r * strideV, width / 2, neutralChroma, bitDepth);
    }
}

void stampWatermark(const uint8_t wmData[payloadSize])
{
    const FrameGeometry& g = frameGeometry;
    stampBand(wmData, frameBuf, static_cast<ptrdiff_t>(g.lumaRowBytes()), pUPlane,
              static_cast<ptrdiff_t>(g.chromaRowBytes()), pVPlane,
              static_cast<ptrdiff_t>(g.chromaRowBytes()), g.width, g.bandRows, g.bitDepth);
}

void stampWindow(const FrameGeometry& g, const uint8_t wmData[payloadSize], int64_t from,
                 size_t length, uint8_t* window)
{
    const int64_t to = from + static_cast<int64_t>(length);
    // Rows are rendered once, into scratch, and only for a window that
    // holds part of them; each is then copied where the window has it.
    std::array<uint8_t, 2 * maxFrameWidth> row;
    bool rendered = false;
    for (int r = 0; r < g.bandRows; ++r) {
        const uint64_t start = static_cast<uint64_t>(r) * g.lumaRowBytes();
        if (!overlaps(start, g.lumaRowBytes(), from, to))
            continue;
        if (!rendered)
            encodeBandRow(wmData, payloadSize, row.data(), g.width, g.bitDepth);
        rendered = true;
        copyOverlap(row.data(), start, g.lumaRowBytes(), from, to, window);
    }
    rendered = false;
    for (const uint64_t plane : {g.uOffset(), g.vOffset()}) {
        for (int r = 0; r < g.chromaBandRows(); ++r) {
            const uint64_t start = plane + static_cast<uint64_t>(r) * g.chromaRowBytes();
            if (!overlaps(start, g.chromaRowBytes(), from, to))
                continue;
            if (!rendered)
                fillSamples(row.data(), g.width / 2, neutralChroma, g.bitDepth);
            rendered = true;
            copyOverlap(row.data(), start, g.chromaRowBytes(), from, to, window);
        }
    }
}
