// What an input says it is: Y4M headers and frame headers as ffmpeg writes
// them, and the containers and pictures a source may be by mistake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signatures.h"
#include "y4m.h"

namespace {

// The geometry a header line gives, as "WxH/bits/rows", or the reason.
std::string header(const std::string& line)
{
    FrameGeometry g;
    char reason[200] = "";
    if (!parseY4mHeader(line.data(), line.size(), g, reason, sizeof reason))
        return reason;
    return std::to_string(g.width) + "x" + std::to_string(g.height) + "/" +
           std::to_string(g.bitDepth) + "/" + std::to_string(g.bandRows);
}

const char* foreign(const std::vector<uint8_t>& bytes)
{
    return foreignFormat(bytes.data(), bytes.size());
}

} // namespace

TEST(Y4m, HeadersAsFfmpegWritesThem)
{
    EXPECT_EQ(header("YUV4MPEG2 W1280 H720 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG"), "1280x720/8/2");
    EXPECT_EQ(header("YUV4MPEG2 W3840 H2160 F30000:1001 Ip A1:1 C420p10 XYSCSS=420P10 "
                     "XCOLORRANGE=LIMITED"),
              "3840x2160/10/4");
    // No C tag is 4:2:0 at 8 bits; so are the other 4:2:0 sitings.
    EXPECT_EQ(header("YUV4MPEG2 W7680 H4320"), "7680x4320/8/8");
    for (const char* c : {"C420paldv", "C420mpeg2", "C420"})
        EXPECT_EQ(header(std::string("YUV4MPEG2 H1080 W1920 ") + c), "1920x1080/8/2") << c;

    // What it refuses, it names.
    for (const auto& [line, reason] : std::vector<std::pair<std::string, std::string>>{
             {"YUV4MPEG2 W320 H180 F25:1 Ip A1:1 C444 XYSCSS=444",
              "its colour space C444 is not one this tool reads (C420jpeg, C420paldv, "
              "C420mpeg2, C420 or C420p10)"},
             {"YUV4MPEG2 W320 H180 Cmono", "its colour space Cmono is not one this tool reads "
                                           "(C420jpeg, C420paldv, C420mpeg2, C420 or C420p10)"},
             {"YUV4MPEG2 W320 H180 C420p12", "its colour space C420p12 is not one this tool reads "
                                             "(C420jpeg, C420paldv, C420mpeg2, C420 or C420p10)"},
             {"YUV4MPEG2 W1281 H720", "its size 1281x720: width and height must be even"},
             {"YUV4MPEG2 W16384 H720", "its size 16384x720: width must be 320 to 8192"},
             {"YUV4MPEG2 W1280", "its header gives no H"},
             {"YUV4MPEG2 W12x0 H720", "its header's W parameter \"12x0\" is not a size"},
             {"YUV4MPEG2 W H720", "its header's W parameter \"\" is not a size"},
             {"YUV4MPEG W1280 H720", "it has no YUV4MPEG2 header"}})
        EXPECT_EQ(header(line), reason) << line;

    EXPECT_TRUE(isY4mFrameHeader("FRAME", 5));
    EXPECT_TRUE(isY4mFrameHeader("FRAME Ixyz", 10));
    EXPECT_FALSE(isY4mFrameHeader("FRAMES", 6));
    EXPECT_FALSE(isY4mFrameHeader("FRAM", 4));
}

TEST(Signatures, ContainersAndPicturesButNotFrames)
{
    std::vector<uint8_t> mp4 = {0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'};
    EXPECT_STREQ(foreign(mp4), "an MP4 or MOV file");
    EXPECT_STREQ(foreign({0x1A, 0x45, 0xDF, 0xA3, 0x9F}), "a Matroska or WebM file");
    EXPECT_STREQ(foreign({'R', 'I', 'F', 'F', 1, 2, 3, 4, 'A', 'V', 'I', ' '}), "an AVI file");
    EXPECT_STREQ(foreign({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0}), "a PNG picture");
    EXPECT_STREQ(foreign({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}), "a JPEG picture");
    std::vector<uint8_t> ts(signatureBytes, 0xAB);
    for (size_t at = 0; at < ts.size(); at += 188) {
        ts[at] = 0x47;
        ts[at + 1] = 0x40;
    }
    EXPECT_STREQ(foreign(ts), "an MPEG transport stream");

    // Frames that start like them by chance: one TS packet short, a flat
    // picture of the sync byte, a bright corner, and ftyp after samples.
    ts.resize(signatureBytes - 1);
    EXPECT_EQ(foreign(ts), nullptr);
    EXPECT_EQ(foreign(std::vector<uint8_t>(signatureBytes, 0x47)), nullptr);
    EXPECT_EQ(foreign({0xFF, 0xD8, 0xFF, 0xFF, 0xFF}), nullptr);
    mp4[0] = 16;
    EXPECT_EQ(foreign(mp4), nullptr);
    EXPECT_EQ(foreign(std::vector<uint8_t>(signatureBytes, 16)), nullptr);
}
