#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "watermark.h"

namespace {

// Compression smears a run's edges first, so only its middle counts.
constexpr int innerBegin = 2;
constexpr int innerEnd = 6;
constexpr int samplesPerMean = 2 * (innerEnd - innerBegin);
constexpr size_t maxRuns = payloadSize * symbolsPerByte;

using Levels = std::array<double, 4>;
using Thresholds = std::array<double, 3>;

// Thresholds half-way between neighbouring levels.
Thresholds midpoints(const Levels& level)
{
    return {(level[0] + level[1]) / 2, (level[1] + level[2]) / 2, (level[2] + level[3]) / 2};
}

unsigned slice(double sum, const Thresholds& thresholds)
{
    unsigned symbol = 0;
    for (double t : thresholds)
        symbol += sum > t ? 1u : 0u;
    return symbol;
}

} // namespace

double decodeBandRows(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes,
                      uint8_t* payload)
{
    assert(payloadBytes <= payloadSize);
    // Every run as the sum of its inner samples in both rows; levels and
    // thresholds are held on the same scale.
    const size_t runs = payloadBytes * symbolsPerByte;
    std::array<int, maxRuns> sums{};
    for (size_t r = 0; r < runs; ++r) {
        const size_t start = r * samplesPerSymbol;
        for (size_t s = start + innerBegin; s < start + innerEnd; ++s)
            sums[r] += row0[s] + row1[s];
    }
    Levels level{};
    for (unsigned s = 0; s < 4; ++s)
        level[s] = samplesPerMean * symbolLevel(static_cast<uint8_t>(s));
    Thresholds thresholds = midpoints(level);

    // Compression and range conversions move whole levels, not only single
    // runs: each level is placed where the runs first read as it lie, and
    // the runs are read again against the midpoints of those places.
    Levels total{};
    std::array<int, 4> count{};
    for (size_t r = 0; r < runs; ++r) {
        const unsigned s = slice(sums[r], thresholds);
        total[s] += sums[r];
        ++count[s];
    }
    // Each class mean lies inside its own class's interval, so the adapted
    // levels keep their order and need no check.
    Levels adapted = level;
    for (unsigned s = 0; s < 4; ++s)
        if (count[s] > 0)
            adapted[s] = total[s] / count[s];
    thresholds = midpoints(adapted);

    double smallest = maxMargin * samplesPerMean;
    for (size_t i = 0; i < payloadBytes; ++i) {
        unsigned byte = 0;
        for (size_t k = 0; k < symbolsPerByte; ++k) {
            const int sum = sums[i * symbolsPerByte + k];
            byte = (byte << 2) | slice(sum, thresholds);
            for (double t : thresholds)
                smallest = std::min(smallest, std::abs(sum - t));
        }
        payload[i] = static_cast<uint8_t>(byte);
    }
    return smallest / samplesPerMean;
}

bool looksLikeBand(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes)
{
    const size_t runs = payloadBytes * symbolsPerByte;
    // Level changes at run boundaries against changes in the middle of runs:
    // a band changes level only between runs, and compression smears the
    // edges without moving them; a picture has no such grid.
    long boundary = 0, middle = 0;
    for (const uint8_t* row : {row0, row1}) {
        for (size_t k = 1; k < runs; ++k)
            boundary += std::abs(row[k * samplesPerSymbol] - row[k * samplesPerSymbol - 1]);
        for (size_t k = 0; k < runs; ++k)
            middle += std::abs(row[k * samplesPerSymbol + 4] - row[k * samplesPerSymbol + 3]);
    }
    const double perBoundary = static_cast<double>(boundary) / static_cast<double>(2 * (runs - 1));
    const double perMiddle = static_cast<double>(middle) / static_cast<double>(2 * runs);
    if (perBoundary >= 4.0)
        return perBoundary >= 1.6 * (perMiddle + 1.0);
    // Few changes: a payload of nearly one symbol, whose runs sit on the
    // levels, or a picture too flat to tell from one; a slope is neither.
    std::vector<double> means(runs);
    std::array<double, 4> sum{}, count{};
    const double thresholds[3] = {52.5, 125.5, 198.5};
    auto slot = [&](double m) {
        return (m > thresholds[0]) + (m > thresholds[1]) + (m > thresholds[2]);
    };
    for (size_t k = 0; k < runs; ++k) {
        int total = 0;
        for (int i = innerBegin; i < innerEnd; ++i)
            total += row0[k * samplesPerSymbol + static_cast<size_t>(i)] +
                     row1[k * samplesPerSymbol + static_cast<size_t>(i)];
        means[k] = total / (2.0 * (innerEnd - innerBegin));
        sum[static_cast<size_t>(slot(means[k]))] += means[k];
        count[static_cast<size_t>(slot(means[k]))] += 1;
    }
    for (double m : means) {
        const auto s = static_cast<size_t>(slot(m));
        if (std::abs(m - sum[s] / count[s]) > 8.0)
            return false;
    }
    return true;
}

bool chromaRowsNeutral(const uint8_t* uRow, const uint8_t* vRow, size_t length)
{
    long deviation = 0;
    for (size_t i = 0; i < length; ++i)
        deviation += std::abs(uRow[i] - neutralChroma) + std::abs(vRow[i] - neutralChroma);
    // Compression bleeds colour up into the row (measured up to 18 on
    // average); band data read as chroma sits some 70 away.
    return static_cast<double>(deviation) <= 40.0 * static_cast<double>(2 * length);
}
