#include "video_reader.h"

#include "platform.h"
#include "watermark.h"

void startReading(VideoReader& reader, bool bandOnly)
{
    reader.bandOnly = bandOnly;
    reader.frameBytes = bandOnly ? static_cast<size_t>(frameGeometry.bandBytes()) : frameSize;
    uint64_t bytes = 0;
    // The file's size settles the frame count exactly as reading it through
    // would: N whole frames and an ignored remainder. Pseudo-files such as
    // those of /proc claim a size of 0, so a file too small for a frame is
    // read through rather than trusted.
    if (!bandOnly && bytesLeftInFile(reader.stream.pFile, bytes) && bytes >= frameSize) {
        reader.seeking = true;
        reader.framesLeft = bytes / frameSize;
        reader.ignoredBytes = bytes % frameSize;
    }
}

BlockRead readBand(VideoReader& reader)
{
    size_t got = 0;
    if (!reader.seeking) {
        const BlockRead read = readBlock(reader.stream.pFile, frameBuf, reader.frameBytes, got);
        if (read == BlockRead::end)
            reader.ignoredBytes = got;
        return read;
    }
    if (reader.framesLeft == 0)
        return BlockRead::end;
    // The stamped spans alone: the band, and chroma row 0 of both planes,
    // which tells a stamped frame from a picture that looks like one.
    uint64_t at = 0;
    for (const FrameSpan& span : stampedSpans(frameGeometry)) {
        const auto offset = span.offset;
        if (offset > at && !skipForward(reader.stream.pFile, offset - at))
            return BlockRead::failed;
        const BlockRead read = readBlock(reader.stream.pFile, frameBuf + offset,
                                         static_cast<size_t>(span.length), got);
        if (read != BlockRead::whole)
            return read;
        at = offset + span.length;
    }
    // Nothing past the last whole frame's spans is needed.
    if (--reader.framesLeft > 0 && !skipForward(reader.stream.pFile, frameSize - at))
        return BlockRead::failed;
    return BlockRead::whole;
}
