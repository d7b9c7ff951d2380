// The frame formats users have, through the built programs: raw video at
// other sizes and depths, YUV4MPEG2 streams from files and pipes, and the
// containers and pictures that are refused before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

std::string finished(size_t frames)
{
    return "Reached end of input file\nwrote " + std::to_string(frames) + " frames\n";
}

std::string ignored(size_t bytes)
{
    return "wmstamp: ignored an incomplete last frame of " + std::to_string(bytes) + " bytes\n";
}

#ifndef _WIN32
// Runs a shell command line (POSIX only: pipes into the tools).
RunResult shell(const std::string& line)
{
    return runTool("/bin/sh", {"-c", line});
}
#endif

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Raw video at other sizes and depths, and the options that say so.
struct SizeCase {
    std::vector<std::string> options;
    FrameShape shape;
    size_t frames;
};

std::vector<SizeCase> sizeCases()
{
    return {{{"--size", "1280x720"}, {1280, 720, 8, 2}, 3},
            {{"--size", "320x180", "--format", "yuv420p10le"}, {320, 180, 10, 2}, 4},
            {{"--format", "yuv420p10le"}, {1920, 1080, 10, 2}, 2},
            {{"--size", "3840x2160"}, {3840, 2160, 8, 4}, 2},
            {{"--size", "426x240", "--band-rows", "8"}, {426, 240, 8, 8}, 2},
            {{"--band-rows", "16", "--size", "640x360", "--format", "yuv420p10le"},
             {640, 360, 10, 16},
             2}};
}

} // namespace

TEST(Formats, RawVideoAtOtherSizesAndDepthsIsStampedByTheRule)
{
    TempDir dir;
    const Bytes wm = makeRandomBytes(5 * 60, 70);
    writeFile(dir.path("wm.bin"), wm);
    for (const SizeCase& c : sizeCases()) {
        const Bytes src = makeRandomBytes(c.frames * c.shape.frameBytes() + 1000, 71);
        writeFile(dir.path("src.yuv"), src);
        // Each run writes an output of its own: another run's, at another
        // size, would not count as a video of this one.
        const std::string out = dir.path(c.options[1] + ".yuv");
        std::vector<std::string> args = c.options;
        for (const std::string& name : {dir.path("src.yuv"), dir.path("wm.bin"), out})
            args.push_back(name);
        const RunResult r = runTool(kStamp, args);
        EXPECT_EQ(r.status, 0) << c.options[1];
        EXPECT_EQ(r.out, console(kBanner + finished(c.frames))) << c.options[1];
        EXPECT_EQ(r.err, console(ignored(1000))) << c.options[1];
        EXPECT_EQ(readFile(out), stampedByTheRule(src, wm, c.shape)) << c.options[1];
    }

    // The options that say what the built-in size says change nothing.
    const Bytes src = makeVideo(2, 10, 72);
    writeFile(dir.path("src.yuv"), src);
    const RunResult plain =
        runTool(kStamp, {dir.path("src.yuv"), dir.path("wm.bin"), dir.path("plain.yuv")});
    const RunResult spelled =
        runTool(kStamp, {"--size", "1920x1080", dir.path("src.yuv"), "--format", "yuv420p",
                         "--band-rows", "2", dir.path("wm.bin"), dir.path("spelled.yuv")});
    EXPECT_EQ(spelled.status, plain.status);
    EXPECT_EQ(spelled.out, plain.out);
    EXPECT_EQ(spelled.err, plain.err);
    EXPECT_EQ(readFile(dir.path("spelled.yuv")), readFile(dir.path("plain.yuv")));
    EXPECT_EQ(readFile(dir.path("plain.yuv")), stampedByTheRule(src, wm, FrameShape{}));
}

TEST(Formats, OptionsThatCannotBeTakenAreUsageErrorsThatNameThem)
{
    TempDir dir;
    writeFile(dir.path("src.yuv"), makeVideo(1, 0, 73));
    writeFile(dir.path("wm.bin"), Bytes(60, 1));
    writeFile(dir.path("src.y4m"), y4mStream("YUV4MPEG2 W320 H180 F25:1 C420jpeg\n", {"FRAME\n"},
                                             makeRandomBytes(86400, 74), 86400));
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--size", "1281x720", "src.yuv"}, "--size 1281x720: width and height must be even"},
             {{"--size", "300x200", "src.yuv"}, "--size 300x200: width must be 320 to 8192"},
             {{"--size", "hd", "src.yuv"}, "--size hd: the size is WxH, such as 1280x720"},
             {{"--format", "nv12", "src.yuv"}, "--format nv12: FORMAT is yuv420p or yuv420p10le"},
             {{"--band-rows", "17", "src.yuv"}, "--band-rows 17: R is 2 to 16"},
             {{"--size", "1920x1080", "src.y4m"},
              "--size 1920x1080: \"" + dir.path("src.y4m") + "\" is a YUV4MPEG2 stream of 320x180"},
             {{"--format", "yuv420p10le", "src.y4m"},
              "--format yuv420p10le: \"" + dir.path("src.y4m") +
                  "\" is a YUV4MPEG2 stream of yuv420p"}}) {
        std::vector<std::string> full = {args[0], args[1], dir.path(args[2]), dir.path("wm.bin"),
                                         dir.path("out.yuv")};
        const RunResult r = runTool(kStamp, full);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.out, console(kBanner + kUsage)) << reason;
        EXPECT_EQ(r.err, console("wmstamp: " + reason + "\n"));
        EXPECT_FALSE(fileExists(dir.path("out.yuv"))) << reason;
    }
}

TEST(Formats, Y4mHeadersAndFrameLinesPassThroughUnchanged)
{
    TempDir dir;
    const Bytes wm = makeRandomBytes(3 * 60 + 7, 75);
    writeFile(dir.path("wm.bin"), wm);
    // Parameters on the header and on FRAME lines, as other writers put
    // them; an incomplete last frame, FRAME line and all, is dropped.
    const std::vector<std::string> lines = {"FRAME\n", "FRAME Ixyz XA=1\n", "FRAME\n", "FRAME\n"};
    struct Case {
        std::string header;
        FrameShape shape;
    };
    for (const Case& c : std::vector<Case>{
             {"YUV4MPEG2 W320 H180 F30000:1001 Ip A1:1 C420mpeg2 XYSCSS=420MPEG2\n",
              {320, 180, 8, 2}},
             {"YUV4MPEG2 W640 H360 F25:1 Ip A1:1 C420p10 XYSCSS=420P10 XCOLORRANGE=LIMITED\n",
              {640, 360, 10, 2}},
             {"YUV4MPEG2 H2160 W3840\n", {3840, 2160, 8, 4}}}) {
        const size_t frameBytes = c.shape.frameBytes();
        const size_t frames = c.shape.width == 3840 ? 1 : 3;
        const Bytes raw = makeRandomBytes(frames * frameBytes + 999, 76);
        const Bytes src = y4mStream(c.header, lines, raw, frameBytes);
        writeFile(dir.path("src.y4m"), src);
        const Bytes expected =
            y4mStream(c.header, lines, stampedByTheRule(raw, wm, c.shape), frameBytes);
        const std::string dropped = ignored(lines[std::min<size_t>(frames, 3)].size() + 999);
        const std::string out = dir.path(std::to_string(c.shape.width) + ".y4m");
        const RunResult file = runTool(kStamp, {dir.path("src.y4m"), dir.path("wm.bin"), out});
        EXPECT_EQ(file.status, 0) << c.header;
        EXPECT_EQ(file.out, console(kBanner + finished(frames)));
        EXPECT_EQ(file.err, console(dropped));
        EXPECT_EQ(readFile(out), expected) << c.header;
#ifndef _WIN32
        // From a pipe, into a pipe: the same bytes.
        const RunResult piped = shell("cat " + dir.path("src.y4m") + " | " + kStamp + " - " +
                                      dir.path("wm.bin") + " - | cat > " + out + ".piped");
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(piped.err, kBanner + dropped + finished(frames));
        EXPECT_EQ(readFile(out + ".piped"), expected) << c.header;
#endif
    }
    // A stream with no frame gives one with none: its header.
    writeFile(dir.path("empty.y4m"), text("YUV4MPEG2 W320 H180\n"));
    const RunResult empty =
        runTool(kStamp, {dir.path("empty.y4m"), dir.path("wm.bin"), dir.path("empty.out")});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, console(kBanner + finished(0)));
    EXPECT_EQ(readFile(dir.path("empty.out")), text("YUV4MPEG2 W320 H180\n"));
}

TEST(Formats, AFrameWithoutItsFrameLineIsAReadErrorThatKeepsTheWholeFrames)
{
    TempDir dir;
    const Bytes wm = makeRandomBytes(120, 77);
    writeFile(dir.path("wm.bin"), wm);
    const std::string header = "YUV4MPEG2 W320 H180 C420jpeg\n";
    const Bytes raw = makeRandomBytes(2 * 86400, 78);
    const Bytes src = y4mStream(header, {"FRAME\n", "FRAMES\n"}, raw, 86400);
    writeFile(dir.path("src.y4m"), src);
    const RunResult r =
        runTool(kStamp, {dir.path("src.y4m"), dir.path("wm.bin"), dir.path("out.y4m")});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console(kBanner + "Error reading input file \"" + dir.path("src.y4m") +
                             "\": frame 1 does not start with a FRAME line\n"));
    const Bytes one(raw.begin(), raw.begin() + 86400);
    EXPECT_EQ(readFile(dir.path("out.y4m")),
              y4mStream(header, {"FRAME\n"}, stampedByTheRule(one, wm, {320, 180, 8, 2}), 86400));
}

TEST(Formats, ContainersPicturesAndRefusedStreamsLeaveNoOutput)
{
    TempDir dir;
    writeFile(dir.path("wm.bin"), Bytes(60, 1));
    Bytes ts(8 * 188, 0x11);
    for (size_t at = 0; at < ts.size(); at += 188) {
        ts[at] = 0x47;
        ts[at + 1] = 0x40;
    }
    const std::string decode = ", not raw video or a YUV4MPEG2 stream: decode it with ffmpeg "
                               "first (doc/recipes.md)";
    for (const auto& [bytes, reason] : std::vector<std::pair<Bytes, std::string>>{
             {concat({0, 0, 0, 0x20}, text("ftypisom" + std::string(4000, 'x'))),
              "it is an MP4 or MOV file" + decode},
             {concat({0x1A, 0x45, 0xDF, 0xA3}, Bytes(4000, 0x42)),
              "it is a Matroska or WebM file" + decode},
             {concat(ts, Bytes(4000, 0x11)), "it is an MPEG transport stream" + decode},
             {concat(text("RIFF"),
                     concat({0x10, 0, 0, 0}, text("AVI LIST" + std::string(4000, 'x')))),
              "it is an AVI file" + decode},
             {text("\x89PNG\r\n\x1A\n" + std::string(100, 'x')), "it is a PNG picture" + decode},
             {concat({0xFF, 0xD8, 0xFF, 0xE0}, Bytes(100, 0)), "it is a JPEG picture" + decode},
             {text("YUV4MPEG2 W320 H180 C422\nFRAME\n"),
              "its colour space C422 is not one this tool reads (C420jpeg, C420paldv, "
              "C420mpeg2, C420 or C420p10)"},
             {text("YUV4MPEG2 W321 H180\nFRAME\n"),
              "its size 321x180: width and height must be even"},
             {text("YUV4MPEG2 W320 H180"), "its YUV4MPEG2 header is cut short"}}) {
        writeFile(dir.path("clip"), bytes);
        const RunResult r =
            runTool(kStamp, {dir.path("clip"), dir.path("wm.bin"), dir.path("out.yuv")});
        EXPECT_EQ(r.status, 2) << reason;
        EXPECT_EQ(r.out, console(kBanner + "Input file \"" + dir.path("clip") + "\" not found\n"));
        EXPECT_EQ(r.err, console("wmstamp: \"" + dir.path("clip") + "\": " + reason + "\n"));
        EXPECT_FALSE(fileExists(dir.path("out.yuv"))) << reason;
    }
#ifndef _WIN32
    // From a pipe too, and an existing output is left as it was.
    writeFile(dir.path("out.yuv"), makeVideo(1, 0, 79));
    writeFile(dir.path("clip"), concat({0, 0, 0, 0x18}, text("ftypmp42" + std::string(2000, 0))));
    const RunResult r = shell("cat " + dir.path("clip") + " | " + kStamp + " - " +
                              dir.path("wm.bin") + " " + dir.path("out.yuv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kBanner + "Input file \"-\" not found\n");
    EXPECT_EQ(r.err, "wmstamp: \"-\": it is an MP4 or MOV file" + decode + "\n");
    EXPECT_EQ(readFile(dir.path("out.yuv")), makeVideo(1, 0, 79));
#endif
}

TEST(Formats, AnExistingOutputIsReplacedWhenItIsAVideo)
{
    // A YUV4MPEG2 stream of any layout, or whole frames of this run's size,
    // are videos; less is what the watermark data looks like.
    TempDir dir;
    const std::string header = "YUV4MPEG2 W320 H180\n";
    const Bytes frame = makeRandomBytes(86400, 80);
    writeFile(dir.path("src.y4m"), y4mStream(header, {"FRAME\n"}, frame, 86400));
    writeFile(dir.path("wm.bin"), Bytes(60, 2));
    const std::string less = "it holds less than a frame: is it the watermark data? (--force "
                             "replaces it)";
    const std::string notWhole = "it holds no whole number of frames: is it the watermark data? "
                                 "(--force replaces it)";
    struct Case {
        Bytes old;
        std::string refusal;
    };
    for (const Case& c : std::vector<Case>{
             {Bytes(60, 2), less},
             {Bytes(header.size() + 6 + 86400 - 1, 3), less},
             {text(header), ""},
             {Bytes(2 * 86400, 4), ""},
#ifndef _WIN32
             // Read back: a stream of another layout is a video; bytes that
             // are neither are not. (Where the output cannot be read back,
             // its size decides: the first is less than a frame of this run,
             // the second has room for one.)
             {y4mStream("YUV4MPEG2 W1920 H1080 C420jpeg\n", {"FRAME\n"}, Bytes(100, 1), 3110400),
              ""},
             {Bytes(header.size() + 6 + 86400 + 5, 5), notWhole},
#else
             {y4mStream("YUV4MPEG2 W1920 H1080 C420jpeg\n", {"FRAME\n"}, Bytes(100, 1), 3110400),
              less},
             {Bytes(header.size() + 6 + 86400 + 5, 5), ""},
#endif
         }) {
        writeFile(dir.path("out.y4m"), c.old);
        const RunResult r =
            runTool(kStamp, {dir.path("src.y4m"), dir.path("wm.bin"), dir.path("out.y4m")});
        if (!c.refusal.empty()) {
            EXPECT_EQ(r.status, 4) << c.old.size();
            EXPECT_EQ(r.err,
                      console("wmstamp: \"" + dir.path("out.y4m") + "\": " + c.refusal + "\n"));
            EXPECT_EQ(readFile(dir.path("out.y4m")), c.old);
        } else {
            EXPECT_EQ(r.status, 0) << c.old.size();
            EXPECT_EQ(readFile(dir.path("out.y4m")).size(), header.size() + 6 + 86400);
        }
    }
    // A raw run at another size counts in its own frames, and takes a
    // YUV4MPEG2 stream's place where it can read it back.
#ifdef _WIN32
    const int overStream = 4;
#else
    const int overStream = 0;
#endif
    writeFile(dir.path("src.yuv"), makeRandomBytes(2 * 86400, 81));
    for (const auto& [old, status] : std::vector<std::pair<Bytes, int>>{
             {Bytes(86400, 5), 0}, {Bytes(86401, 5), 4}, {text(header + "FRAME\n"), overStream}}) {
        writeFile(dir.path("out.yuv"), old);
        EXPECT_EQ(runTool(kStamp, {"--size", "320x180", dir.path("src.yuv"), dir.path("wm.bin"),
                                   dir.path("out.yuv")})
                      .status,
                  status)
            << old.size();
    }
}

namespace {

std::string summary(size_t frames)
{
    return "checked " + std::to_string(frames) +
           " frames, 0 differ, 0 bit errors, smallest "
           "margin 36.50; records 0-" +
           std::to_string(frames - 1) + ": " + std::to_string(frames) +
           " matched, 0 missing, 0 repeated, 0 out of order\n";
}

// The band rows of each whole frame of raw `video` at `shape`: what
// `crop=iw:R:0:0,extractplanes=y` makes of it.
Bytes bandRowsOf(const Bytes& video, const FrameShape& shape, size_t rows)
{
    Bytes bands;
    const size_t rowBytes = shape.width * shape.sampleBytes();
    for (size_t at = 0; at + shape.frameBytes() <= video.size(); at += shape.frameBytes())
        bands.insert(bands.end(), video.begin() + static_cast<long>(at),
                     video.begin() + static_cast<long>(at + rows * rowBytes));
    return bands;
}

} // namespace

TEST(Formats, WmextractReadsEverySizeDepthAndLayoutItIsGiven)
{
    TempDir dir;
    const Bytes wm = makeRandomBytes(4 * 60, 82);
    writeFile(dir.path("wm.bin"), wm);
    for (const SizeCase& c : sizeCases()) {
        // Stamped by the rule written in the test, not by wmstamp.
        const Bytes records(wm.begin(), wm.begin() + 60 * static_cast<long>(c.frames));
        writeFile(dir.path("records.bin"), records);
        const Bytes stamped = stampedByTheRule(
            makeRandomBytes(c.frames * c.shape.frameBytes() + 77, 83), wm, c.shape);
        const std::string name = dir.path(c.options[1]);
        writeFile(name + ".yuv", concat(stamped, Bytes(77, 1)));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {name + ".yuv", name + ".payloads"});
        RunResult r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 0) << c.options[1] << r.err;
        EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 77 bytes\n"
                                 "extracted " +
                                 std::to_string(c.frames) + " payloads, smallest margin 36.50\n"));
        EXPECT_EQ(readFile(name + ".payloads"), records);
        // The same frames as a YUV4MPEG2 stream, which says its own size.
        const std::string header = "YUV4MPEG2 W" + std::to_string(c.shape.width) + " H" +
                                   std::to_string(c.shape.height) +
                                   (c.shape.bitDepth > 8 ? " C420p10\n" : " C420jpeg\n");
        writeFile(name + ".y4m",
                  y4mStream(header, {"FRAME\n", "FRAME Ix\n"}, stamped, c.shape.frameBytes()));
        args = {"--verify", dir.path("records.bin"), name + ".y4m"};
        if (c.shape.bandRows != (c.shape.height >= 2160 ? 4 : 2))
            args.insert(args.begin(), {"--band-rows", std::to_string(c.shape.bandRows)});
        r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 0) << c.options[1] << r.err;
        EXPECT_EQ(r.err, console(summary(c.frames)));
        // And the band rows alone, R rows of W samples a frame.
        writeFile(name + ".band",
                  bandRowsOf(stamped, c.shape, static_cast<size_t>(c.shape.bandRows)));
        args = c.options;
        args.insert(args.end(), {"--band", "--verify", dir.path("records.bin"), name + ".band"});
        r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 0) << c.options[1] << r.err;
        EXPECT_EQ(r.err, console(summary(c.frames)));
    }
#ifndef _WIN32
    // YUV4MPEG2 through a pipe, 10 bits.
    const FrameShape ten{320, 180, 10, 2};
    const Bytes stamped = stampedByTheRule(makeRandomBytes(4 * ten.frameBytes(), 84), wm, ten);
    writeFile(dir.path("ten.y4m"), y4mStream("YUV4MPEG2 W320 H180 F25:1 C420p10 XYSCSS=420P10\n",
                                             {"FRAME\n"}, stamped, ten.frameBytes()));
    const RunResult piped = shell("cat " + dir.path("ten.y4m") + " | " + kExtract + " --verify " +
                                  dir.path("wm.bin") + " -");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, summary(4));
#endif
    // A picture at another size is no band.
    writeFile(dir.path("picture.yuv"), makeRandomBytes(2 * 1382400, 85));
    const RunResult none = runTool(
        kExtract, {"--size", "1280x720", dir.path("picture.yuv"), dir.path("none.payloads")});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.err, console("frame 0: no band\nframe 1: no band\n"
                                "wmextract: no watermark band found in \"" +
                                dir.path("picture.yuv") +
                                "\"\nextracted 2 payloads, smallest margin 0.27\n"));
}

TEST(Formats, WmextractRefusesWhatIsNotVideoAndWhatContradictsIt)
{
    TempDir dir;
    writeFile(dir.path("wm.bin"), Bytes(60, 1));
    const std::string name = dir.path("clip");
    const std::string decode = ", not raw video or a YUV4MPEG2 stream: decode it with ffmpeg "
                               "first (doc/recipes.md)";
    for (const auto& [bytes, reason] : std::vector<std::pair<Bytes, std::string>>{
             {concat({0, 0, 0, 0x1C}, text("ftypiso5" + std::string(4000, 'x'))),
              "it is an MP4 or MOV file" + decode},
             {concat({0x1A, 0x45, 0xDF, 0xA3}, Bytes(4000, 0x42)),
              "it is a Matroska or WebM file" + decode},
             {text("YUV4MPEG2 W320 H180 Cmono\nFRAME\n"),
              "its colour space Cmono is not one this tool reads (C420jpeg, C420paldv, "
              "C420mpeg2, C420 or C420p10)"}}) {
        writeFile(name, bytes);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{name, dir.path("out.bin")},
              std::vector<std::string>{"--verify", dir.path("wm.bin"), name}}) {
            const RunResult r = runTool(kExtract, args);
            EXPECT_EQ(r.status, 2) << reason;
            EXPECT_EQ(r.err, console("wmextract: cannot open video file \"" + name +
                                     "\": " + reason + "\n"));
            EXPECT_FALSE(fileExists(dir.path("out.bin")));
        }
    }
    // Options that say otherwise than the stream are usage errors.
    writeFile(name,
              y4mStream("YUV4MPEG2 W320 H180\n", {"FRAME\n"}, makeRandomBytes(86400, 86), 86400));
    for (const auto& [options, reason] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--size", "640x360"},
              "--size 640x360: \"" + name + "\" is a YUV4MPEG2 stream of 320x180"},
             {{"--band"},
              "--band: \"" + name +
                  "\" is a YUV4MPEG2 stream; a band file holds the band rows alone, "
                  "as raw samples"}}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {name, dir.path("out.bin")});
        const RunResult r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.err.rfind(console("wmextract: " + reason + "\nusage: wmextract"), 0), 0u)
            << r.err;
        EXPECT_FALSE(fileExists(dir.path("out.bin")));
    }
    // A frame without its FRAME line ends the pass, named, after the summary
    // of the frames before it.
    const FrameShape shape{320, 180, 8, 2};
    const Bytes wm = makeRandomBytes(120, 87);
    writeFile(dir.path("wm.bin"), wm);
    writeFile(name, y4mStream("YUV4MPEG2 W320 H180\n", {"FRAME\n", "FRAME\n", "RAME\n"},
                              stampedByTheRule(makeRandomBytes(3 * 86400, 88), wm, shape), 86400));
    const RunResult r = runTool(kExtract, {"--verify", dir.path("wm.bin"), name});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, console("wmextract: error reading video file \"" + name +
                             "\": frame 2 does not start with a FRAME line\n" + summary(2)));
}
