// The stamped source a --pair run takes its frames from, frame k carrying
// record k: any frame of a regular file, read where it lies (a raw frame
// at k frames from the start; a YUV4MPEG2 frame found by its FRAME lines,
// with a mark every y4mMarkFrames frames to go back to), or a pipe read
// forward, of which the last pipeWindowFrames frames are kept for repeats
// and swaps. Memory stays that of those frames, however long the video.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "alignment.h"
#include "video_input.h"

// A pipe keeps the furthest frame read and the searchBehind frames before
// it: every record the alignment looks for behind the expected one.
constexpr int64_t pipeWindowFrames = searchBehind + 1;
// A YUV4MPEG2 file remembers where every this many frames start.
constexpr int64_t y4mMarkFrames = 64;

struct StampedSource {
    VideoInput input;
    bool seeking = false;    // a regular file: any frame can be read
    int64_t frameCount = -1; // frames it holds, once known
    // A YUV4MPEG2 file: frame m * y4mMarkFrames starts at marks[m]; frame
    // `located` starts at `locatedAt`.
    std::vector<uint64_t> marks;
    int64_t located = 0;
    uint64_t locatedAt = 0;
    // The frames held, frameBytes each: a file's last one read, a pipe's
    // window (frame k in slot k % pipeWindowFrames).
    std::vector<uint8_t> held;
    std::vector<int64_t> heldFrame; // the frame in each slot, -1 for none
    int64_t framesRead = 0;         // a pipe: frames read so far
};

// Tells what the open input.stream is, as identifyVideo does, and how it
// is read.
Identified startStamped(StampedSource& source, const VideoOptions& options, char* reason,
                        size_t reasonSize);

// Makes room for the frames it holds: one, or a pipe's window
// (std::bad_alloc where there is none).
void holdFrames(StampedSource& source);

enum class StampedFetch {
    frame,   // `frame` holds it
    pastEnd, // the source ends before it (frameCount is then known)
    behind,  // a pipe has gone past it
    failed,  // a read error; errno tells why
};

// Frame `k` of the source, left in `frame` (valid until the next call).
StampedFetch fetchStamped(StampedSource& source, int64_t k, const uint8_t*& frame);

// The frames a pipe still holds, from..to (from > to when none).
void heldFrames(const StampedSource& source, int64_t& from, int64_t& to);
