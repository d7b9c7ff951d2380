// What an input says it is: Y4M headers and frame headers as ffmpeg writes
// them, and the containers and pictures a source may be by mistake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "signatures.h"
#include "video_input.h"
#include "video_options.h"
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

namespace {

// A stream holding `bytes`: a regular file, or, on POSIX, a pipe.
struct Source {
    FILE* pFile = nullptr;
    bool pipe = false;
    Source(const std::vector<uint8_t>& bytes, bool asPipe)
    {
        FILE* pFileOfBytes = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), pFileOfBytes);
        std::rewind(pFileOfBytes);
#ifndef _WIN32
        if (asPipe) {
            // cat reads the file from standard input: the tool sees a pipe.
            char command[64];
            std::snprintf(command, sizeof command, "cat <&%d", fileno(pFileOfBytes));
            pFile = popen(command, "r");
            pipe = true;
            keep = pFileOfBytes;
            return;
        }
#endif
        (void)asPipe;
        pFile = pFileOfBytes;
    }
    ~Source()
    {
#ifndef _WIN32
        if (pipe) {
            pclose(pFile);
            std::fclose(keep);
            return;
        }
#endif
        std::fclose(pFile);
    }
    FILE* keep = nullptr;
};

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> pattern(size_t count, unsigned seed)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

// What a reader makes of a stream: the header, each frame's FRAME line and
// bytes in order, and how it ended.
struct Reading {
    Identified identified = Identified::failed;
    std::string reason;
    VideoLayout layout;
    std::vector<std::string> lines;
    std::vector<std::vector<uint8_t>> frames;
    BlockRead end = BlockRead::whole;
    uint64_t ignored = 0;
    std::string problem;
};

Reading readAll(FILE* pFile, const VideoOptions& options = {}, bool bandOnly = false,
                const std::vector<FrameSpan>& spans = {})
{
    Reading r;
    VideoInput input;
    input.stream = {pFile, "in.y4m"};
    char reason[256] = "";
    r.identified = identifyVideo(input, options, bandOnly, reason, sizeof reason);
    r.reason = reason;
    r.layout = input.layout;
    if (r.identified != Identified::video)
        return r;
    std::vector<uint8_t> frame(input.frameBytes);
    for (;;) {
        std::fill(frame.begin(), frame.end(), uint8_t{0});
        r.end = readVideoFrame(input, frame.data(), spans.empty() ? nullptr : spans.data(),
                               spans.size());
        if (r.end != BlockRead::whole)
            break;
        r.lines.emplace_back(input.line.text.data(), input.line.length);
        r.frames.push_back(frame);
    }
    r.ignored = input.ignoredBytes;
    r.problem = r.end == BlockRead::failed ? readFailureReason(input, errno) : "";
    return r;
}

constexpr size_t kSmallFrame = 320 * 180 * 3 / 2;

} // namespace

TEST(VideoInput, Y4mHeadersAndFrameLinesComeAsReadFromFilesAndPipes)
{
    // A header longer than the bytes read to tell the format, and FRAME
    // lines with and without parameters; the last frame is cut short.
    const std::string header =
        "YUV4MPEG2 W320 H180 F25:1 Ip A1:1 C420jpeg X" + std::string(2000, 'p') + "\n";
    std::vector<uint8_t> stream = bytesOf(header);
    const std::vector<std::string> lines = {"FRAME\n", "FRAME Ixyz XA=1\n", "FRAME\n"};
    for (size_t f = 0; f < lines.size(); ++f) {
        const auto line = bytesOf(lines[f]), samples = pattern(kSmallFrame, unsigned(f));
        stream.insert(stream.end(), line.begin(), line.end());
        stream.insert(stream.end(), samples.begin(), samples.end());
    }
    stream.resize(stream.size() - 100);
    for (bool pipe : {false, true}) {
#ifdef _WIN32
        if (pipe)
            continue;
#endif
        Source source(stream, pipe);
        const Reading r = readAll(source.pFile);
        ASSERT_EQ(r.identified, Identified::video) << r.reason;
        EXPECT_TRUE(r.layout.y4m);
        EXPECT_EQ(std::string(r.layout.header.data(), r.layout.headerBytes), header);
        EXPECT_EQ(r.layout.geometry.width, 320);
        EXPECT_EQ(r.layout.geometry.bandRows, 2);
        ASSERT_EQ(r.frames.size(), 2u) << pipe;
        EXPECT_EQ(r.lines, std::vector<std::string>(lines.begin(), lines.begin() + 2));
        EXPECT_EQ(r.frames[1], pattern(kSmallFrame, 1));
        EXPECT_EQ(r.end, BlockRead::end);
        EXPECT_EQ(r.ignored, 6 + kSmallFrame - 100);
    }
}

TEST(VideoInput, RawFramesFromAPipeLoseNothingToTheTelling)
{
    // The bytes read to tell raw video from the rest are frame 0's.
    std::vector<uint8_t> stream = pattern(3 * kSmallFrame + 7, 3);
    for (bool pipe : {false, true}) {
#ifdef _WIN32
        if (pipe)
            continue;
#endif
        Source source(stream, pipe);
        VideoOptions options;
        options.width = 320;
        options.height = 180;
        const Reading r = readAll(source.pFile, options);
        ASSERT_EQ(r.identified, Identified::video);
        EXPECT_FALSE(r.layout.y4m);
        ASSERT_EQ(r.frames.size(), 3u);
        for (size_t f = 0; f < 3; ++f)
            EXPECT_TRUE(std::equal(r.frames[f].begin(), r.frames[f].end(),
                                   stream.begin() + static_cast<long>(f * kSmallFrame)))
                << "frame " << f << (pipe ? " from a pipe" : " from a file");
        EXPECT_EQ(r.lines, std::vector<std::string>(3, ""));
        EXPECT_EQ(r.ignored, 7u);
    }
}

TEST(VideoInput, AFileIsReadByItsSpansWhereTheyLie)
{
    // Seeking reads the spans asked for, at their offsets, and nothing else.
    const std::vector<FrameSpan> spans = {{0, 640}, {57600, 320}, {72000, 320}};
    VideoOptions options;
    options.width = 320;
    options.height = 180;
    std::vector<uint8_t> raw = pattern(4 * kSmallFrame + 5, 4);
    std::vector<uint8_t> y4m = bytesOf("YUV4MPEG2 W320 H180 C420\n");
    for (size_t f = 0; f < 4; ++f) {
        const auto line = bytesOf(f == 2 ? "FRAME Ia\n" : "FRAME\n");
        y4m.insert(y4m.end(), line.begin(), line.end());
        y4m.insert(y4m.begin() + static_cast<long>(y4m.size()),
                   raw.begin() + static_cast<long>(f * kSmallFrame),
                   raw.begin() + static_cast<long>((f + 1) * kSmallFrame));
    }
    y4m.push_back('F');
    for (const auto* bytes : {&raw, &y4m}) {
        Source source(*bytes, false);
        const Reading r = readAll(source.pFile, options, false, spans);
        ASSERT_EQ(r.identified, Identified::video);
        ASSERT_EQ(r.frames.size(), 4u);
        for (size_t f = 0; f < 4; ++f) {
            std::vector<uint8_t> expected(kSmallFrame, 0);
            for (const FrameSpan& span : spans)
                std::copy_n(raw.begin() + static_cast<long>(f * kSmallFrame + span.offset),
                            span.length, expected.begin() + static_cast<long>(span.offset));
            EXPECT_EQ(r.frames[f], expected) << f;
        }
        EXPECT_EQ(r.ignored, bytes == &raw ? 5u : 1u);
    }
}

TEST(VideoInput, WhatIsNotVideoOrContradictsTheOptionsIsRefusedWithItsReason)
{
    VideoOptions wrongSize;
    wrongSize.width = 1920;
    wrongSize.height = 1080;
    VideoOptions wrongFormat;
    wrongFormat.bitDepth = 10;
    VideoOptions rows;
    rows.bandRows = 8;
    const std::string y4m = "YUV4MPEG2 W320 H180 C420jpeg\nFRAME\n";
    struct Case {
        std::string bytes;
        VideoOptions options;
        bool bandOnly;
        Identified identified;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {std::string("\0\0\0\x18"
                          "ftypisom",
                          12),
              {},
              false,
              Identified::refused,
              "it is an MP4 or MOV file, not raw video or a YUV4MPEG2 stream: decode it with "
              "ffmpeg first (doc/recipes.md)"},
             {"\x89PNG\r\n\x1A\n",
              {},
              true,
              Identified::refused,
              "it is a PNG picture, not raw video or a YUV4MPEG2 stream: decode it with ffmpeg "
              "first (doc/recipes.md)"},
             {"YUV4MPEG2 W320 H180 C444\n",
              {},
              false,
              Identified::refused,
              "its colour space C444 is not one this tool reads (C420jpeg, C420paldv, "
              "C420mpeg2, C420 or C420p10)"},
             {"YUV4MPEG2 W320 H180",
              {},
              false,
              Identified::refused,
              "its YUV4MPEG2 header is cut short"},
             {"YUV4MPEG2 W320 H180 X" + std::string(5000, 'x'),
              {},
              false,
              Identified::refused,
              "its YUV4MPEG2 header has no line end in its first 4096 bytes"},
             {y4m, wrongSize, false, Identified::option,
              "--size 1920x1080: \"in.y4m\" is a YUV4MPEG2 stream of 320x180"},
             {y4m, wrongFormat, false, Identified::option,
              "--format yuv420p10le: \"in.y4m\" is a YUV4MPEG2 stream of yuv420p"},
             {y4m,
              {},
              true,
              Identified::option,
              "--band: \"in.y4m\" is a YUV4MPEG2 stream; a band file holds the band rows alone, "
              "as raw samples"},
             {y4m, rows, false, Identified::video, ""}}) {
        Source source(bytesOf(c.bytes), false);
        const Reading r = readAll(source.pFile, c.options, c.bandOnly);
        EXPECT_EQ(r.identified, c.identified) << c.reason;
        EXPECT_EQ(r.reason, c.reason);
        if (c.identified == Identified::video) {
            EXPECT_EQ(r.layout.geometry.bandRows, 8);
        }
    }
    // A frame that does not start with a FRAME line is named.
    Source bad(bytesOf(y4m + std::string(kSmallFrame, 'a') + "FRAMEX\n"), false);
    const Reading r = readAll(bad.pFile);
    EXPECT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.end, BlockRead::failed);
    EXPECT_EQ(r.problem, "frame 1 does not start with a FRAME line");
    // One too long to be a FRAME line is said as such.
    Source longLine(bytesOf(y4m + std::string(kSmallFrame, 'a') + "FRAME X" +
                            std::string(maxY4mLine, 'x') + "\n"),
                    false);
    const Reading l = readAll(longLine.pFile);
    EXPECT_EQ(l.frames.size(), 1u);
    EXPECT_EQ(l.end, BlockRead::failed);
    EXPECT_EQ(l.problem, "frame 1's FRAME line is longer than 4096 bytes");
}

TEST(VideoOptions, ValuesAreTakenOrRefusedWithTheReason)
{
    const OptionSpec table[] = {sizeOption, formatOption, bandRowsOption};
    auto parse = [&](std::vector<const char*> words, VideoOptions& options) {
        words.insert(words.begin(), "program");
        UsageError error;
        CommandLine line(static_cast<int>(words.size()), words.data(), table, 3, error);
        CommandArg arg;
        while (line.next(arg)) {
            if (!takeVideoOption(line, table[arg.option], arg.value, options))
                break;
        }
        return std::string(error.text);
    };
    VideoOptions o;
    EXPECT_EQ(parse({"--size", "1280x720", "--format", "yuv420p10le", "--band-rows", "8"}, o), "");
    EXPECT_EQ(rawGeometry(o).width, 1280);
    EXPECT_EQ(rawGeometry(o).height, 720);
    EXPECT_EQ(rawGeometry(o).bitDepth, 10);
    EXPECT_EQ(rawGeometry(o).bandRows, 8);
    VideoOptions none;
    EXPECT_EQ(rawGeometry(none).frameBytes(), builtInGeometry.frameBytes());
    EXPECT_EQ(rawGeometry(none).bandRows, 2);
    VideoOptions uhd;
    EXPECT_EQ(parse({"--size", "3840x2160"}, uhd), "");
    EXPECT_EQ(rawGeometry(uhd).bandRows, 4);
    for (const auto& [words, reason] :
         std::vector<std::pair<std::vector<const char*>, std::string>>{
             {{"--size", "1281x720"}, "--size 1281x720: width and height must be even"},
             {{"--size", "16384x720"}, "--size 16384x720: width must be 320 to 8192"},
             {{"--size", "1280x8640"}, "--size 1280x8640: height must be 180 to 4320"},
             {{"--size", "1280"}, "--size 1280: the size is WxH, such as 1280x720"},
             {{"--size", "1280x"}, "--size 1280x: the size is WxH, such as 1280x720"},
             {{"--size", "x720"}, "--size x720: the size is WxH, such as 1280x720"},
             {{"--size", "1280x720x2"}, "--size 1280x720x2: the size is WxH, such as 1280x720"},
             {{"--format", "yuv422p"}, "--format yuv422p: FORMAT is yuv420p or yuv420p10le"},
             {{"--band-rows", "1"}, "--band-rows 1: R is 2 to 16"},
             {{"--band-rows", "17"}, "--band-rows 17: R is 2 to 16"}}) {
        VideoOptions options;
        EXPECT_EQ(parse(words, options), reason);
    }
}
