// Reading a video, for every program that reads one: what the stream is,
// told from its first bytes (a YUV4MPEG2 stream by its signature, a
// container or a picture refused, raw frames otherwise), and its frames,
// whole or only the spans asked for. A pipe loses no byte to the telling: the
// bytes read for it belong to what follows. A regular file is positioned
// back after it, so that offsets in it stay true, and is read by seeking
// over what is not asked for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame_geometry.h"
#include "signatures.h"
#include "stream_io.h"
#include "video_options.h"
#include "y4m.h"

// How a video's frames lie in its bytes: their geometry, and for a
// YUV4MPEG2 stream its header line, as read, which a video written in the
// same layout repeats.
struct VideoLayout {
    FrameGeometry geometry;
    bool y4m = false;
    std::array<char, maxY4mLine> header{}; // the stream header, line feed included
    size_t headerBytes = 0;                // 0 for raw video
};

// A frame's FRAME line in a YUV4MPEG2 stream, as read (parameters and line
// feed included), to be passed on with the frame; empty for raw video.
struct FrameLine {
    std::array<char, maxY4mLine> text{};
    size_t length = 0;
};

struct VideoInput {
    NamedStream stream;
    VideoLayout layout;
    uint64_t frameBytes = 0;   // a frame's samples as stored: the frame, or its band rows
    bool seeking = false;      // a regular file: spans asked for are read, the rest skipped
    uint64_t start = 0;        // a regular file: where the stream began (its header, if any)
    uint64_t framesLeft = 0;   // whole raw frames still to read, when seeking
    int64_t framesRead = 0;    // whole frames read so far
    uint64_t ignoredBytes = 0; // an incomplete last frame (FRAME line included), once found
    // Bytes a pipe gave up to tell what it is, which belong to what follows.
    std::array<uint8_t, signatureBytes> ahead{};
    size_t aheadAt = 0;
    size_t aheadEnd = 0;
    char problem[96] = ""; // why a read failed where the system gave no reason
};

enum class Identified {
    video,   // the layout is settled, the stream stands at frame 0
    refused, // a container, a picture, or a YUV4MPEG2 header it cannot take
    option,  // an option contradicts the stream (--size, --format; --band on YUV4MPEG2)
    failed,  // a read error; errno tells why
};

// Tells what `input.stream` is from its first bytes and settles its layout:
// a YUV4MPEG2 stream by its signature (size and depth from its header; a
// --size or --format that says otherwise is refused), raw video at the
// options' geometry (the built-in one without them) otherwise. With
// `bandOnly`, each frame is its band rows alone (raw only). `reason` says
// what was refused in words that follow the stream's name.
Identified identifyVideo(VideoInput& input, const VideoOptions& options, bool bandOnly,
                         char* reason, size_t reasonSize);

// Reads the next frame: its FRAME line into `line` (YUV4MPEG2), then its
// bytes to `frame`: all input.frameBytes of them, or, when seeking and
// `spans` are given (offsets within the frame, in order), those spans only,
// each to its offset in `frame`, skipping the rest. At the end of the
// stream sets ignoredBytes to what an incomplete last frame held. A
// YUV4MPEG2 frame that does not start with a FRAME line is a failure with
// errno 0 and `problem` naming the frame.
BlockRead readVideoFrame(VideoInput& input, FrameLine& line, uint8_t* frame,
                         const FrameSpan* spans = nullptr, size_t spanCount = 0);

// Why the read just failed, for a message: the problem found, or the
// system's reason.
const char* readFailureReason(const VideoInput& input, int err);
