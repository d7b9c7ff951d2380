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

// The two band rows of a 1080p frame, one after the other.
std::array<uint8_t, 2 * bandRowLength> bothRows(const Row& row0, const Row& row1)
{
    std::array<uint8_t, 2 * bandRowLength> rows{};
    std::copy(row0.begin(), row0.end(), rows.begin());
    std::copy(row1.begin(), row1.end(), rows.begin() + bandRowLength);
    return rows;
}

BandRows rowsAt1080(const uint8_t* rows)
{
    return findBandRows(rows, bandRowLength, bandRowLength, 8, frameHeight, 2);
}

double decode(const Row& row0, const Row& row1, Payload& payload)
{
    const auto rows = bothRows(row0, row1);
    return decodeBand(rows.data(), bandRowLength, bandRowLength, 8, rowsAt1080(rows.data()),
                      payload.data());
}

bool bandLike(const Row& row0, const Row& row1)
{
    const auto rows = bothRows(row0, row1);
    return looksLikeBand(rows.data(), bandRowLength, bandRowLength, 8, rowsAt1080(rows.data()));
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
        EXPECT_EQ(decodeBand(frameBuf, frameWidth, frameWidth, 8, rowsAt1080(frameBuf), got.data()),
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
    EXPECT_TRUE(bandLike(row, row));
    // Blurred as an encoder would, edges moved by nothing.
    Row soft = row;
    for (size_t i = 1; i + 1 < row.size(); ++i)
        soft[i] = static_cast<uint8_t>((row[i - 1] + 2 * row[i] + row[i + 1]) / 4);
    EXPECT_TRUE(bandLike(soft, soft));
    // The same band moved by half a run is a picture of stripes.
    std::rotate_copy(row.begin(), row.begin() + 4, row.end(), picture.begin());
    EXPECT_FALSE(bandLike(picture, picture));
    for (uint8_t& s : picture)
        s = static_cast<uint8_t>(100 + rng() % 40); // noise
    EXPECT_FALSE(bandLike(picture, picture));
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<uint8_t>(16 + i * 200 / picture.size()); // a slope
    EXPECT_FALSE(bandLike(picture, picture));
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
        EXPECT_EQ(bandLike(picture, picture), isBand) << edge;
    }
    // A flat bar is a payload of one symbol: the limit of the test.
    std::fill(picture.begin(), picture.end(), uint8_t{16});
    EXPECT_TRUE(bandLike(picture, picture));

    std::vector<uint8_t> u(960, 140), v(960, 100);
    EXPECT_TRUE(chromaRowsNeutral(u.data(), v.data(), 960, 8));
    std::fill(v.begin(), v.end(), uint8_t{16});
    EXPECT_FALSE(chromaRowsNeutral(u.data(), v.data(), 960, 8));
}

namespace {

// The band rule written out on its own: sample x of a row `width` wide
// carries symbol floor((2x + 1) * 240 / (2 * width)), at its 8-bit level,
// times 4 at 10 bits (two little-endian bytes).
std::vector<uint8_t> referenceBand(const Payload& payload, int width, int rows, int bitDepth = 8)
{
    const size_t bytes = bitDepth > 8 ? 2 : 1;
    std::vector<uint8_t> plane(static_cast<size_t>(width * rows) * bytes);
    for (int x = 0; x < width; ++x) {
        const int k = (2 * x + 1) * 240 / (2 * width);
        const unsigned symbol = (payload[static_cast<size_t>(k / 4)] >> (6 - 2 * (k % 4))) & 3u;
        const unsigned level = (16u + 73u * symbol) << (bitDepth - 8);
        for (int r = 0; r < rows; ++r) {
            uint8_t* at = plane.data() + (static_cast<size_t>(r * width + x)) * bytes;
            at[0] = static_cast<uint8_t>(level & 0xFF);
            if (bytes == 2)
                at[1] = static_cast<uint8_t>(level >> 8);
        }
    }
    return plane;
}

// The first reading this tool had, on its own: each run of 8 the sum of its
// inner four samples in both rows; thresholds half-way between the nominal
// levels, levels moved to the mean of the runs read as them, and the runs
// read again half-way between those; the margin the smallest distance of a
// run to a threshold.
double firstReading(const uint8_t* rows, Payload& payload)
{
    std::array<int, 240> sums{};
    for (size_t k = 0; k < sums.size(); ++k)
        for (size_t s = 8 * k + 2; s < 8 * k + 6; ++s)
            sums[k] += rows[s] + rows[1920 + s];
    auto thresholdsOf = [](const std::array<double, 4>& level) {
        return std::array<double, 3>{(level[0] + level[1]) / 2, (level[1] + level[2]) / 2,
                                     (level[2] + level[3]) / 2};
    };
    auto sliced = [](double v, const std::array<double, 3>& t) {
        return unsigned{v > t[0]} + unsigned{v > t[1]} + unsigned{v > t[2]};
    };
    const std::array<double, 4> nominal{8 * 16.0, 8 * 89.0, 8 * 162.0, 8 * 235.0};
    std::array<double, 4> total{}, count{}, level = nominal;
    for (int sum : sums) {
        total[sliced(sum, thresholdsOf(nominal))] += sum;
        ++count[sliced(sum, thresholdsOf(nominal))];
    }
    for (size_t s = 0; s < 4; ++s)
        if (count[s] > 0)
            level[s] = total[s] / count[s];
    const auto t = thresholdsOf(level);
    double smallest = 36.5 * 8;
    payload.fill(0);
    for (size_t k = 0; k < sums.size(); ++k) {
        payload[k / 4] = static_cast<uint8_t>(payload[k / 4] << 2 | sliced(sums[k], t));
        for (double threshold : t)
            smallest = std::min(smallest, std::abs(sums[k] - threshold));
    }
    return smallest / 8;
}

// Area scaling: each sample of the result the mean of the part of the
// source it covers, in both directions (ffmpeg's scale=flags=area).
std::vector<uint8_t> areaScaled(const std::vector<uint8_t>& src, int w0, int h0, int w, int h)
{
    std::vector<uint8_t> dst(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double x0 = x * double(w0) / w, x1 = (x + 1) * double(w0) / w;
            const double y0 = y * double(h0) / h, y1 = (y + 1) * double(h0) / h;
            double sum = 0, area = 0;
            for (int sy = int(y0); sy < h0 && sy < y1; ++sy)
                for (int sx = int(x0); sx < w0 && sx < x1; ++sx) {
                    const double a = (std::min(x1, sx + 1.0) - std::max(x0, double(sx))) *
                                     (std::min(y1, sy + 1.0) - std::max(y0, double(sy)));
                    sum += a * src[static_cast<size_t>(sy * w0 + sx)];
                    area += a;
                }
            dst[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(sum / area + 0.5);
        }
    return dst;
}

struct Read {
    Payload payload{};
    double margin = -1;
    BandRows rows;
    bool band = false;
};

Read readPlane(const std::vector<uint8_t>& plane, int width, int bitDepth, int height, int rows)
{
    const auto stride = static_cast<ptrdiff_t>(width * (bitDepth > 8 ? 2 : 1));
    Read r;
    r.rows = findBandRows(plane.data(), stride, width, bitDepth, height, rows);
    r.margin = decodeBand(plane.data(), stride, width, bitDepth, r.rows, r.payload.data());
    r.band = looksLikeBand(plane.data(), stride, width, bitDepth, r.rows);
    return r;
}

} // namespace

TEST(BandDecoder, At1080pItReadsExactlyAsTheFirstReaderDid)
{
    // Noisy bands, edges anywhere, shifted levels, pictures: the payload
    // and the margin are the first reader's, to the last bit.
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> noise(-40, 40), shift(-35, 35);
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> rows = referenceBand(randomPayload(rng), 1920, 2);
        const int offset = shift(rng);
        for (size_t s = 0; s < rows.size(); ++s)
            rows[s] = i % 10 == 9 ? static_cast<uint8_t>(rng())
                                  : clampSample(rows[s] + offset + noise(rng));
        Payload expected{};
        const double margin = firstReading(rows.data(), expected);
        const Read got = readPlane(rows, 1920, 8, 1080, 2);
        ASSERT_TRUE(got.rows.sure);
        ASSERT_EQ(got.rows.found, 2);
        ASSERT_EQ(got.payload, expected) << i;
        ASSERT_EQ(got.margin, margin) << i;
    }
}

TEST(BandDecoder, EveryWidthAndDepthReadsItsOwnStampExactly)
{
    std::mt19937 rng(32);
    const Payload payload = randomPayload(rng);
    for (int width = minFrameWidth; width <= maxFrameWidth; width += 2) {
        const Read r = readPlane(referenceBand(payload, width, 2), width, 8, 720, 2);
        ASSERT_EQ(r.payload, payload) << width;
        ASSERT_EQ(r.margin, maxMargin) << width;
    }
    // The default rows at each height, sure or found, at both depths; and
    // every row that repeats row 0 is found.
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{
             {320, 180}, {426, 240}, {1280, 720}, {1920, 1080}, {3840, 2160}, {7680, 4320}})
        for (int bitDepth : {8, 10}) {
            const int rows = bandRowsFor(height);
            for (int looked : {rows, maxBandRows}) {
                const Payload p = randomPayload(rng);
                const Read r = readPlane(referenceBand(p, width, looked, bitDepth), width, bitDepth,
                                         height, looked);
                EXPECT_EQ(r.payload, p) << width << " " << bitDepth << " " << looked;
                EXPECT_EQ(r.margin, maxMargin) << width << " " << bitDepth << " " << looked;
                EXPECT_EQ(r.rows.found, looked) << width << " " << bitDepth << " " << looked;
                EXPECT_EQ(r.rows.sure, looked * 540 <= height) << width << " " << looked;
                EXPECT_TRUE(r.band) << width << " " << bitDepth << " " << looked;
            }
        }
}

TEST(BandDecoder, TenBitSamplesReadOnTheEightBitScale)
{
    // A damaged 8-bit band and the same band four times larger at 10 bits
    // read alike, to the margin; so does chroma row 0 at 512 against 128.
    std::mt19937 rng(33);
    std::uniform_int_distribution<int> noise(-30, 30);
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> eight = referenceBand(randomPayload(rng), 1280, 2);
        for (auto& s : eight)
            s = clampSample(s + noise(rng));
        std::vector<uint8_t> ten(2 * eight.size());
        for (size_t s = 0; s < eight.size(); ++s) {
            ten[2 * s] = static_cast<uint8_t>((eight[s] << 2) & 0xFF);
            ten[2 * s + 1] = static_cast<uint8_t>(eight[s] >> 6);
        }
        const Read a = readPlane(eight, 1280, 8, 720, 2), b = readPlane(ten, 1280, 10, 720, 2);
        EXPECT_EQ(a.payload, b.payload);
        EXPECT_EQ(a.margin, b.margin);
        EXPECT_EQ(a.rows.found, b.rows.found);
        EXPECT_EQ(a.band, b.band);
    }
    for (const auto& [u, v, neutral] : std::vector<std::tuple<int, int, bool>>{
             {128 + 20, 128 - 20, true}, {128 + 41, 128 - 40, false}}) {
        const std::vector<uint8_t> u8(640, static_cast<uint8_t>(u)),
            v8(640, static_cast<uint8_t>(v));
        std::vector<uint8_t> u10(1280), v10(1280);
        for (size_t s = 0; s < 640; ++s) {
            u10[2 * s] = static_cast<uint8_t>((u << 2) & 0xFF);
            u10[2 * s + 1] = static_cast<uint8_t>(u >> 6);
            v10[2 * s] = static_cast<uint8_t>((v << 2) & 0xFF);
            v10[2 * s + 1] = static_cast<uint8_t>(v >> 6);
        }
        EXPECT_EQ(chromaRowsNeutral(u8.data(), v8.data(), 640, 8), neutral) << u;
        EXPECT_EQ(chromaRowsNeutral(u10.data(), v10.data(), 640, 10), neutral) << u;
    }
    // Chroma row 0 counts only where the band found covers it.
    const std::vector<uint8_t> coloured(640, 16);
    EXPECT_FALSE(chromaAgreesWithBand({2, true}, coloured.data(), coloured.data(), 640, 8));
    EXPECT_TRUE(chromaAgreesWithBand({1, false}, coloured.data(), coloured.data(), 640, 8));
}

TEST(BandDecoder, AreaScaledRenditionsReadAtTheirOwnSize)
{
    // A master's band over a textured picture, scaled down as a ladder does:
    // the band is 1.33, 1 and 0.67 rows of a 1080p stamp's renditions, 1.78
    // of an 8-row stamp's at 240p, and 2 of a 4K stamp's at 1080p.
    std::mt19937 rng(34);
    struct Case {
        int w0, h0, bandRows, w, h;
    };
    for (const Case& c : std::vector<Case>{{1920, 1080, 2, 1280, 720},
                                           {1920, 1080, 2, 960, 540},
                                           {1920, 1080, 2, 640, 360},
                                           {1920, 1080, 8, 426, 240},
                                           {3840, 2160, 4, 1920, 1080}}) {
        for (int i = 0; i < 5; ++i) {
            const Payload p = randomPayload(rng);
            const int masterRows = 16 * c.h0 / 1080; // enough picture below the band
            std::vector<uint8_t> master = referenceBand(p, c.w0, masterRows);
            for (size_t s = static_cast<size_t>(c.bandRows * c.w0); s < master.size(); ++s)
                master[s] = static_cast<uint8_t>(60 + (s % static_cast<size_t>(c.w0)) / 16 % 140 +
                                                 rng() % 8);
            const int rowsThere = masterRows * c.h / c.h0;
            const std::vector<uint8_t> scaled =
                areaScaled(master, c.w0, masterRows, c.w, rowsThere);
            const Read r = readPlane(scaled, c.w, 8, c.h, std::max(2, c.bandRows * c.h / c.h0 + 1));
            EXPECT_EQ(r.payload, p) << c.w << "x" << c.h << " from " << c.bandRows << " rows";
            EXPECT_TRUE(r.band) << c.w << "x" << c.h;
        }
    }
}

TEST(BandDecoder, PicturesAreToldFromBandsAtEverySize)
{
    std::mt19937 rng(35);
    for (int width : {320, 426, 640, 960, 1280, 1920, 3840, 8192}) {
        std::vector<uint8_t> picture(static_cast<size_t>(2 * width));
        for (auto& s : picture)
            s = static_cast<uint8_t>(rng());
        EXPECT_FALSE(readPlane(picture, width, 8, 720, 2).band) << "noise " << width;
        for (int x = 0; x < width; ++x)
            picture[static_cast<size_t>(x)] = picture[static_cast<size_t>(width + x)] =
                static_cast<uint8_t>(16 + 219 * x / width);
        EXPECT_FALSE(readPlane(picture, width, 8, 720, 2).band) << "slope " << width;
        // A flat bar is a payload of one symbol: the limit of the test.
        std::fill(picture.begin(), picture.end(), uint8_t{16});
        EXPECT_TRUE(readPlane(picture, width, 8, 720, 2).band) << "black " << width;
        // Random payloads stamped at this width look stamped.
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(
                readPlane(referenceBand(randomPayload(rng), width, 2), width, 8, 720, 2).band)
                << width << " payload " << i;
    }
}
