#include "signatures.h"

#include <cstring>

namespace {

bool startsWith(const uint8_t* bytes, size_t count, const char* signature, size_t length,
                size_t at = 0)
{
    return count >= at + length && std::memcmp(bytes + at, signature, length) == 0;
}

// A transport stream is a sync byte every 188 bytes. A flat picture whose
// samples happen to be that byte is told apart by the packet header after
// the first sync byte, which is never the sync byte itself in a real stream
// (its PID would be 0x747).
bool isTransportStream(const uint8_t* bytes, size_t count)
{
    if (count < signatureBytes || bytes[1] == 0x47)
        return false;
    for (size_t at = 0; at < signatureBytes; at += 188)
        if (bytes[at] != 0x47)
            return false;
    return true;
}

bool isJpeg(const uint8_t* bytes, size_t count)
{
    // Start of image, then the first marker: an application segment, a
    // quantisation table, a comment, or a frame.
    if (count < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF)
        return false;
    const uint8_t marker = bytes[3];
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xDB || marker == 0xFE ||
           (marker >= 0xC0 && marker <= 0xC3);
}

} // namespace

const char* foreignFormat(const uint8_t* bytes, size_t count)
{
    // The ftyp box comes first, its size (under 256) before its name.
    if (startsWith(bytes, count, "\0\0\0", 3) && startsWith(bytes, count, "ftyp", 4, 4))
        return "an MP4 or MOV file";
    if (startsWith(bytes, count, "\x1A\x45\xDF\xA3", 4))
        return "a Matroska or WebM file";
    if (startsWith(bytes, count, "RIFF", 4))
        return startsWith(bytes, count, "AVI ", 4, 8) ? "an AVI file" : "a RIFF file";
    if (startsWith(bytes, count, "\x89PNG\r\n\x1A\n", 8))
        return "a PNG picture";
    if (isJpeg(bytes, count))
        return "a JPEG picture";
    if (isTransportStream(bytes, count))
        return "an MPEG transport stream";
    return nullptr;
}
