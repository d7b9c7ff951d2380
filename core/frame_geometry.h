// The shape of a raw planar YUV 4:2:0 frame and of the band stamped into
// it. Every plane offset and size derives from these four numbers, so the
// struct is what travels between the core, the I/O and the programs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct FrameGeometry {
    int32_t width = 1920;  // luma samples a row, even
    int32_t height = 1080; // luma rows, even
    int bitDepth = 8;      // 8, or 10 (two bytes a sample, little-endian)
    int bandRows = 2;      // luma rows that carry the band

    constexpr uint64_t sampleBytes() const { return bitDepth > 8 ? 2 : 1; }
    constexpr uint64_t lumaRowBytes() const { return static_cast<uint64_t>(width) * sampleBytes(); }
    constexpr uint64_t chromaRowBytes() const { return lumaRowBytes() / 2; }
    constexpr uint64_t lumaBytes() const { return lumaRowBytes() * static_cast<uint64_t>(height); }
    constexpr uint64_t chromaBytes() const
    {
        return chromaRowBytes() * static_cast<uint64_t>(height / 2);
    }
    constexpr uint64_t uOffset() const { return lumaBytes(); }
    constexpr uint64_t vOffset() const { return lumaBytes() + chromaBytes(); }
    constexpr uint64_t frameBytes() const { return lumaBytes() + 2 * chromaBytes(); }
    // The chroma rows under the band: half as many, rounded up.
    constexpr int chromaBandRows() const { return (bandRows + 1) / 2; }
    constexpr uint64_t bandBytes() const
    {
        return lumaRowBytes() * static_cast<uint64_t>(bandRows);
    }
    constexpr uint64_t neutralBytes() const
    {
        return chromaRowBytes() * static_cast<uint64_t>(chromaBandRows());
    }
};

// The sizes and depths the programs take.
constexpr int32_t minFrameWidth = 320, maxFrameWidth = 8192;
constexpr int32_t minFrameHeight = 180, maxFrameHeight = 4320;
constexpr int minBandRows = 2, maxBandRows = 16;

// The band's rows at a picture height: two at 1080 and below, and as many
// at larger sizes as keep its share of the picture (4 at 2160, 8 at 4320).
constexpr int bandRowsFor(int32_t height)
{
    const int rows = static_cast<int>((2 * static_cast<int64_t>(height) + 540) / 1080);
    return rows < minBandRows ? minBandRows : rows;
}

// The built-in geometry: 1920x1080, 8 bits, two band rows.
constexpr FrameGeometry builtInGeometry{};

// Why a geometry cannot be read or written, or nullptr when it can.
const char* geometryProblem(const FrameGeometry& geometry);

// A run of a frame's bytes.
struct FrameSpan {
    uint64_t offset;
    uint64_t length;
};

// The three spans of a frame that stamping writes (the band rows, then the
// neutral rows of U and of V); every other byte is the source's.
std::array<FrameSpan, 3> stampedSpans(const FrameGeometry& geometry);
