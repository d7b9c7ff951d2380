#include "packing_check.h"

#include <algorithm>

int notePacking(PackingCheck& check, const uint8_t payload[payloadSize])
{
    ++check.frames;
    // The word of zeros is a word of every code: a flat picture, or data of
    // zeros, tells nothing.
    if (std::all_of(payload, payload + payloadSize, [](uint8_t b) { return b == 0; }))
        return 0;
    const int zeros = rsZeroSyndromes(payload);
    if (zeros < 2)
        return 0;
    const int given = static_cast<int>(payloadSize) - check.dataBytes;
    const int64_t count = ++check.words[static_cast<size_t>(zeros)];
    if (zeros == given)
        return 0;
    // Past the given K's parity, the extra zeros are what chance would have
    // to make; short of it, every zero is.
    const int64_t strength = count * (zeros > given ? zeros - given : zeros);
    const bool found = strength >= packingEvidence &&
                       count > check.words[static_cast<size_t>(given)] &&
                       count * framesPerWord >= check.frames;
    return found ? static_cast<int>(payloadSize) - zeros : 0;
}
