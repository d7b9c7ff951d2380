// Frame layout and watermark band encoder: the geometry of the raw video,
// the one process-wide frame buffer, and the code that writes a payload into
// the top band of a frame. No I/O lives here.
#pragma once

#include <cstddef>
#include <cstdint>

// Headerless planar YUV 4:2:0, 8 bits a sample, built-in size.
constexpr int32_t frameWidth = 1920;
constexpr int32_t frameHeight = 1080;

// Offsets in signed 32-bit arithmetic, product first, then scale; every
// division is exact at the built-in size.
constexpr int32_t lumaPlaneSize = frameWidth * frameHeight;
constexpr int32_t uPlaneOffset = lumaPlaneSize;
constexpr int32_t vPlaneOffset = lumaPlaneSize * 5 / 4;
constexpr int32_t chromaRowLength = frameWidth / 2;

// One payload record: 60 bytes a frame, every byte payload.
constexpr size_t payloadSize = 60;
constexpr int samplesPerSymbol = 8;
constexpr int symbolsPerByte = 4;
constexpr int bandPasses = 2;
// One pass of the payload is one luma row.
constexpr int bandRowLength = static_cast<int>(payloadSize) * symbolsPerByte * samplesPerSymbol;
constexpr int bandLength = bandPasses * bandRowLength;
constexpr uint8_t neutralChroma = 128;

static_assert(bandRowLength == frameWidth, "one pass must fill one luma row");
static_assert(bandLength == 2 * frameWidth, "the band is luma rows 0 and 1");

// The frame buffer and its companions, valid from setUpFrameBuffer until
// releaseFrameBuffer.
extern uint64_t frameSize;
extern uint8_t* frameBuf;
extern uint8_t* pUPlane;
extern uint8_t* pVPlane;

// Allocates the frame buffer and sets the plane pointers. Returns false, and
// leaves everything unset, when the buffer cannot be allocated.
bool setUpFrameBuffer();
void releaseFrameBuffer();

// Luma level of a 2-bit symbol: 16, 89, 162 or 235.
uint8_t symbolLevel(uint8_t symbol);

// Writes `payloadBytes` bytes of `payload` as runs of symbol levels into
// `dstRow`, which must hold payloadBytes * 32 samples.
void encodeBandRow(const uint8_t* payload, size_t payloadBytes, uint8_t* dstRow);

// Stamps one payload into the frame held in frameBuf: luma rows 0 and 1
// carry the band, chroma row 0 of both chroma planes becomes neutral.
void stampWatermark(const uint8_t wmData[payloadSize]);

// The three spans of a frame that stamping writes; every other byte is the
// source's.
struct FrameSpan {
    int32_t offset;
    int32_t length;
};
constexpr FrameSpan stampedSpans[3] = {
    {0, bandLength}, {uPlaneOffset, chromaRowLength}, {vPlaneOffset, chromaRowLength}};

// Stamps the part of a frame that `window` holds: bytes `from` to
// from + length - 1 of the frame (`from` may be negative, or the window run
// past the frame: such bytes belong to other frames and are left alone).
void stampWindow(const uint8_t wmData[payloadSize], int64_t from, size_t length, uint8_t* window);

// Largest decoding margin: half the distance between two levels.
constexpr double maxMargin = 36.5;

// Reads `payloadBytes` bytes back from the two band rows, each holding
// payloadBytes * 32 samples. Each run is judged by the mean of its inner
// samples in both rows against thresholds half-way between the levels.
// Returns the margin: the smallest distance of any run's mean to a
// threshold, at most maxMargin. A small margin means a run is close to
// reading as another symbol.
double decodeBandRows(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes,
                      uint8_t* payload);

// Whether two band rows look stamped rather than like a picture: level
// changes sit on the run grid, or, with few changes, every run sits on one
// of four levels. A flat picture (a letterbox bar, a clear sky) cannot be
// told from a payload of one symbol and reads as a band.
bool looksLikeBand(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes);

// Whether chroma row 0 of both planes is near neutral, as stamping leaves
// it through compression.
bool chromaRowsNeutral(const uint8_t* uRow, const uint8_t* vRow, size_t length);
