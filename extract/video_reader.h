// Where each frame's band comes from: a whole-frame video or a band-only
// one, a regular file (read the band, skip the rest) or a pipe (read
// through).
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_io.h"

struct VideoReader {
    NamedStream stream;
    size_t frameBytes = 0;     // bytes one frame takes in VIDEO
    bool bandOnly = false;     // frames are the band rows alone
    bool seeking = false;      // read the stamped spans, seek over the rest
    uint64_t framesLeft = 0;   // whole frames still to read, when seeking
    uint64_t ignoredBytes = 0; // an incomplete last frame, once known
};

// Settles how the stream is read, before the first frame.
void startReading(VideoReader& reader, bool bandOnly);

// Reads the next frame's band rows to the start of frameBuf and, from a
// whole-frame video, chroma row 0 of both planes to their places.
BlockRead readBand(VideoReader& reader);
