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
    encodeBandRow(payload.data(), payloadSize, row.data(), bandRowLength);
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

TEST(BandDecoder, ABandShiftedByAFixedOffsetDecodesWithTheLevelsItHas)
{
    // A shift moves every level, and the thresholds follow: the margin is
    // what the fixed thresholds would leave at least, and all of it where
    // no level was clipped at 0 or 255.
    std::mt19937 rng(3);
    for (int offset : {-30, -12, 12, 30}) {
        const Payload sent = randomPayload(rng);
        Row row = encode(sent);
        for (auto& s : row)
            s = clampSample(s + offset);
        Payload got{};
        const double margin = decode(row, row, got);
        EXPECT_EQ(got, sent) << offset;
        EXPECT_GT(margin, maxMargin - std::abs(offset)) << offset;
        if (std::abs(offset) < 16) {
            EXPECT_EQ(margin, maxMargin) << offset;
        }
    }
}

TEST(BandDecoder, MarginFindsTheRunClosestToAThreshold)
{
    Payload sent{};
    Row row = encode(sent);
    // One run pushed onto the 16/89 threshold still reads as 16, with next
    // to no margin.
    std::fill_n(row.begin() + 8 * 17, 8, uint8_t{52});
    Row row1 = encode(sent);
    std::fill_n(row1.begin() + 8 * 17, 8, uint8_t{53});
    Payload got{};
    EXPECT_LT(decode(row, row1, got), 0.1);
    EXPECT_EQ(got, sent);

    // A flat picture reads as a payload, and a confident one: the margin
    // is no check that a band is there.
    Row grey{};
    grey.fill(128);
    Payload symbolTwo{};
    symbolTwo.fill(0xAA);
    EXPECT_EQ(decode(grey, grey, got), 19.5);
    EXPECT_EQ(got, symbolTwo);
}

TEST(BandDecoder, RunMeansJustEitherSideOfEachThresholdReadAsTheirNearerLevel)
{
    // Among runs of every level, a flat run one unit below a threshold
    // (52.5, 125.5, 198.5) reads as the lower symbol, one unit above as the
    // upper, each with under a unit of margin; a decoder off by one level
    // unit, or with its comparisons the wrong way round, gets one wrong.
    Payload background{};
    background.fill(0x1B); // 00 01 10 11: sixty runs of each level
    for (unsigned lower = 0; lower < 3; ++lower) {
        const int threshold2 =
            symbolLevel(static_cast<uint8_t>(lower)) + symbolLevel(static_cast<uint8_t>(lower + 1));
        for (int side = 0; side < 2; ++side) {
            const auto value = static_cast<uint8_t>(threshold2 / 2 + side);
            Row row = encode(background);
            std::fill_n(row.begin() + 8 * 5, 8, value); // run 5: bits 5-4 of byte 1
            Payload got{};
            EXPECT_LT(decode(row, row, got), 1.0) << "value " << int{value};
            EXPECT_EQ((got[1] >> 4) & 3u, lower + static_cast<unsigned>(side))
                << "value " << int{value};
            EXPECT_EQ(got[0], 0x1B);
        }
    }
}

TEST(BandDecoder, BothRowsCountAndALevelOfOneRunPlacesItsThreshold)
{
    // Damage in row 1 alone moves the run's mean half-way: 16 and 162 read
    // as 89. A decoder that read row 0 twice would not see it.
    Payload sent{};
    const Row row0 = encode(sent);
    Row row1 = row0;
    std::fill_n(row1.begin() + 8 * 9, 8, uint8_t{162}); // run 9: bits 5-4 of byte 2
    Payload got{};
    decode(row0, row1, got);
    Payload expected = sent;
    expected[2] = 0x10;
    EXPECT_EQ(got, expected);

    // A band 30 darker, where only run 0 carries the lowest level (16 - 30
    // clips to 0): that one run places the level, and the first threshold
    // sits half-way between it and 89 - 30, at 29.5 from both.
    Payload one{};
    one.fill(0x6F); // 01 10 11 11
    one[0] = 0x1B;  // 00 01 10 11
    Row dark = encode(one);
    for (auto& s : dark)
        s = clampSample(s - 30);
    EXPECT_EQ(decode(dark, dark, got), 29.5);
    EXPECT_EQ(got, one);
}

TEST(BandDecoder, ABandIsToldFromPicturesThatAreNotFlat)
{
    std::mt19937 rng(21);
    const Row row = encode(randomPayload(rng));
    Row picture{};
    EXPECT_TRUE(looksLikeBand(row.data(), row.data(), payloadSize));
    // Blurred as an encoder would, edges moved by nothing.
    Row soft = row;
    for (size_t i = 1; i + 1 < row.size(); ++i)
        soft[i] = static_cast<uint8_t>((row[i - 1] + 2 * row[i] + row[i + 1]) / 4);
    EXPECT_TRUE(looksLikeBand(soft.data(), soft.data(), payloadSize));
    // The same band moved by half a run is a picture of stripes.
    std::rotate_copy(row.begin(), row.begin() + 4, row.end(), picture.begin());
    EXPECT_FALSE(looksLikeBand(picture.data(), picture.data(), payloadSize));
    for (uint8_t& s : picture)
        s = static_cast<uint8_t>(100 + rng() % 40); // noise
    EXPECT_FALSE(looksLikeBand(picture.data(), picture.data(), payloadSize));
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<uint8_t>(16 + i * 200 / picture.size()); // a slope
    EXPECT_FALSE(looksLikeBand(picture.data(), picture.data(), payloadSize));
    // Stripes on the run grid whose changes at the runs' edges are 1.4
    // times those inside the runs are a picture; at 1.8 times, a band that
    // compression blurred. Half-runs of levels 100, 109, 95, 86, 100, ...
    for (const auto& [edge, isBand] : {std::pair<int, bool>{14, false}, {18, true}}) {
        const int inside = 9;
        const int steps[4] = {inside, -edge, -inside, edge};
        int level = 100;
        for (size_t half = 0; half < picture.size() / 4; ++half) {
            std::fill_n(picture.begin() + static_cast<long>(half * 4), 4,
                        static_cast<uint8_t>(level));
            level += steps[half % 4];
        }
        EXPECT_EQ(looksLikeBand(picture.data(), picture.data(), payloadSize), isBand) << edge;
    }
    // A flat bar is a payload of one symbol: the limit of the test.
    std::fill(picture.begin(), picture.end(), uint8_t{16});
    EXPECT_TRUE(looksLikeBand(picture.data(), picture.data(), payloadSize));

    std::vector<uint8_t> u(960, 140), v(960, 100);
    EXPECT_TRUE(chromaRowsNeutral(u.data(), v.data(), u.size()));
    std::fill(v.begin(), v.end(), uint8_t{16});
    EXPECT_FALSE(chromaRowsNeutral(u.data(), v.data(), u.size()));
}
