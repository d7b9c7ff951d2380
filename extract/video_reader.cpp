#include "video_reader.h"

#include <array>

#include "watermark.h"

BlockRead readBand(VideoInput& video, bool bandOnly)
{
    if (bandOnly)
        return readVideoFrame(video, frameBuf);
    // The band rows, and chroma row 0 of both planes, which tells a stamped
    // frame from a picture that looks like one.
    const FrameGeometry& g = frameGeometry;
    const std::array<FrameSpan, 3> spans = {FrameSpan{0, g.bandBytes()},
                                            FrameSpan{g.uOffset(), g.chromaRowBytes()},
                                            FrameSpan{g.vOffset(), g.chromaRowBytes()}};
    return readVideoFrame(video, frameBuf, spans.data(), spans.size());
}
