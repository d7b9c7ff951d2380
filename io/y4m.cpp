#include "y4m.h"

#include <cstdio>
#include <cstring>

namespace {

// A positive decimal number that fills `text` exactly, at most 99,999.
bool parseSize(const char* text, size_t length, int32_t& value)
{
    if (length == 0 || length > 5)
        return false;
    int32_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + (text[i] - '0');
    }
    value = number;
    return true;
}

bool is(const char* text, size_t length, const char* word)
{
    return std::strlen(word) == length && std::memcmp(text, word, length) == 0;
}

} // namespace

bool hasY4mSignature(const uint8_t* bytes, size_t count)
{
    return count >= y4mSignatureLength && std::memcmp(bytes, y4mSignature, y4mSignatureLength) == 0;
}

bool parseY4mHeader(const char* line, size_t length, FrameGeometry& geometry, char* reason,
                    size_t reasonSize)
{
    if (!hasY4mSignature(reinterpret_cast<const uint8_t*>(line), length)) {
        std::snprintf(reason, reasonSize, "it has no YUV4MPEG2 header");
        return false;
    }
    FrameGeometry g;
    g.width = g.height = 0;
    g.bitDepth = 8;
    // Parameters are single-space separated, each a letter and its value.
    for (size_t at = y4mSignatureLength; at < length;) {
        size_t end = at;
        while (end < length && line[end] != ' ')
            ++end;
        const char* value = line + at + 1;
        const size_t valueLength = end - at - (end > at ? 1 : 0);
        const char tag = end > at ? line[at] : ' ';
        if ((tag == 'W' && !parseSize(value, valueLength, g.width)) ||
            (tag == 'H' && !parseSize(value, valueLength, g.height))) {
            std::snprintf(reason, reasonSize, "its header's %c parameter \"%.*s\" is not a size",
                          tag, static_cast<int>(valueLength < 32 ? valueLength : 32), value);
            return false;
        }
        if (tag == 'C') {
            if (is(value, valueLength, "420p10")) {
                g.bitDepth = 10;
            } else if (!is(value, valueLength, "420jpeg") && !is(value, valueLength, "420paldv") &&
                       !is(value, valueLength, "420mpeg2") && !is(value, valueLength, "420")) {
                std::snprintf(reason, reasonSize,
                              "its colour space C%.*s is not one this tool reads (C420jpeg, "
                              "C420paldv, C420mpeg2, C420 or C420p10)",
                              static_cast<int>(valueLength < 32 ? valueLength : 32), value);
                return false;
            }
        }
        at = end + 1;
    }
    if (g.width == 0 || g.height == 0) {
        std::snprintf(reason, reasonSize, "its header gives no %s", g.width == 0 ? "W" : "H");
        return false;
    }
    g.bandRows = bandRowsFor(g.height);
    if (const char* problem = geometryProblem(g)) {
        std::snprintf(reason, reasonSize, "its size %dx%d: %s", g.width, g.height, problem);
        return false;
    }
    geometry = g;
    return true;
}

bool isY4mFrameHeader(const char* line, size_t length)
{
    return length >= 5 && std::memcmp(line, "FRAME", 5) == 0 && (length == 5 || line[5] == ' ');
}
