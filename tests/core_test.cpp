#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "bit_distance.h"
#include "watermark.h"

namespace {

// The frame buffer is process-wide; each test gets it fresh.
class FrameBuffer : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(setUpFrameBuffer());
        for (uint64_t i = 0; i < frameSize; ++i)
            frameBuf[i] = static_cast<uint8_t>(i * 7 + i / 1920);
        original.assign(frameBuf, frameBuf + frameSize);
    }
    void TearDown() override { releaseFrameBuffer(); }
    std::vector<uint8_t> original;
};

std::array<uint8_t, payloadSize> patternPayload()
{
    std::array<uint8_t, payloadSize> payload{};
    for (size_t i = 0; i < payloadSize; ++i)
        payload[i] = static_cast<uint8_t>(i * 37 + 11);
    return payload;
}

} // namespace

TEST(FrameLayout, GeometryAndPlanePositions)
{
    ASSERT_TRUE(setUpFrameBuffer());
    EXPECT_EQ(frameSize, 3110400u);
    EXPECT_EQ(pUPlane - frameBuf, 2073600);
    EXPECT_EQ(pVPlane - frameBuf, 2592000);
    // The last chroma row ends exactly at the end of the frame.
    EXPECT_EQ(pVPlane + 540 * 960, frameBuf + frameSize);
    releaseFrameBuffer();
    EXPECT_EQ(frameBuf, nullptr);
    EXPECT_EQ(pUPlane, nullptr);
}

TEST(BandEncoder, SymbolLevels)
{
    EXPECT_EQ(symbolLevel(0), 16);
    EXPECT_EQ(symbolLevel(1), 89);
    EXPECT_EQ(symbolLevel(2), 162);
    EXPECT_EQ(symbolLevel(3), 235);
}

TEST(BandEncoder, RunsAreMostSignificantPairFirstAndStayInTheirRow)
{
    const uint8_t payload[2] = {0x1B, 0xE4};
    std::array<uint8_t, 64 + 2> row{};
    row.fill(0x55);
    encodeBandRow(payload, 2, row.data() + 1, 64);
    EXPECT_EQ(row.front(), 0x55) << "wrote before the row";
    EXPECT_EQ(row.back(), 0x55) << "wrote past the row";
    const uint8_t runs[8] = {16, 89, 162, 235, 235, 162, 89, 16};
    for (int s = 0; s < 64; ++s)
        EXPECT_EQ(row[static_cast<size_t>(s) + 1], runs[s / 8]) << "sample " << s;

    // Every byte value lands as its four pairs, in order.
    for (unsigned value = 0; value < 256; ++value) {
        const auto byte = static_cast<uint8_t>(value);
        std::array<uint8_t, 32> one{};
        encodeBandRow(&byte, 1, one.data(), 32);
        for (int k = 0; k < 4; ++k) {
            const uint8_t level = static_cast<uint8_t>(16 + 73 * ((value >> (6 - 2 * k)) & 3));
            for (int s = 0; s < 8; ++s)
                ASSERT_EQ(one[static_cast<size_t>(8 * k + s)], level) << "byte " << value;
        }
    }
}

TEST_F(FrameBuffer, UniformPayloadsFillBothRows)
{
    std::array<uint8_t, payloadSize> payload{};
    stampWatermark(payload.data());
    for (int x = 0; x < 2 * frameWidth; ++x)
        ASSERT_EQ(frameBuf[x], 16) << x;
    payload.fill(0xFF);
    stampWatermark(payload.data());
    for (int x = 0; x < 2 * frameWidth; ++x)
        ASSERT_EQ(frameBuf[x], 235) << x;
}

TEST_F(FrameBuffer, StampTouchesOnlyTheBandAndChromaRowZero)
{
    const auto payload = patternPayload();
    stampWatermark(payload.data());
    EXPECT_EQ(0, std::memcmp(frameBuf, frameBuf + frameWidth, frameWidth)) << "rows differ";
    // Byte b sits at samples 32b..32b+31.
    for (size_t b : {size_t{0}, size_t{1}, size_t{30}, size_t{59}}) {
        const uint8_t expectLast = symbolLevel(payload[b] & 3);
        EXPECT_EQ(frameBuf[32 * b + 31], expectLast) << "byte " << b;
        EXPECT_EQ(frameBuf[32 * b], symbolLevel(static_cast<uint8_t>(payload[b] >> 6)));
    }
    for (int x = 0; x < frameWidth / 2; ++x) {
        ASSERT_EQ(pUPlane[x], 128);
        ASSERT_EQ(pVPlane[x], 128);
    }
    // Every other sample is as it was read.
    const size_t uBegin = 2073600, vBegin = 2592000;
    for (size_t i = 0; i < frameSize; ++i) {
        const bool inBand =
            i < 3840 || (i >= uBegin && i < uBegin + 960) || (i >= vBegin && i < vBegin + 960);
        if (!inBand) {
            ASSERT_EQ(frameBuf[i], original[i]) << "sample " << i;
        }
    }
}

TEST_F(FrameBuffer, StampingIsIdempotentAndOverwritesAnOldBand)
{
    auto first = patternPayload();
    stampWatermark(first.data());
    const std::vector<uint8_t> once(frameBuf, frameBuf + frameSize);
    stampWatermark(first.data());
    EXPECT_EQ(0, std::memcmp(frameBuf, once.data(), frameSize));

    // A band already in the frame leaves no trace under a new one.
    std::array<uint8_t, payloadSize> other{};
    other.fill(0x9C);
    stampWatermark(other.data());
    stampWatermark(first.data());
    EXPECT_EQ(0, std::memcmp(frameBuf, once.data(), frameSize));
}

TEST_F(FrameBuffer, StampingByWindowsMatchesStampingTheFrame)
{
    // Windows as the copy path takes them: cut anywhere, reaching before
    // the frame and past it, where nothing may change.
    auto payload = patternPayload();
    stampWatermark(payload.data());
    const std::vector<uint8_t> whole(frameBuf, frameBuf + frameSize);
    for (int64_t cut : {int64_t{1}, int64_t{4096}, int64_t{777777}}) {
        std::vector<uint8_t> padded(frameSize + 2 * 5000, 0xEE);
        std::copy(original.begin(), original.end(), padded.begin() + 5000);
        for (int64_t from = -5000; from < static_cast<int64_t>(frameSize) + 5000; from += cut) {
            const int64_t to =
                std::min<int64_t>(from + cut, static_cast<int64_t>(frameSize) + 5000);
            stampWindow(builtInGeometry, payload.data(), from, static_cast<size_t>(to - from),
                        padded.data() + 5000 + from);
        }
        EXPECT_TRUE(std::equal(whole.begin(), whole.end(), padded.begin() + 5000)) << cut;
        EXPECT_EQ(std::count(padded.begin(), padded.begin() + 5000, 0xEE), 5000) << cut;
        EXPECT_EQ(std::count(padded.end() - 5000, padded.end(), 0xEE), 5000) << cut;
    }
}

TEST(FrameGeometry, PlanesAndBandRowsAtOtherSizesAndDepths)
{
    constexpr FrameGeometry hd{1280, 720, 8, bandRowsFor(720)};
    EXPECT_EQ(hd.frameBytes(), 1382400u);
    EXPECT_EQ(hd.uOffset(), 921600u);
    EXPECT_EQ(hd.vOffset(), 1152000u);
    constexpr FrameGeometry uhd{3840, 2160, 10, bandRowsFor(2160)};
    EXPECT_EQ(uhd.frameBytes(), 24883200u);
    EXPECT_EQ(uhd.vOffset(), 20736000u);
    EXPECT_EQ(uhd.bandBytes(), 4u * 7680);
    EXPECT_EQ(uhd.neutralBytes(), 2u * 3840);
    const std::array<FrameSpan, 3> spans = stampedSpans(uhd);
    EXPECT_EQ(spans[1].offset, 16588800u);
    EXPECT_EQ(spans[2].length, 7680u);
    for (auto [height, rows] : std::vector<std::pair<int32_t, int>>{
             {180, 2}, {720, 2}, {1080, 2}, {1440, 3}, {2160, 4}, {4320, 8}})
        EXPECT_EQ(bandRowsFor(height), rows) << height;
    EXPECT_EQ(geometryProblem(uhd), nullptr);
    EXPECT_STREQ(geometryProblem({1281, 720, 8, 2}), "width and height must be even");
    EXPECT_STREQ(geometryProblem({8194, 720, 8, 2}), "width must be 320 to 8192");
    EXPECT_STREQ(geometryProblem({1280, 720, 8, 17}), "band rows must be 2 to 16");

    // Sample x carries the symbol its centre falls in, at every width.
    for (int width : {320, 426, 1280, 1920, 3840, 8192})
        for (int x = 0; x < width; ++x) {
            const int k = (2 * x + 1) * bandSymbols / (2 * width);
            ASSERT_LE(symbolSpanStart(k, bandSymbols, width), x) << width << " " << x;
            ASSERT_GT(symbolSpanStart(k + 1, bandSymbols, width), x) << width << " " << x;
        }
}

TEST(FrameGeometry, TenBitBandAndWindowsAtASmallSize)
{
    constexpr FrameGeometry g{320, 180, 10, 3};
    ASSERT_TRUE(setUpFrameBuffer(g));
    for (uint64_t i = 0; i < frameSize; ++i)
        frameBuf[i] = static_cast<uint8_t>(i * 13 + 5);
    const std::vector<uint8_t> before(frameBuf, frameBuf + frameSize);
    const auto payload = patternPayload();
    stampWatermark(payload.data());
    const std::vector<uint8_t> whole(frameBuf, frameBuf + frameSize);
    releaseFrameBuffer();

    // Three identical rows of little-endian levels four times the 8-bit ones.
    for (int row = 0; row < 3; ++row)
        for (int x = 0; x < 320; ++x) {
            const int k = (2 * x + 1) * bandSymbols / 640;
            const unsigned symbol = (payload[static_cast<size_t>(k / 4)] >> (6 - 2 * (k % 4))) & 3u;
            const unsigned level = 4u * symbolLevel(static_cast<uint8_t>(symbol));
            const size_t at = static_cast<size_t>(row * 640 + 2 * x);
            ASSERT_EQ(whole[at] | whole[at + 1] << 8, level) << row << " " << x;
        }
    // Chroma rows 0 and 1 of both planes are 512; row 2 and the luma below
    // the band are the source's.
    for (uint64_t plane : {g.uOffset(), g.vOffset()}) {
        for (size_t i = 0; i < 2 * 320; i += 2) {
            ASSERT_EQ(whole[plane + i], 0x00) << i;
            ASSERT_EQ(whole[plane + i + 1], 0x02) << i;
        }
        EXPECT_TRUE(std::equal(whole.begin() + static_cast<long>(plane + 640),
                               whole.begin() + static_cast<long>(plane + 960),
                               before.begin() + static_cast<long>(plane + 640)));
    }
    EXPECT_TRUE(std::equal(whole.begin() + 3 * 640, whole.begin() + static_cast<long>(g.uOffset()),
                           before.begin() + 3 * 640));

    // Windows cut at odd places give the same frame.
    for (int64_t cut : {int64_t{1}, int64_t{333}, int64_t{4096}}) {
        std::vector<uint8_t> copy = before;
        for (int64_t from = 0; from < static_cast<int64_t>(copy.size()); from += cut)
            stampWindow(g, payload.data(), from,
                        static_cast<size_t>(
                            std::min<int64_t>(cut, static_cast<int64_t>(copy.size()) - from)),
                        copy.data() + from);
        EXPECT_EQ(copy, whole) << cut;
    }
}

TEST(BitDistance, CountsTheDifferingBitsOfAnyLength)
{
    // Every length a record can have (K bytes of data, or the 60 of a
    // payload), against a count bit by bit.
    std::mt19937 rng(5);
    for (size_t bytes = 0; bytes <= payloadSize; ++bytes) {
        std::array<uint8_t, payloadSize> a{}, b{};
        for (size_t i = 0; i < payloadSize; ++i) {
            a[i] = static_cast<uint8_t>(rng());
            b[i] = static_cast<uint8_t>(rng());
        }
        int expected = 0;
        for (size_t i = 0; i < bytes; ++i)
            for (int bit = 0; bit < 8; ++bit)
                expected += ((a[i] ^ b[i]) >> bit) & 1;
        EXPECT_EQ(bitDistance(a.data(), b.data(), bytes), expected) << bytes;
        EXPECT_EQ(bitDistance(a.data(), a.data(), bytes), 0);
    }
}
