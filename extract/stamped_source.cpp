#include "stamped_source.h"

#include <algorithm>

#include "platform.h"

namespace {

uint8_t* slotOf(StampedSource& source, size_t slot)
{
    return source.held.data() + slot * static_cast<size_t>(source.input.frameBytes);
}

// Reads the frame that starts at `at` of a regular file whole into `slot`,
// or only its FRAME line (skipping the samples) where `slot` is null.
BlockRead readAt(StampedSource& source, uint64_t at, uint8_t* slot)
{
    if (!moveToPosition(source.input.stream.pFile, at))
        return BlockRead::failed;
    static constexpr FrameSpan none{0, 0};
    return slot != nullptr ? readVideoFrame(source.input, slot)
                           : readVideoFrame(source.input, nullptr, &none, 0);
}

// The frame whose FRAME line was just read at `locatedAt` is located:
// the next starts after it, and every y4mMarkFrames-th is marked.
void passLocated(StampedSource& source)
{
    source.locatedAt += source.input.line.length + source.input.frameBytes;
    if (++source.located % y4mMarkFrames == 0 &&
        static_cast<size_t>(source.located / y4mMarkFrames) == source.marks.size())
        source.marks.push_back(source.locatedAt);
}

// Finds where frame k of a YUV4MPEG2 file starts: from the last mark at or
// before it, or from the furthest frame located, by its FRAME lines.
BlockRead locateY4m(StampedSource& source, int64_t k, uint64_t& at)
{
    if (k < source.located) {
        const auto mark = static_cast<size_t>(k / y4mMarkFrames);
        source.located = static_cast<int64_t>(mark) * y4mMarkFrames;
        source.locatedAt = source.marks[mark];
    }
    while (source.located < k) {
        const BlockRead read = readAt(source, source.locatedAt, nullptr);
        if (read != BlockRead::whole)
            return read;
        passLocated(source);
    }
    at = source.locatedAt;
    return BlockRead::whole;
}

StampedFetch fromFile(StampedSource& source, int64_t k, const uint8_t*& frame)
{
    uint8_t* slot = slotOf(source, 0);
    frame = slot;
    if (source.heldFrame[0] == k)
        return StampedFetch::frame;
    const VideoInput& input = source.input;
    if (source.frameCount >= 0 && k >= source.frameCount)
        return StampedFetch::pastEnd;
    uint64_t at = input.start + static_cast<uint64_t>(k) * input.frameBytes;
    BlockRead read = BlockRead::whole;
    if (input.layout.y4m)
        read = locateY4m(source, k, at);
    if (read == BlockRead::whole)
        read = readAt(source, at, slot);
    source.heldFrame[0] = read == BlockRead::whole ? k : -1;
    // A file that ended sooner than its size said (it shrank) ends there.
    if (read == BlockRead::end) {
        source.frameCount = input.layout.y4m ? source.located : k;
        return StampedFetch::pastEnd;
    }
    if (read == BlockRead::failed)
        return StampedFetch::failed;
    if (input.layout.y4m)
        passLocated(source);
    return StampedFetch::frame;
}

StampedFetch fromPipe(StampedSource& source, int64_t k, const uint8_t*& frame)
{
    if (k < source.framesRead - pipeWindowFrames)
        return StampedFetch::behind;
    while (source.framesRead <= k) {
        if (source.frameCount >= 0)
            return StampedFetch::pastEnd;
        const auto slot = static_cast<size_t>(source.framesRead % pipeWindowFrames);
        source.heldFrame[slot] = -1;
        const BlockRead read = readVideoFrame(source.input, slotOf(source, slot));
        if (read == BlockRead::end)
            source.frameCount = source.framesRead;
        if (read == BlockRead::failed)
            return StampedFetch::failed;
        if (read != BlockRead::whole)
            return StampedFetch::pastEnd;
        source.heldFrame[slot] = source.framesRead++;
    }
    frame = slotOf(source, static_cast<size_t>(k % pipeWindowFrames));
    return StampedFetch::frame;
}

} // namespace

Identified startStamped(StampedSource& source, const VideoOptions& options, char* reason,
                        size_t reasonSize)
{
    const Identified identified = identifyVideo(source.input, options, false, reason, reasonSize);
    if (identified != Identified::video)
        return identified;
    VideoInput& input = source.input;
    source.seeking = input.seeking;
    if (source.seeking && !input.layout.y4m)
        source.frameCount = static_cast<int64_t>(input.framesLeft);
    if (source.seeking && input.layout.y4m) {
        source.locatedAt = input.start + input.layout.headerBytes;
        source.marks.push_back(source.locatedAt);
    }
    return identified;
}

void holdFrames(StampedSource& source)
{
    const size_t slots = source.seeking ? 1 : static_cast<size_t>(pipeWindowFrames);
    source.held.resize(slots * static_cast<size_t>(source.input.frameBytes));
    source.heldFrame.assign(slots, -1);
}

StampedFetch fetchStamped(StampedSource& source, int64_t k, const uint8_t*& frame)
{
    return source.seeking ? fromFile(source, k, frame) : fromPipe(source, k, frame);
}

void heldFrames(const StampedSource& source, int64_t& from, int64_t& to)
{
    to = source.framesRead - 1;
    from = std::max<int64_t>(0, source.framesRead - pipeWindowFrames);
}
