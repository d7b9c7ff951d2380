#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>

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

// Every run as the sum of its inner samples in both rows; levels and
// thresholds are held on the same scale.
using RunSums = std::array<int, maxRuns>;
RunSums runSums(const uint8_t* row0, const uint8_t* row1, size_t runs)
{
    RunSums sums{};
    for (size_t r = 0; r < runs; ++r) {
        const size_t start = r * samplesPerSymbol;
        for (size_t s = start + innerBegin; s < start + innerEnd; ++s)
            sums[r] += row0[s] + row1[s];
    }
    return sums;
}

Levels nominalLevels()
{
    Levels level{};
    for (unsigned s = 0; s < 4; ++s)
        level[s] = samplesPerMean * symbolLevel(static_cast<uint8_t>(s));
    return level;
}

// Where the runs read as each level at `thresholds` lie: the mean of their
// sums, or the nominal level for a level no run reads as. Each class mean
// lies inside its own class's interval, so the levels keep their order.
Levels classMeans(const RunSums& sums, size_t runs, const Thresholds& thresholds)
{
    Levels total{};
    std::array<int, 4> count{};
    for (size_t r = 0; r < runs; ++r) {
        const unsigned s = slice(sums[r], thresholds);
        total[s] += sums[r];
        ++count[s];
    }
    Levels means = nominalLevels();
    for (unsigned s = 0; s < 4; ++s)
        if (count[s] > 0)
            means[s] = total[s] / count[s];
    return means;
}

} // namespace

double decodeBandRows(const uint8_t* row0, const uint8_t* row1, size_t payloadBytes,
                      uint8_t* payload)
{
    assert(payloadBytes <= payloadSize);
    const size_t runs = payloadBytes * symbolsPerByte;
    const RunSums sums = runSums(row0, row1, runs);
    // Compression and range conversions move whole levels, not only single
    // runs: each level is placed where the runs first read as it lie, and
    // the runs are read again against the midpoints of those places.
    const Thresholds thresholds = midpoints(classMeans(sums, runs, midpoints(nominalLevels())));

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
        for (size_t k = 0; k < runs; ++k) {
            const size_t mid = k * samplesPerSymbol + samplesPerSymbol / 2;
            middle += std::abs(row[mid] - row[mid - 1]);
        }
    }
    const double perBoundary = static_cast<double>(boundary) / static_cast<double>(2 * (runs - 1));
    const double perMiddle = static_cast<double>(middle) / static_cast<double>(2 * runs);
    if (perBoundary >= 4.0)
        return perBoundary >= 1.6 * (perMiddle + 1.0);
    // Few changes: a payload of nearly one symbol, whose runs sit on the
    // levels, or a picture too flat to tell from one; a slope is neither.
    const RunSums sums = runSums(row0, row1, runs);
    const Thresholds first = midpoints(nominalLevels());
    const Levels means = classMeans(sums, runs, first);
    for (size_t r = 0; r < runs; ++r)
        if (std::abs(sums[r] - means[slice(sums[r], first)]) > 8.0 * samplesPerMean)
            return false;
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
