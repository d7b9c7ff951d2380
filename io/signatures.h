// What the first bytes of an input say it is, where it is not raw video:
// containers and compressed pictures named as a source by mistake, which
// would otherwise be stamped as if they were frames.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes it takes to tell them all (eight MPEG-TS packets).
constexpr size_t signatureBytes = 8 * 188;

// What `bytes` (the first `count` bytes of an input) are, in words ("an
// MP4 or MOV file"), or nullptr for anything else.
const char* foreignFormat(const uint8_t* bytes, size_t count);
