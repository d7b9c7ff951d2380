// Writing a video in a layout read from another: raw frames back to back,
// or a YUV4MPEG2 stream with that video's header and each frame's FRAME
// line as it was read. Every write is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "video_input.h"

// The stream header of `layout` (nothing for raw video). False, with errno
// set, when it did not all go.
bool writeVideoHeader(FILE* pFile, const VideoLayout& layout);

// One frame: its FRAME line (empty for raw video), then `bytes` bytes of
// samples. False, with errno set, when it did not all go.
bool writeVideoFrame(FILE* pFile, const FrameLine& line, const uint8_t* frame, size_t bytes);
