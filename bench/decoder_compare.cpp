// Compares the band decoder with fixed thresholds half-way between the
// nominal levels (wmextract's until it adapted them) against wmextract's
// own on real damaged bands: reads band-only video (luma rows 0 and 1, 3840
// bytes a frame, as `ffmpeg -vf crop=1920:2:0:0,extractplanes=y` writes it)
// and the watermark data it was stamped with, and counts frames that differ
// and bit errors for each.
//
// usage: decoder_compare BAND.gray DATA
#include <array>
#include <bitset>
#include <cstdio>
#include <vector>

#include "watermark.h"

namespace {

constexpr int runs = static_cast<int>(payloadSize) * symbolsPerByte;

// The mean of a run's inner four samples in both rows, as the decoder reads it.
std::array<double, runs> runMeans(const uint8_t* band)
{
    std::array<double, runs> means{};
    for (int r = 0; r < runs; ++r) {
        int sum = 0;
        for (int s = 2; s < 6; ++s)
            sum += band[r * samplesPerSymbol + s] + band[frameWidth + r * samplesPerSymbol + s];
        means[static_cast<size_t>(r)] = sum / 8.0;
    }
    return means;
}

unsigned slice(double mean, const std::array<double, 3>& thresholds)
{
    unsigned symbol = 0;
    for (double t : thresholds)
        symbol += mean > t ? 1 : 0;
    return symbol;
}

void decodeFixed(const uint8_t* band, uint8_t* payload)
{
    const auto means = runMeans(band);
    std::array<double, 3> thresholds{};
    for (int t = 0; t < 3; ++t)
        thresholds[static_cast<size_t>(t)] =
            (symbolLevel(static_cast<uint8_t>(t)) + symbolLevel(static_cast<uint8_t>(t + 1))) / 2.0;
    for (size_t i = 0; i < payloadSize; ++i) {
        unsigned byte = 0;
        for (size_t k = 0; k < 4; ++k)
            byte = (byte << 2) | slice(means[i * 4 + k], thresholds);
        payload[i] = static_cast<uint8_t>(byte);
    }
}

int bitErrors(const uint8_t* got, const uint8_t* expected)
{
    int bits = 0;
    for (size_t i = 0; i < payloadSize; ++i)
        bits += static_cast<int>(std::bitset<8>(got[i] ^ expected[i]).count());
    return bits;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: decoder_compare BAND.gray DATA\n", stderr);
        return 1;
    }
    FILE* pBand = std::fopen(argv[1], "rb");
    FILE* pData = std::fopen(argv[2], "rb");
    if (pBand == nullptr || pData == nullptr) {
        std::fputs("decoder_compare: cannot open the files\n", stderr);
        return 2;
    }
    std::vector<uint8_t> band(static_cast<size_t>(bandLength));
    std::array<uint8_t, payloadSize> expected{};
    std::array<uint8_t, payloadSize> fixed{};
    std::array<uint8_t, payloadSize> adaptive{};
    int frames = 0, fixedFrames = 0, fixedBits = 0, adaptiveFrames = 0, adaptiveBits = 0;
    while (std::fread(band.data(), 1, band.size(), pBand) == band.size() &&
           std::fread(expected.data(), 1, payloadSize, pData) == payloadSize) {
        decodeFixed(band.data(), fixed.data());
        decodeBand(band.data(), frameWidth, frameWidth, 8,
                   findBandRows(band.data(), frameWidth, frameWidth, 8, frameHeight, 2),
                   adaptive.data());
        const int a = bitErrors(fixed.data(), expected.data());
        const int b = bitErrors(adaptive.data(), expected.data());
        fixedFrames += a > 0;
        fixedBits += a;
        adaptiveFrames += b > 0;
        adaptiveBits += b;
        ++frames;
    }
    std::printf("%d frames: fixed %d differ, %d bit errors; adaptive %d differ, %d bit errors\n",
                frames, fixedFrames, fixedBits, adaptiveFrames, adaptiveBits);
    std::fclose(pBand);
    std::fclose(pData);
    return 0;
}
