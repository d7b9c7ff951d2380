// How often the payload code, given more wrong bytes than it can correct,
// hands back another codeword instead of saying uncorrectable: random
// codewords with t+1 to t+8 random wrong bytes at random positions.
//
// usage: miscorrection [TRIALS]   (cmake --build build --target miscorrection)
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>

#include "reed_solomon.h"

int main(int argc, char** argv)
{
    const long trials = argc > 1 ? std::atol(argv[1]) : 200000;
    std::mt19937 rng(5);
    for (int dataBytes : {40, 32}) {
        const int limit = (static_cast<int>(payloadSize) - dataBytes) / 2;
        long miscorrected = 0;
        for (long trial = 0; trial < trials; ++trial) {
            std::array<uint8_t, payloadSize> word{};
            for (int i = 0; i < dataBytes; ++i)
                word[static_cast<size_t>(i)] = static_cast<uint8_t>(rng());
            rsEncode(word.data(), dataBytes);
            std::array<int, payloadSize> at{};
            std::iota(at.begin(), at.end(), 0);
            std::shuffle(at.begin(), at.end(), rng);
            const int wrong = limit + 1 + static_cast<int>(trial % 8);
            for (int k = 0; k < wrong; ++k)
                word[static_cast<size_t>(at[static_cast<size_t>(k)])] ^=
                    static_cast<uint8_t>(1 + rng() % 255);
            if (rsDecode(word.data(), dataBytes) >= 0)
                ++miscorrected;
        }
        std::printf("K=%d: %ld words with %d to %d wrong bytes, %ld miscorrected\n", dataBytes,
                    trials, limit + 1, limit + 8, miscorrected);
    }
    return 0;
}
