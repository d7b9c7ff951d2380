// YUV4MPEG2 streams, as ffmpeg writes and reads them: a header line
// ("YUV4MPEG2 W1920 H1080 F25:1 Ip A1:1 C420jpeg ..."), then every frame as
// a line "FRAME" (with any parameters) and the raw frame. Only the
// parsing lives here, on lines already read: what others wrote comes in
// through these functions, and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_geometry.h"

// The signature that opens every stream, space included.
constexpr char y4mSignature[] = "YUV4MPEG2 ";
constexpr size_t y4mSignatureLength = sizeof y4mSignature - 1;

// The longest header line, or FRAME line, taken (the line feed included).
constexpr size_t maxY4mLine = 4096;

// Whether `bytes` begin with the signature (count at least its length).
bool hasY4mSignature(const uint8_t* bytes, size_t count);

// Reads the stream header `line` (`length` bytes, without its line feed)
// into `geometry`: size from W and H, depth from C (420jpeg, 420paldv,
// 420mpeg2, 420, or none: 8 bits; 420p10: 10 bits, little-endian), band
// rows by the rule for its height. False, with `reason` in words that name
// what was refused, for anything else.
bool parseY4mHeader(const char* line, size_t length, FrameGeometry& geometry, char* reason,
                    size_t reasonSize);

// Whether `line` (`length` bytes, without its line feed) is a frame header:
// "FRAME", then nothing or parameters after a space.
bool isY4mFrameHeader(const char* line, size_t length);
