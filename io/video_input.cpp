#include "video_input.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Bytes from what was read ahead first, then from the stream.
BlockRead readBytes(VideoInput& input, uint8_t* buffer, size_t bytes, size_t& got)
{
    got = std::min(bytes, input.aheadEnd - input.aheadAt);
    std::memcpy(buffer, input.ahead.data() + input.aheadAt, got);
    input.aheadAt += got;
    if (got == bytes)
        return BlockRead::whole;
    size_t more = 0;
    const BlockRead read = readBlock(input.stream.pFile, buffer + got, bytes - got, more);
    got += more;
    return read;
}

// The next byte, or EOF at the end of the stream or on an error (then
// `failed`).
int nextByte(VideoInput& input, bool& failed)
{
    if (input.aheadAt < input.aheadEnd)
        return input.ahead[input.aheadAt++];
    const int c = std::getc(input.stream.pFile);
    if (c == EOF && std::ferror(input.stream.pFile)) {
        failed = !readEndedByDisconnect();
        std::clearerr(input.stream.pFile);
    }
    return c;
}

// Reads a line of at most maxY4mLine bytes, line feed included, into
// `text`; `length` is what was read. A FRAME line stops early where its
// first bytes already differ from "FRAME" and a space or the line feed.
enum class LineRead { whole, end, tooLong, notFrameLine, failed };
LineRead readLine(VideoInput& input, char* text, size_t& length, bool frameLine)
{
    constexpr char frame[] = "FRAME";
    bool failed = false;
    length = 0;
    while (length < maxY4mLine) {
        const int c = nextByte(input, failed);
        if (c == EOF)
            return failed ? LineRead::failed : LineRead::end;
        text[length++] = static_cast<char>(c);
        if (frameLine && length < sizeof frame && c != frame[length - 1])
            return LineRead::notFrameLine;
        if (frameLine && length == sizeof frame && c != ' ' && c != '\n')
            return LineRead::notFrameLine;
        if (c == '\n')
            return LineRead::whole;
    }
    return LineRead::tooLong;
}

BlockRead readFrameLine(VideoInput& input, FrameLine& line)
{
    const LineRead read = readLine(input, line.text.data(), line.length, true);
    if (read == LineRead::whole)
        return BlockRead::whole;
    if (read == LineRead::failed)
        return BlockRead::failed;
    if (read == LineRead::end) {
        input.ignoredBytes = line.length;
        return BlockRead::end;
    }
    if (read == LineRead::tooLong)
        std::snprintf(input.problem, sizeof input.problem,
                      "frame %" PRId64 "'s FRAME line is longer than %u bytes", input.framesRead,
                      static_cast<unsigned>(maxY4mLine));
    else
        std::snprintf(input.problem, sizeof input.problem,
                      "frame %" PRId64 " does not start with a FRAME line", input.framesRead);
    errno = 0;
    return BlockRead::failed;
}

// The header line of a YUV4MPEG2 stream whose signature has been seen.
Identified readHeader(VideoInput& input, char* reason, size_t reasonSize)
{
    VideoLayout& layout = input.layout;
    size_t length = 0;
    const LineRead read = readLine(input, layout.header.data(), length, false);
    if (read == LineRead::failed)
        return Identified::failed;
    if (read != LineRead::whole) {
        std::snprintf(reason, reasonSize,
                      read == LineRead::tooLong
                          ? "its YUV4MPEG2 header has no line end in its first %zu bytes"
                          : "its YUV4MPEG2 header is cut short",
                      maxY4mLine);
        return Identified::refused;
    }
    if (!parseY4mHeader(layout.header.data(), length - 1, layout.geometry, reason, reasonSize))
        return Identified::refused;
    layout.y4m = true;
    layout.headerBytes = length;
    return Identified::video;
}

// Reads the spans asked for from a seeking file, skipping the rest of the
// frame unless nothing follows it.
BlockRead readSpans(VideoInput& input, uint8_t* frame, const FrameSpan* spans, size_t spanCount,
                    bool last)
{
    uint64_t at = 0;
    size_t got = 0;
    for (size_t i = 0; i < spanCount; ++i) {
        const FrameSpan& span = spans[i];
        if (span.offset > at && !skipForward(input.stream.pFile, span.offset - at))
            return BlockRead::failed;
        const BlockRead read = readBytes(input, frame + span.offset, span.length, got);
        if (read != BlockRead::whole)
            return read;
        at = span.offset + span.length;
    }
    if (!last && !skipForward(input.stream.pFile, input.frameBytes - at))
        return BlockRead::failed;
    return BlockRead::whole;
}

} // namespace

Identified identifyVideo(VideoInput& input, const VideoOptions& options, bool bandOnly,
                         char* reason, size_t reasonSize)
{
    FILE* pFile = input.stream.pFile;
    const bool regular = positionInFile(pFile, input.start);
    size_t got = 0;
    const BlockRead read = readBlock(pFile, input.ahead.data(), input.ahead.size(), got);
    if (read == BlockRead::failed)
        return Identified::failed;
    input.aheadAt = 0;
    input.aheadEnd = got;
    if (const char* what = foreignFormat(input.ahead.data(), got)) {
        std::snprintf(reason, reasonSize,
                      "it is %s, not raw video or a YUV4MPEG2 stream: decode it with ffmpeg first "
                      "(doc/recipes.md)",
                      what);
        return Identified::refused;
    }
    VideoLayout& layout = input.layout;
    if (hasY4mSignature(input.ahead.data(), got)) {
        if (bandOnly) {
            std::snprintf(reason, reasonSize,
                          "--band: \"%s\" is a YUV4MPEG2 stream; a band file holds the band rows "
                          "alone, as raw samples",
                          input.stream.name);
            return Identified::option;
        }
        const Identified header = readHeader(input, reason, reasonSize);
        if (header != Identified::video)
            return header;
        if (!applyToY4m(options, input.stream.name, layout.geometry, reason, reasonSize))
            return Identified::option;
    } else {
        layout = VideoLayout{};
        layout.geometry = rawGeometry(options);
    }
    input.frameBytes = bandOnly ? layout.geometry.bandBytes() : layout.geometry.frameBytes();
    // A regular file goes back to where its frames start, and is read from
    // there as it lies, without what was read ahead.
    uint64_t bytes = 0;
    if (regular && moveToPosition(pFile, input.start + layout.headerBytes)) {
        input.aheadAt = input.aheadEnd = 0;
        // Pseudo-files such as those of /proc claim a size of 0, so a file
        // too small for a frame is read through rather than trusted.
        input.seeking = bytesLeftInFile(pFile, bytes) && bytes >= input.frameBytes;
        if (input.seeking && !layout.y4m) {
            input.framesLeft = bytes / input.frameBytes;
            input.ignoredBytes = bytes % input.frameBytes;
        }
    }
    return Identified::video;
}

BlockRead readVideoFrame(VideoInput& input, uint8_t* frame, const FrameSpan* spans,
                         size_t spanCount)
{
    FrameLine& line = input.line;
    line.length = 0;
    const bool y4m = input.layout.y4m;
    if (input.seeking && spans != nullptr && !y4m) {
        if (input.framesLeft == 0)
            return BlockRead::end;
        const BlockRead read = readSpans(input, frame, spans, spanCount, input.framesLeft == 1);
        input.framesLeft -= read == BlockRead::whole ? 1 : 0;
        input.framesRead += read == BlockRead::whole ? 1 : 0;
        return read;
    }
    if (y4m) {
        const BlockRead read = readFrameLine(input, line);
        if (read != BlockRead::whole)
            return read;
    }
    uint64_t left = 0;
    if (input.seeking && spans != nullptr && bytesLeftInFile(input.stream.pFile, left)) {
        if (left < input.frameBytes) {
            input.ignoredBytes = line.length + left;
            return BlockRead::end;
        }
        // The next FRAME line, if any, is read from where this frame ends.
        const BlockRead read = readSpans(input, frame, spans, spanCount, false);
        input.framesRead += read == BlockRead::whole ? 1 : 0;
        return read;
    }
    size_t got = 0;
    const BlockRead read = readBytes(input, frame, static_cast<size_t>(input.frameBytes), got);
    if (read == BlockRead::end)
        input.ignoredBytes = line.length + got;
    input.framesRead += read == BlockRead::whole ? 1 : 0;
    return read;
}

const char* readFailureReason(const VideoInput& input, int err)
{
    return err == 0 && input.problem[0] != '\0' ? input.problem : ioReason(err);
}
