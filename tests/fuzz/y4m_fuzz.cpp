// The Y4M header and frame-header parsers, and the signature check, on any
// bytes: a geometry the programs can take, or a reason in words; never a
// crash or a read past the line.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../../io/signatures.h"
#include "../../io/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
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
    return 0;
}
