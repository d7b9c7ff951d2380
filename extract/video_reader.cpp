#include "video_reader.h"

#include <cstring>

#include "platform.h"
#include "watermark.h"

FILE* openVideo(const char* name, Stream& owner)
{
    if (std::strcmp(name, "-") == 0) {
        useForData(stdin);
        return stdin;
    }
    owner.reset(openInputFile(name));
    return owner.get();
}

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
    if (--reader.framesLeft > 0 &&
        std::fseek(reader.stream.pFile, static_cast<long>(frameSize - bandLength), SEEK_CUR) != 0)
        return BlockRead::failed;
    return BlockRead::whole;
}
