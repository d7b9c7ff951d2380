#include "bit_distance.h"

#include <bitset>
#include <cstring>

int bitDistance(const uint8_t* a, const uint8_t* b, size_t bytes)
{
    int bits = 0;
    size_t i = 0;
    for (; i + 4 <= bytes; i += 4) {
        uint32_t x = 0, y = 0;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        bits += static_cast<int>(std::bitset<32>(x ^ y).count());
    }
    for (; i < bytes; ++i)
        bits += static_cast<int>(std::bitset<8>(static_cast<uint8_t>(a[i] ^ b[i])).count());
    return bits;
}
