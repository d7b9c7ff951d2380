#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "watermark.h"

namespace {

using Row = std::array<uint8_t, bandRowLength>;
using Payload = std::array<uint8_t, payloadSize>;

Row encode(const Payload& payload)
{
    Row row{};
    encodeBandRow(payload.data(), payloadSize, row.data());
    return row;
}

double decode(const Row& row0, const Row& row1, Payload& payload)
{
    return decodeBandRows(row0.data(), row1.data(), payloadSize, payload.data());
}

Payload randomPayload(std::mt19937& rng)
{
    Payload p{};
    for (auto& b : p)
        b = static_cast<uint8_t>(rng());
    return p;
}

uint8_t clampSample(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

TEST(BandDecoder, EverySymbolAtEveryPositionComesBack)
{
    for (size_t run = 0; run < payloadSize * symbolsPerByte; ++run) {
        for (unsigned symbol = 0; symbol < 4; ++symbol) {
            Payload sent{};
            // The neighbours carry the opposite symbol, so a run read from
            // the wrong place shows.
            sent.fill(symbol < 2 ? 0xFF : 0x00);
            const int shift = 6 - 2 * static_cast<int>(run % 4);
            uint8_t& byte = sent[run / 4];
            byte = static_cast<uint8_t>((byte & ~(3u << shift)) | (symbol << shift));
            const Row row = encode(sent);
            Payload got{};
            EXPECT_EQ(decode(row, row, got), maxMargin);
            ASSERT_EQ(got, sent) << "run " << run << " symbol " << symbol;
        }
    }
}

TEST(BandDecoder, StampedFramesDecodeExactly)
{
    ASSERT_TRUE(setUpFrameBuffer());
    std::fill(frameBuf, frameBuf + frameSize, uint8_t{77});
    std::mt19937 rng(1);
    for (int i = 0; i < 200; ++i) {
        const Payload sent = randomPayload(rng);
        stampWatermark(sent.data());
        Payload got{};
        EXPECT_EQ(decodeBandRows(frameBuf, frameBuf + frameWidth, payloadSize, got.data()),
                  maxMargin);
        ASSERT_EQ(got, sent);
    }
    releaseFrameBuffer();
}

TEST(BandDecoder, NoiseWithinTheMarginAndSmearedEdgesAreTolerated)
{
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> noise(-30, 30);
    for (int i = 0; i < 50; ++i) {
        const Payload sent = randomPayload(rng);
        Row row0 = encode(sent), row1 = row0;
        for (size_t s = 0; s < row0.size(); ++s) {
            const size_t inRun = s % samplesPerSymbol;
            const bool edge = inRun < 2 || inRun >= 6;
            // Edges may go anywhere; the middle stays within 30 levels.
            row0[s] = edge ? static_cast<uint8_t>(rng()) : clampSample(row0[s] + noise(rng));
            row1[s] = edge ? static_cast<uint8_t>(rng()) : clampSample(row1[s] + noise(rng));
        }
        Payload got{};
        const double margin = decode(row0, row1, got);
        ASSERT_EQ(got, sent);
        EXPECT_GE(margin, maxMargin - 30);
        EXPECT_LT(margin, maxMargin);
    }
}

TEST(BandDecoder, ABandShiftedByAFixedOffsetDecodesWithASmallerMargin)
{
    std::mt19937 rng(3);
    for (int offset : {-30, -12, 12, 30}) {
        const Payload sent = randomPayload(rng);
        Row row = encode(sent);
        for (auto& s : row)
            s = clampSample(s + offset);
        Payload got{};
        EXPECT_EQ(decode(row, row, got), maxMargin - std::abs(offset)) << offset;
        EXPECT_EQ(got, sent) << offset;
    }
}

TEST(BandDecoder, MarginFindsTheRunClosestToAThreshold)
{
    Payload sent{};
    Row row = encode(sent);
    // One run pushed exactly onto the 16/89 threshold reads as 16, margin 0.
    std::fill_n(row.begin() + 8 * 17, 8, uint8_t{52});
    Row row1 = encode(sent);
    std::fill_n(row1.begin() + 8 * 17, 8, uint8_t{53});
    Payload got{};
    EXPECT_EQ(decode(row, row1, got), 0.0);
    EXPECT_EQ(got, sent);

    // A flat picture with no band is only 2.5 levels from a threshold.
    Row grey{};
    grey.fill(128);
    EXPECT_EQ(decode(grey, grey, got), 2.5);
}
