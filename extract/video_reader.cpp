#include "video_reader.h"

#include "platform.h"
#include "watermark.h"

void startReading(VideoReader& reader, bool bandOnly)
{
    reader.frameBytes = bandOnly ? static_cast<size_t>(bandLength) : frameSize;
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
    const BlockRead read = readBlock(reader.stream.pFile, frameBuf, bandLength, got);
    if (read != BlockRead::whole)
        return read;
    // Nothing past the last whole frame's band is needed.
    if (--reader.framesLeft > 0 && !skipForward(reader.stream.pFile, frameSize - bandLength))
        return BlockRead::failed;
    return BlockRead::whole;
}
