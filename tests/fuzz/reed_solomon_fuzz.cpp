// The payload code's decoder on any word and erasures: a codeword within
// reach of the word, or "uncorrectable" with the word untouched.
#include <array>
#include <cstdlib>
#include <cstring>

#include "reed_solomon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 + payloadSize)
        return 0;
    const int dataBytes = minDataBytes + data[0] % (maxDataBytes - minDataBytes + 1);
    const int parity = static_cast<int>(payloadSize) - dataBytes;
    std::array<uint8_t, payloadSize> word{};
    std::memcpy(word.data(), data + 1, payloadSize);
    // Erasures: distinct positions from the rest of the input.
    std::array<int, payloadSize> erasures{};
    std::array<bool, payloadSize> taken{};
    int count = 0;
    for (size_t i = 1 + payloadSize; i < size && count < parity; ++i) {
        const size_t at = data[i] % payloadSize;
        if (!taken[at]) {
            taken[at] = true;
            erasures[static_cast<size_t>(count++)] = static_cast<int>(at);
        }
    }
    const std::array<uint8_t, payloadSize> received = word;
    const int changed = rsDecode(word.data(), dataBytes, erasures.data(), count);
    if (changed < 0) {
        if (word != received)
            std::abort();
        return 0;
    }
    int differ = 0, outside = 0;
    for (size_t i = 0; i < payloadSize; ++i)
        if (word[i] != received[i]) {
            ++differ;
            outside += taken[i] ? 0 : 1;
        }
    // A codeword: its data part encodes to it.
    std::array<uint8_t, payloadSize> encoded = word;
    rsEncode(encoded.data(), dataBytes);
    if (differ != changed || 2 * outside + count > parity || encoded != word)
        std::abort();
    return 0;
}
