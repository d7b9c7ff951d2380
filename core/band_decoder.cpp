#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>

#include "watermark.h"

namespace {

using SymbolValues = std::array<double, bandSymbols>;
using Levels = std::array<double, 4>;
using Thresholds = std::array<double, 3>;

constexpr double levelStep = 73.0;
// Rows whose symbols lie this close to row 0's, on average, repeat it:
// compression leaves repeated rows of a rendition within 12 (x264 CRF 38 up
// to 31), a row that is 78 % band and the rest picture lies 13 to 27 away,
// picture 33 and more.
constexpr double sameRowLimit = levelStep / 4;
// How far row 0 is taken away from row 1 when the band may be thinner than
// a row: a band covering a share c of row 0 wants (1 - c) / c.
constexpr double extrapolations[] = {0.25, 0.5, 0.75, 1.0};
constexpr int neighbourRounds = 2;
// Symbols of 4 samples or fewer are narrow: their edges are most of them.
constexpr int narrowWidth = 4 * bandSymbols;

// Positions along a row in units of 1/1920 of a sample, so that every
// symbol boundary is a whole number: symbol k spans [8kW, 8(k+1)W).
constexpr int64_t unitsPerSample = 8 * bandSymbols;

// One sample of a row: a byte, or two little-endian bytes above 8 bits.
int sampleAt(const uint8_t* row, int64_t x, int bitDepth)
{
    return bitDepth > 8 ? row[2 * x] | row[2 * x + 1] << 8 : row[x];
}

// Samples above 8 bits are read on the 8-bit scale: 10-bit levels 64, 356,
// 648 and 940 are 16, 89, 162 and 235.
double scaleOf(int bitDepth)
{
    return static_cast<double>(1 << (bitDepth - 8));
}

int symbolStart(int k, int width)
{
    return symbolSpanStart(k, bandSymbols, width);
}

// Each symbol's samples as integer sums of weighted samples over the rows
// added so far, and the weight of one row.
struct SymbolSums {
    std::array<int64_t, bandSymbols> sum{};
    std::array<int64_t, bandSymbols> weight{};
};

// The part of each symbol's span that counts: its middle half, or its
// middle three quarters where symbols are narrow.
int64_t insetOf(int width)
{
    return width <= narrowWidth ? width : 2 * static_cast<int64_t>(width);
}

void addRow(const uint8_t* row, int width, int bitDepth, SymbolSums& sums)
{
    const int64_t w = width, inset = insetOf(width);
    for (int k = 0; k < bandSymbols; ++k) {
        // The symbol's own samples only: a sample that carries a neighbour
        // where the band was stamped at this width must not count.
        const int64_t lo = 8 * k * w + inset, hi = 8 * (k + 1) * w - inset;
        const int64_t first = std::max<int64_t>(symbolStart(k, width), lo / unitsPerSample);
        const int64_t end = symbolStart(k + 1, width);
        int64_t sum = 0, weight = 0;
        for (int64_t x = first; x < end && x * unitsPerSample < hi; ++x) {
            const int64_t part =
                std::min(hi, (x + 1) * unitsPerSample) - std::max(lo, x * unitsPerSample);
            sum += part * sampleAt(row, x, bitDepth);
            weight += part;
        }
        sums.sum[static_cast<size_t>(k)] += sum;
        sums.weight[static_cast<size_t>(k)] = weight;
    }
}

// The mean of each symbol over the `rows` rows added to `sums`.
SymbolValues meansOf(const SymbolSums& sums, int rows, int bitDepth)
{
    SymbolValues v{};
    for (size_t k = 0; k < v.size(); ++k)
        v[k] = static_cast<double>(sums.sum[k]) /
               (static_cast<double>(rows * sums.weight[k]) * scaleOf(bitDepth));
    return v;
}

// The symbols' values in rows 0 to rows - 1, averaged.
SymbolValues leadingRows(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, int rows)
{
    SymbolSums sums;
    for (int r = 0; r < rows; ++r)
        addRow(luma + r * stride, width, bitDepth, sums);
    return meansOf(sums, rows, bitDepth);
}

double meanDistance(const SymbolValues& a, const SymbolValues& b)
{
    double d = 0;
    for (size_t k = 0; k < a.size(); ++k)
        d += std::abs(a[k] - b[k]);
    return d / bandSymbols;
}

Levels nominalLevels()
{
    Levels level{};
    for (unsigned s = 0; s < 4; ++s)
        level[s] = symbolLevel(static_cast<uint8_t>(s));
    return level;
}

// Thresholds half-way between neighbouring levels.
Thresholds midpoints(const Levels& level)
{
    return {(level[0] + level[1]) / 2, (level[1] + level[2]) / 2, (level[2] + level[3]) / 2};
}

unsigned slice(double value, const Thresholds& thresholds)
{
    unsigned symbol = 0;
    for (double t : thresholds)
        symbol += value > t ? 1u : 0u;
    return symbol;
}

// Where the symbols read as each level at `thresholds` lie: the mean of
// their values, or the nominal level for a level none reads as. Each class
// mean lies inside its own class's interval, so the levels keep their order.
Levels classMeans(const SymbolValues& v, const Thresholds& thresholds)
{
    Levels total{};
    std::array<int, 4> count{};
    for (double value : v) {
        const unsigned s = slice(value, thresholds);
        total[s] += value;
        ++count[s];
    }
    Levels means = nominalLevels();
    for (unsigned s = 0; s < 4; ++s)
        if (count[s] > 0)
            means[s] = total[s] / count[s];
    return means;
}

struct Reading {
    std::array<uint8_t, bandSymbols> symbol{};
    Levels level{};
    double margin = maxMargin;
    double spread = 0; // RMS distance to the levels, in level spacings
};

// Compression and range conversions move whole levels, not only single
// symbols: each level is placed where the symbols first read as it lie,
// and the symbols are read again against the midpoints of those places.
Reading readSymbols(const SymbolValues& v)
{
    Reading r;
    r.level = classMeans(v, midpoints(nominalLevels()));
    const Thresholds thresholds = midpoints(r.level);
    double squares = 0;
    for (size_t k = 0; k < v.size(); ++k) {
        const unsigned s = slice(v[k], thresholds);
        r.symbol[k] = static_cast<uint8_t>(s);
        for (double t : thresholds)
            r.margin = std::min(r.margin, std::abs(v[k] - t));
        squares += (v[k] - r.level[s]) * (v[k] - r.level[s]);
    }
    const double spacing = std::max((r.level[3] - r.level[0]) / 3, 1.0);
    r.spread = std::sqrt(squares / bandSymbols) / spacing;
    return r;
}

// Narrow symbols take part of their neighbours' levels (the scaler's and
// the encoder's blur): what is left after the levels is regressed on the
// left and right neighbours' levels, that part taken away, and the symbols
// read again.
Reading cancelNeighbours(const SymbolValues& v, Reading r)
{
    for (int round = 0; round < neighbourRounds; ++round) {
        Levels total{};
        std::array<int, 4> count{};
        double mean = 0;
        for (size_t k = 0; k < v.size(); ++k) {
            total[r.symbol[k]] += v[k];
            ++count[r.symbol[k]];
            mean += r.level[r.symbol[k]];
        }
        mean /= bandSymbols;
        SymbolValues left{}, right{}, rest{};
        for (size_t k = 0; k < v.size(); ++k) {
            left[k] = k > 0 ? r.level[r.symbol[k - 1]] - mean : 0;
            right[k] = k + 1 < v.size() ? r.level[r.symbol[k + 1]] - mean : 0;
            rest[k] = v[k] - total[r.symbol[k]] / count[r.symbol[k]];
        }
        double ll = 0, rr = 0, lr = 0, le = 0, re = 0;
        for (size_t k = 0; k < v.size(); ++k) {
            ll += left[k] * left[k];
            rr += right[k] * right[k];
            lr += left[k] * right[k];
            le += left[k] * rest[k];
            re += right[k] * rest[k];
        }
        const double det = ll * rr - lr * lr;
        if (std::abs(det) < 1e-9)
            break;
        const double cl = (le * rr - re * lr) / det, cr = (re * ll - le * lr) / det;
        SymbolValues cleaned{};
        for (size_t k = 0; k < v.size(); ++k)
            cleaned[k] = v[k] - cl * left[k] - cr * right[k];
        r = readSymbols(cleaned);
    }
    return r;
}

// Every symbol within 8 of the mean of the symbols first read as its level.
bool onFourLevels(const SymbolValues& v)
{
    const Thresholds first = midpoints(nominalLevels());
    const Levels means = classMeans(v, first);
    for (double value : v)
        if (std::abs(value - means[slice(value, first)]) > 8.0)
            return false;
    return true;
}

// Wide symbols: level changes at symbol boundaries against changes in the
// middle of symbols, in every band row. A band changes level only between
// symbols, and compression smears the edges without moving them; a picture
// has no such grid. 1 for a band, 0 for a picture, -1 where there are too
// few changes to tell.
int gridOfWideSymbols(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, int rows)
{
    int64_t boundary = 0, middle = 0;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* row = luma + r * stride;
        auto change = [&](int x) {
            return std::abs(sampleAt(row, x, bitDepth) - sampleAt(row, x - 1, bitDepth));
        };
        for (int k = 0; k < bandSymbols; ++k) {
            const int start = symbolStart(k, width), end = symbolStart(k + 1, width);
            if (k > 0)
                boundary += change(start);
            middle += change(start + (end - start) / 2);
        }
    }
    const double scale = scaleOf(bitDepth);
    const double perBoundary = static_cast<double>(boundary) / (rows * (bandSymbols - 1) * scale);
    const double perMiddle = static_cast<double>(middle) / (rows * bandSymbols * scale);
    if (perBoundary < 4.0)
        return -1;
    return perBoundary >= 1.6 * (perMiddle + 1.0) ? 1 : 0;
}

// Narrow symbols have no middle to compare with: the changes between
// neighbouring samples of the rows' mean, and their phase against the
// symbol grid. A band's changes all fall on symbol boundaries (a scaler and
// an encoder smear them but do not move them), a picture's anywhere. 1, 0
// or -1 as above.
int gridOfNarrowSymbols(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, int rows)
{
    constexpr double twoPi = 6.283185307179586;
    const double scale = scaleOf(bitDepth) * rows;
    double total = 0, re = 0, im = 0;
    auto column = [&](int x) {
        int sum = 0;
        for (int r = 0; r < rows; ++r)
            sum += sampleAt(luma + r * stride, x, bitDepth);
        return sum;
    };
    int previous = column(0);
    for (int x = 1; x < width; ++x) {
        const int current = column(x);
        const double change = std::abs(current - previous) / scale;
        const double angle =
            twoPi * static_cast<double>((static_cast<int64_t>(x) * bandSymbols) % width) / width;
        total += change;
        re += change * std::cos(angle);
        im += change * std::sin(angle);
        previous = current;
    }
    // With random payloads a band changes by 55 or more a symbol boundary on
    // average (measured, every size and chain); pictures with 16 or more put
    // at most 0.12 of their change on the grid, bands 0.16 or more.
    if (total / (bandSymbols - 1) < 16.0)
        return -1;
    return std::sqrt(re * re + im * im) >= 0.14 * total ? 1 : 0;
}

} // namespace

BandRows findBandRows(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, int height,
                      int rows)
{
    assert(rows >= 2 && rows <= maxBandRows && width >= bandSymbols);
    BandRows band;
    if (rows * 540 <= height) {
        band.found = rows;
        band.sure = true;
        return band;
    }
    const SymbolValues row0 = leadingRows(luma, stride, width, bitDepth, 1);
    while (band.found < rows &&
           meanDistance(leadingRows(luma + band.found * stride, stride, width, bitDepth, 1),
                        row0) <= sameRowLimit)
        ++band.found;
    return band;
}

double decodeBand(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, BandRows band,
                  uint8_t payload[payloadSize])
{
    Reading best;
    if (band.sure) {
        best = readSymbols(leadingRows(luma, stride, width, bitDepth, band.found));
    } else {
        SymbolValues bestValues{};
        best.spread = HUGE_VAL;
        auto consider = [&](const SymbolValues& v) {
            const Reading r = readSymbols(v);
            if (r.spread < best.spread) {
                best = r;
                bestValues = v;
            }
        };
        consider(leadingRows(luma, stride, width, bitDepth, band.found));
        const SymbolValues row0 = leadingRows(luma, stride, width, bitDepth, 1);
        const SymbolValues row1 = leadingRows(luma + stride, stride, width, bitDepth, 1);
        for (double a : extrapolations) {
            SymbolValues v{};
            for (size_t k = 0; k < v.size(); ++k)
                v[k] = row0[k] + a * (row0[k] - row1[k]);
            consider(v);
        }
        if (width <= narrowWidth)
            best = cancelNeighbours(bestValues, best);
    }
    for (size_t i = 0; i < payloadSize; ++i) {
        unsigned byte = 0;
        for (size_t k = 0; k < symbolsPerByte; ++k)
            byte = (byte << 2) | best.symbol[i * symbolsPerByte + k];
        payload[i] = static_cast<uint8_t>(byte);
    }
    return best.margin;
}

bool looksLikeBand(const uint8_t* luma, ptrdiff_t stride, int width, int bitDepth, BandRows band)
{
    const int onGrid = width > narrowWidth
                           ? gridOfWideSymbols(luma, stride, width, bitDepth, band.found)
                           : gridOfNarrowSymbols(luma, stride, width, bitDepth, band.found);
    if (onGrid >= 0)
        return onGrid == 1;
    // Few changes: a payload of nearly one symbol, whose symbols sit on the
    // levels, or a picture too flat to tell from one; a slope is neither.
    return onFourLevels(leadingRows(luma, stride, width, bitDepth, band.found));
}

bool chromaRowsNeutral(const uint8_t* uRow, const uint8_t* vRow, int chromaWidth, int bitDepth)
{
    const int neutral = neutralChroma << (bitDepth - 8);
    int64_t deviation = 0;
    for (int i = 0; i < chromaWidth; ++i)
        deviation += std::abs(sampleAt(uRow, i, bitDepth) - neutral) +
                     std::abs(sampleAt(vRow, i, bitDepth) - neutral);
    // Compression bleeds colour up into the row (measured up to 18 on
    // average); band data read as chroma sits some 70 away.
    return static_cast<double>(deviation) <= 40.0 * scaleOf(bitDepth) * 2 * chromaWidth;
}

bool chromaAgreesWithBand(BandRows band, const uint8_t* uRow, const uint8_t* vRow, int chromaWidth,
                          int bitDepth)
{
    return band.found < 2 || chromaRowsNeutral(uRow, vRow, chromaWidth, bitDepth);
}
