// Frame layout and watermark band encoder: the geometry of the raw video,
// the one process-wide frame buffer, and the code that writes a payload into
// the top band of a frame. No I/O lives here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_geometry.h"

// Headerless planar YUV 4:2:0, 8 bits a sample, built-in size; other
// sizes and depths come as a FrameGeometry.
constexpr int32_t frameWidth = builtInGeometry.width;
constexpr int32_t frameHeight = builtInGeometry.height;

// One payload record: 60 bytes a frame, every byte payload.
constexpr size_t payloadSize = 60;
constexpr int symbolsPerByte = 4;
// Every band row carries the whole payload as this many two-bit symbols.
constexpr int bandSymbols = static_cast<int>(payloadSize) * symbolsPerByte;
// At the built-in width a symbol is a run of 8 samples, and the two band
// rows are 3,840 samples.
constexpr int samplesPerSymbol = 8;
constexpr int bandRowLength = bandSymbols * samplesPerSymbol;
constexpr int bandLength = builtInGeometry.bandRows * bandRowLength;
constexpr uint8_t neutralChroma = 128;

static_assert(bandRowLength == frameWidth, "one pass must fill one luma row");

// The frame buffer and its companions, valid from setUpFrameBuffer until
// releaseFrameBuffer; frameGeometry is the shape they were set up for.
extern uint64_t frameSize;
extern uint8_t* frameBuf;
extern uint8_t* pUPlane;
extern uint8_t* pVPlane;
extern FrameGeometry frameGeometry;

// Allocates the frame buffer for the built-in geometry, or for `geometry`,
// and sets the plane pointers. Returns false, and leaves everything unset,
// when the buffer cannot be allocated.
bool setUpFrameBuffer();
bool setUpFrameBuffer(const FrameGeometry& geometry);
void releaseFrameBuffer();

// Luma level of a 2-bit symbol: 16, 89, 162 or 235.
uint8_t symbolLevel(uint8_t symbol);

// The first sample of symbol `k` of `symbols` spread across `width`
// samples: sample x carries the symbol floor((2x + 1) * symbols / (2 * width)),
// the one its centre falls in. At 240 symbols across 1920 samples, 8k.
int symbolSpanStart(int k, int symbols, int width);

// Writes the band row of `payloadBytes` bytes of `payload` (four symbols
// a byte, most significant pair first) across `width` samples of `dstRow`:
// a byte a sample at `bitDepth` 8, two little-endian bytes at 10, where the
// levels are four times as large.
void encodeBandRow(const uint8_t* payload, size_t payloadBytes, uint8_t* dstRow, int width,
                   int bitDepth = 8);

// Stamps a payload into a frame's planes: luma rows 0 to bandRows - 1 carry
// the band, chroma rows 0 to ceil(bandRows / 2) - 1 of u and v are neutral.
// Strides are in bytes; `width` is the luma width in samples.
void stampBand(const uint8_t wmData[payloadSize], uint8_t* y, ptrdiff_t strideY, uint8_t* u,
               ptrdiff_t strideU, uint8_t* v, ptrdiff_t strideV, int width, int bandRows,
               int bitDepth);

// Stamps one payload into the frame held in frameBuf, at frameGeometry.
void stampWatermark(const uint8_t wmData[payloadSize]);

// Stamps the part of a frame at `geometry` that `window` holds: bytes
// `from` to from + length - 1 of the frame (`from` may be negative, or the
// window run past the frame: such bytes belong to other frames and are left
// alone).
void stampWindow(const FrameGeometry& geometry, const uint8_t wmData[payloadSize], int64_t from,
                 size_t length, uint8_t* window);

// Largest decoding margin: half the distance between two levels.
constexpr double maxMargin = 36.5;

// Which of the luma rows a reader looks at carry the band. `sure`: they
// all lie within the share of the height any stamp covers (a stamp's band
// is at least 1/540 of its picture's height, and keeps that share when the
// picture is scaled), and are averaged as they are. Otherwise `found` are
// the rows that repeat row 0; a rendition may have thinned the band to less
// than a row.
struct BandRows {
    int found = 1;
    bool sure = false;
};

// Finds the band among the `rows` top luma rows (2 to maxBandRows) of a
// picture `width` samples wide (bandSymbols or more) and `height` rows
// high, with `bitDepth` samples (10: two bytes, little-endian); `luma` is
// row 0 and rows are `stride` bytes apart.
BandRows findBandRows(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, int height,
                      int rows);

// Reads the payload from the rows `band` found (and row 1, which is always
// looked at) into payloadSize bytes of `payload`. Returns the margin: the
// smallest distance of any symbol's value to a threshold, on the 8-bit
// scale, at most maxMargin; a small margin means a symbol is close to
// reading as another.
//
// A symbol's value is the mean of its own samples (those the stamping rule
// gives it at this width), each weighted by how much of it lies in the
// middle of the symbol's span: the middle half where symbols are wider than
// 4 samples (compression smears edges first), the middle three quarters
// where they are not. Levels are fitted per frame: the values are sliced
// half-way between the nominal levels, each level is placed where the
// values first read as it lie, and the values are read again at the
// midpoints of those places. Sure rows are averaged, which at 1920x1080
// with two rows is the first reading this tool ever had. Otherwise the rows
// found are averaged and, as other readings, row 0 is taken away from row 1
// by a quarter to once their difference (a band thinner than a row has
// picture mixed into row 0, and row 1 says how much); the reading whose
// values sit closest to their levels is kept. Where symbols are 4 samples
// or fewer, what each takes from its neighbours is then measured and taken
// away.
double decodeBand(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, BandRows band,
                  uint8_t payload[payloadSize]);

// Whether the rows `band` found look stamped rather than like a picture:
// their level changes sit on the symbol grid, or, with few changes, every
// symbol sits on one of four levels. A flat picture (a letterbox bar, a
// clear sky) cannot be told from a payload of one symbol and reads as a
// band.
bool looksLikeBand(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, BandRows band);

// Whether chroma row 0 of both planes, `chromaWidth` samples each, is near
// neutral, as stamping leaves it through compression.
bool chromaRowsNeutral(const uint8_t* uRow, const uint8_t* vRow, int chromaWidth, int bitDepth);

// Whether a whole frame's chroma row 0 agrees with the band found: neutral,
// or not to be consulted, where the band found is less than two luma rows
// and so does not cover chroma row 0 (a thin rendition's chroma row 0 is
// mostly picture).
bool chromaAgreesWithBand(BandRows band, const uint8_t* uRow, const uint8_t* vRow, int chromaWidth,
                          int bitDepth);
