#include <algorithm>
#include <cstdlib>

#include "watermark.h"

namespace {

// Compression smears a run's edges first, so only its middle counts.
constexpr int innerBegin = 2;
constexpr int innerEnd = 6;
constexpr int samplesPerMean = 2 * (innerEnd - innerBegin);

} // namespace

double decodeBandRows(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes,
                      uint8_t* payload)
{
    // Sums are compared against thresholds scaled by samplesPerMean, so the
    // decision stays in exact integers; each threshold is half-way between
    // two neighbouring levels.
    int thresholds[3];
    for (int t = 0; t < 3; ++t)
        thresholds[t] =
            samplesPerMean *
            (symbolLevel(static_cast<uint8_t>(t)) + symbolLevel(static_cast<uint8_t>(t + 1))) / 2;
    int smallest = static_cast<int>(maxMargin * samplesPerMean);
    size_t run = 0;
    for (size_t i = 0; i < payloadBytes; ++i) {
        unsigned byte = 0;
        for (int k = 0; k < symbolsPerByte; ++k, ++run) {
            const size_t start = run * samplesPerSymbol;
            int sum = 0;
            for (size_t s = start + innerBegin; s < start + innerEnd; ++s)
                sum += row0[s] + row1[s];
            unsigned symbol = 0;
            for (int threshold : thresholds) {
                if (sum > threshold)
                    ++symbol;
                smallest = std::min(smallest, std::abs(sum - threshold));
            }
            byte = (byte << 2) | symbol;
        }
        payload[i] = static_cast<uint8_t>(byte);
    }
    return static_cast<double>(smallest) / samplesPerMean;
}
