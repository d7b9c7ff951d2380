// The Y4M header and frame-header parsers, the signature check, and the
// video reader that uses them, on any bytes: a geometry the programs can
// take, or a reason in words; frames with their FRAME lines, or an end or a
// failure that says why; never a crash or a read past what was given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../../io/signatures.h"
#include "../../io/video_input.h"
#include "../../io/y4m.h"

namespace {

void parseLines(const uint8_t* data, size_t size)
{
    (void)foreignFormat(data, size);
    // The first line is the stream header, the second a frame header; each
    // goes in a buffer of its own length, so a read past it shows.
    const auto* text = reinterpret_cast<const char*>(data);
    const void* feed = std::memchr(text, '\n', size);
    const size_t first =
        feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - text) : size;
    std::vector<char> line(text, text + first);
    FrameGeometry g;
    char reason[160] = "";
    if (parseY4mHeader(line.data(), line.size(), g, reason, sizeof reason)) {
        if (geometryProblem(g) != nullptr || g.bandRows != bandRowsFor(g.height))
            std::abort();
    } else if (reason[0] == '\0' || std::strlen(reason) >= sizeof reason) {
        std::abort();
    }
    if (first < size) {
        std::vector<char> frame(text + first + 1, text + size);
        const bool header = isY4mFrameHeader(frame.data(), frame.size());
        if (header != (frame.size() >= 5 && std::memcmp(frame.data(), "FRAME", 5) == 0 &&
                       (frame.size() == 5 || frame[5] == ' ')))
            std::abort();
    }
}

// The bytes as a stream, as a pipe gives them: told apart, and read frame
// by frame while frames are small enough to hold here.
void readStream(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    FILE* pFile = fmemopen(bytes.data(), bytes.size(), "rb");
    if (pFile == nullptr)
        return;
    VideoInput input;
    input.stream = {pFile, "fuzz"};
    VideoOptions options;
    options.width = 320;
    options.height = 180;
    char reason[320] = "";
    const Identified what = identifyVideo(input, options, false, reason, sizeof reason);
    if (what != Identified::video && what != Identified::failed &&
        (reason[0] == '\0' || std::strlen(reason) >= sizeof reason))
        std::abort();
    if (what == Identified::video && input.frameBytes <= (uint64_t{1} << 22)) {
        std::vector<uint8_t> frame(static_cast<size_t>(input.frameBytes));
        uint64_t taken = input.layout.headerBytes;
        for (int f = 0; f < 8; ++f) {
            const BlockRead read = readVideoFrame(input, frame.data());
            if (read == BlockRead::whole) {
                if (input.layout.y4m != (input.line.length > 0) ||
                    (input.line.length > 0 && input.line.text[input.line.length - 1] != '\n'))
                    std::abort();
                taken += input.line.length + input.frameBytes;
                continue;
            }
            if (read == BlockRead::end && taken + input.ignoredBytes != size)
                std::abort();
            if (read == BlockRead::failed && input.problem[0] == '\0')
                std::abort();
            break;
        }
    }
    std::fclose(pFile);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parseLines(data, size);
    readStream(data, size);
    return 0;
}
