// Runs the built wmextract --pair as a user would: decoded frames that
// drop, repeat, swap, start late or carry no record of the data, each
// paired with the stamped frame it shows, from a file or a pipe, raw or
// YUV4MPEG2, and the outputs' rules.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#endif

#include <filesystem>
#include <fstream>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;
const std::string kHeader = "frame,record,bit_errors,margin,next_bits,step,ambiguous";

// A source stamped with one record a frame, and the same source stamped
// with other data, whose frames match no record.
struct Stamped {
    std::string wm, path;
    Bytes data, video, foreign;
};

Stamped stampSource(const TempDir& dir, int frames, Bytes data)
{
    Stamped s{dir.path("wm.bin"), dir.path("stamped.yuv"), std::move(data), {}, {}};
    writeFile(dir.path("src.yuv"), makeVideo(frames, 0, 60));
    writeFile(s.wm, s.data);
    writeFile(dir.path("other.bin"), makeRandomBytes(60, 62));
    EXPECT_EQ(runTool(kStamp, {dir.path("src.yuv"), s.wm, s.path}).status, 0);
    EXPECT_EQ(runTool(kStamp, {dir.path("src.yuv"), dir.path("other.bin"), dir.path("foreign.yuv")})
                  .status,
              0);
    s.video = readFile(s.path);
    s.foreign = readFile(dir.path("foreign.yuv"));
    return s;
}

// Frames of `video` in the order `frames`; -1 takes a frame that carries
// no record of the data.
Bytes framesOf(const Stamped& s, const std::vector<int>& frames)
{
    Bytes out;
    for (int k : frames) {
        const Bytes& from = k < 0 ? s.foreign : s.video;
        const auto begin = from.begin() + static_cast<long>(k < 0 ? 0 : k) * long{kFrame};
        out.insert(out.end(), begin, begin + long{kFrame});
    }
    return out;
}

// A raw video as a YUV4MPEG2 stream, its FRAME lines of three lengths.
Bytes asY4m(const Bytes& raw, const std::string& size = "W1920 H1080")
{
    const std::string header = "YUV4MPEG2 " + size + " F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n";
    Bytes out(header.begin(), header.end());
    const size_t frame = size == "W1920 H1080" ? kFrame : raw.size();
    for (size_t n = 0; n * frame < raw.size(); ++n) {
        const std::string line =
            n % 3 == 0 ? "FRAME\n" : "FRAME Xn=" + std::string(n % 3, 'x') + "\n";
        out.insert(out.end(), line.begin(), line.end());
        const auto begin = raw.begin() + static_cast<long>(n * frame);
        out.insert(out.end(), begin, begin + static_cast<long>(frame));
    }
    return out;
}

// A report of a run without --pair, each line then ending in `paired`.
std::string withPaired(const Bytes& report, const std::vector<std::string>& paired)
{
    std::string text(report.begin(), report.end()), out;
    size_t at = 0;
    for (size_t line = 0; at < text.size(); ++line) {
        const size_t end = text.find('\n', at);
        out += text.substr(at, end - at) + (line == 0 ? ",paired" : "," + paired[line - 1]) + "\n";
        at = end + 1;
    }
    return out;
}

// A run's standard error with the pairing summary at the end of its last line.
std::string withPairs(const std::string& err, const std::string& pairs)
{
    const std::string end = console("\n");
    return err.substr(0, err.size() - end.size()) + "; " + pairs + end;
}

// The last column of every line of a report but its header, a line each.
std::string lastColumn(const std::string& csv)
{
    std::string column;
    for (size_t at = csv.find('\n') + 1; at < csv.size(); at = csv.find('\n', at) + 1) {
        const size_t end = csv.find('\n', at);
        const size_t comma = csv.rfind(',', end);
        column += csv.substr(comma + 1, end - comma);
    }
    return column;
}

std::string text(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

// A later start and a late unidentified frame, drops, a repeat and a swap:
// PAIRED holds exactly the stamped frames of the mapping, from a file or a
// pipe, raw or YUV4MPEG2, and from a band file too.
TEST(Pair, EveryFrameGetsItsStampedFrameFromFilesAndPipes)
{
    TempDir dir;
    const Stamped s = stampSource(dir, 10, makeRandomBytes(600, 63));
    const std::vector<int> shown = {-1, 1, 3, 3, 5, 4, -1, 7, 9};
    const Bytes want = framesOf(s, {0, 1, 3, 3, 5, 4, 5, 7, 9});
    const std::vector<std::string> by = {"expected", "record",   "record", "record", "record",
                                         "record",   "expected", "record", "record"};
    const std::string video = dir.path("v.yuv"), y4m = dir.path("stamped.y4m");
    writeFile(video, framesOf(s, shown));
    writeFile(y4m, asY4m(s.video));
    const RunResult plain =
        runTool(kExtract, {"--report", dir.path("r.csv"), "--verify", s.wm, video});
    ASSERT_EQ(plain.status, 3) << plain.err;
    const std::string report = withPaired(readFile(dir.path("r.csv")), by);
    const std::string err = withPairs(plain.err, "paired 9 frames, 2 by expectation");
    int run = 0;
    for (const std::string& stamped : {s.path, y4m}) {
        const std::string paired = dir.path("p" + std::to_string(run) + ".yuv");
        const std::string csv = dir.path("r" + std::to_string(run++) + ".csv");
        RunResult r = runTool(
            kExtract, {"--report", csv, "--pair", stamped, paired, "--verify", s.wm, video});
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(readFile(paired), want) << stamped;
        EXPECT_EQ(text(readFile(csv)), report);
        // Read forward from a pipe.
        FeedPipe feed(dir);
        ToolProcess tool(kExtract,
                         {"--pair", feed.path(), paired, "--force", "--verify", s.wm, video});
        ASSERT_TRUE(feed.write(readFile(stamped)));
        feed.close();
        r = tool.finish();
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(readFile(paired), want) << stamped << " through a pipe";
    }
    // VIDEO as its band rows alone: PAIRED still holds whole frames.
    Bytes bands;
    const Bytes frames = readFile(video);
    for (size_t n = 0; n < shown.size(); ++n)
        bands.insert(bands.end(), frames.begin() + static_cast<long>(n * kFrame),
                     frames.begin() + static_cast<long>(n * kFrame + 3840));
    writeFile(dir.path("v.gray"), bands);
    const RunResult r = runTool(kExtract, {"--band", "--pair", s.path, dir.path("pb.yuv"),
                                           "--verify", s.wm, dir.path("v.gray")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.substr(r.err.rfind("checked")), console("checked 9 frames, 2 differ, 0 bit "
                                                            "errors, smallest margin 36.50; "
                                                            "records 1-9: 6 matched, 2 missing, "
                                                            "1 repeated, 1 out of order; paired 9 "
                                                            "frames, 2 by expectation\n"));
    EXPECT_EQ(readFile(dir.path("pb.yuv")), want);
}

// Where content cannot tell frames apart, the order pairs them, and the
// report and the summary say so.
TEST(Pair, FramesContentCannotTellApartArePairedByTheOrder)
{
    TempDir dir;
    // Records 1 and 4 alike.
    Bytes data = makeRandomBytes(360, 64);
    std::copy(data.begin() + 60, data.begin() + 120, data.begin() + 240);
    const Stamped s = stampSource(dir, 6, data);
    // Each frame in step: PAIRED is the stamped video itself; what matters
    // is how each pair was made, the last column of the report.
    const auto pairs = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--report",        "-",      "--pair", s.path,
                                        dir.path("p.yuv"), "--force"};
        all.insert(all.end(), args.begin(), args.end());
        const RunResult r = runTool(kExtract, all);
        EXPECT_EQ(readFile(dir.path("p.yuv")), readFile(s.path)) << args[1];
        return lastColumn(r.out) + r.err.substr(r.err.rfind(';'));
    };
    EXPECT_EQ(pairs({"--verify", s.wm, s.path}),
              "record\nexpected\nrecord\nrecord\nexpected\nrecord\n"
              "; paired 6 frames, 2 by expectation" +
                  console("\n"));
    EXPECT_EQ(pairs({"--by-position", "--verify", s.wm, s.path}),
              "expected\nexpected\nexpected\nexpected\nexpected\nexpected\n"
              "; paired 6 frames, 6 by expectation" +
                  console("\n"));
    // Three records for six frames: the last three carry the last record
    // again, and are the stamped frames after it.
    data.resize(180);
    writeFile(s.wm, data);
    ASSERT_EQ(runTool(kStamp, {dir.path("src.yuv"), s.wm, s.path}).status, 0);
    EXPECT_EQ(pairs({"--verify", s.wm, s.path}),
              "record\nrecord\nrecord\nexpected\nexpected\nexpected\n"
              "; paired 6 frames, 3 by expectation" +
                  console("\n"));
}

namespace {

// A video with only the band rows of each frame written, carrying
// `records` of `data`, the rest left as holes: long videos at little cost.
// With `y4m`, a YUV4MPEG2 stream whose FRAME lines vary in length.
void writeSparseVideo(const std::string& path, const Bytes& data, const std::vector<int>& records,
                      bool y4m)
{
    std::ofstream out(path, std::ios::binary);
    uint64_t at = 0;
    if (y4m) {
        const std::string header = "YUV4MPEG2 W1920 H1080 F25:1 Ip C420jpeg\n";
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        at = header.size();
    }
    Bytes band(3840);
    for (size_t n = 0; n < records.size(); ++n) {
        const std::string line = "FRAME" + std::string(n % 5, ' ') + "\n";
        out.seekp(static_cast<std::streamoff>(at));
        if (y4m)
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
        const auto record = data.begin() + records[n] * 60;
        encodeRecord(Bytes(record, record + 60), band);
        out.write(reinterpret_cast<const char*>(band.data()), 3840);
        at += (y4m ? line.size() : 0) + kFrame;
    }
    out.close();
    std::filesystem::resize_file(path, at);
}

std::vector<int> counting(int frames)
{
    std::vector<int> all;
    for (int k = 0; k < frames; ++k)
        all.push_back(k);
    return all;
}

} // namespace

// A YUV4MPEG2 file is read where each frame lies, however far back or
// ahead of the last one read; a frame found in the wrong place would not
// carry its record, and the run would fail.
TEST(Pair, AY4mFileIsReadWhereverTheFramesLie)
{
    TempDir dir;
    const Bytes data = makeRandomBytes(150 * 60, 65);
    writeFile(dir.path("wm.bin"), data);
    writeSparseVideo(dir.path("stamped.y4m"), data, counting(150), true);
    std::vector<int> shown = counting(140);
    shown.insert(shown.end(), {3, 139, 70, 66, 65, 149, 1});
    writeSparseVideo(dir.path("v.yuv"), data, shown, false);
    const RunResult r =
        runTool(kExtract, {"--report", "-", "--pair", dir.path("stamped.y4m"), nullDevice(),
                           "--verify", dir.path("wm.bin"), dir.path("v.yuv")});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err.substr(r.err.rfind("checked")),
              console("checked 147 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                      "records 0-149: 141 matched, 9 missing, 6 repeated, 0 out of order; "
                      "paired 147 frames, 0 by expectation\n"));
    std::string records;
    for (size_t n = 0; n < shown.size(); ++n)
        records += "record\n";
    EXPECT_EQ(lastColumn(r.out), records);
}

// A pipe is read forward: a frame further back than the last nine read is
// a clear error naming it, after whole frames, never another pairing; a
// file pairs it. A frame past the end of STAMPED is one too.
TEST(Pair, APipeKeepsItsLastNineFramesAndAFileAll)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a pipe from cat that the reader leaves";
#else
    TempDir dir;
    const Stamped s = stampSource(dir, 12, makeRandomBytes(720, 66));
    std::vector<int> shown = counting(12);
    shown.insert(shown.end(), {3, 2});
    writeFile(dir.path("v.yuv"), framesOf(s, shown));
    const std::string paired = dir.path("p.yuv"), report = dir.path("r.csv");
    const std::string pipe = "cat " + shellQuote(s.path) + " | " + shellQuote(kExtract) +
                             " --report " + shellQuote(report) + " --pair - " + shellQuote(paired) +
                             " --verify " + shellQuote(s.wm) + " " + shellQuote(dir.path("v.yuv"));
    RunResult r = runTool("/bin/sh", {"-c", pipe});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "frame 12 repeats record 3\n"
                     "frame 13 repeats record 2\n"
                     "wmextract: cannot pair frame 13 with stamped video file \"-\": its frame 2 "
                     "has gone by (a pipe is read forward, keeping its last 9 frames, now 3-11); "
                     "give it as a file\n"
                     "checked 14 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-11: 12 matched, 0 missing, 2 repeated, 0 out of order; paired 13 frames, "
                     "0 by expectation\n");
    shown.pop_back();
    EXPECT_EQ(readFile(paired), framesOf(s, shown));
    const Bytes csv = readFile(report);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 14);
    r = runTool(kExtract,
                {"--pair", s.path, paired, "--force", "--verify", s.wm, dir.path("v.yuv")});
    EXPECT_EQ(r.status, 4);
    shown.push_back(2);
    EXPECT_EQ(readFile(paired), framesOf(s, shown));

    // STAMPED cut short: the frames before the one it lacks.
    writeFile(dir.path("short.yuv"), framesOf(s, counting(4)));
    writeFile(dir.path("v.yuv"), framesOf(s, {0, 1, 2, 3, 5}));
    r = runTool(kExtract, {"--pair", dir.path("short.yuv"), paired, "--force", "--verify", s.wm,
                           dir.path("v.yuv")});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "record 4 missing between frames 3 and 4\n"
                     "wmextract: cannot pair frame 4 with stamped video file \"" +
                         dir.path("short.yuv") +
                         "\": it holds frames 0-3, so no frame 5\n"
                         "checked 5 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                         "records 0-5: 5 matched, 1 missing, 0 repeated, 0 out of order; paired "
                         "4 frames, 0 by expectation\n");
    EXPECT_EQ(readFile(paired), framesOf(s, counting(4)));
#endif
}

// What cannot be paired is refused before PAIRED is touched where it can
// be told then: a STAMPED that cannot be opened or is not video of VIDEO's
// size; a STAMPED that is not the stamped source ends at its first frame.
TEST(Pair, WhatCannotBePairedIsRefused)
{
    TempDir dir;
    const Stamped s = stampSource(dir, 2, makeRandomBytes(120, 67));
    const std::string paired = dir.path("p.yuv");
    const auto pairWith = [&](const std::string& stamped) {
        return runTool(kExtract, {"--pair", stamped, paired, "--verify", s.wm, s.path});
    };
    RunResult r = pairWith(dir.path("missing.yuv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open stamped video file \"" +
                             dir.path("missing.yuv") + "\": No such file or directory\n"));
    writeFile(dir.path("s720.y4m"), asY4m(Bytes(1280 * 720 * 3 / 2, 16), "W1280 H720"));
    r = pairWith(dir.path("s720.y4m"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot pair with stamped video file \"" +
                             dir.path("s720.y4m") + "\": it is 1280x720 yuv420p, and the video \"" +
                             s.path + "\" is 1920x1080 yuv420p\n"));
    EXPECT_FALSE(fileExists(paired));
    // The source before stamping.
    r = pairWith(dir.path("src.yuv"));
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err,
              console("wmextract: cannot pair frame 0 with stamped video file \"" +
                      dir.path("src.yuv") + "\": its frame 0 does not carry record 0 of \"" + s.wm +
                      "\" (is it the video wmstamp wrote with that data?)\n"
                      "checked 1 frame, 0 differ, 0 bit errors, smallest margin 36.50; "
                      "records 0-0: 1 matched, 0 missing, 0 repeated, 0 out of order; "
                      "paired 0 frames, 0 by expectation\n"));
    EXPECT_EQ(readFile(paired), Bytes{});

    const RunResult help = runTool(kExtract, {"--help"});
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--pair", s.path, paired, s.path, dir.path("p.bin")},
              "--pair: only --verify finds the source frame of each frame"},
             {{"--verify", s.wm, s.path, "--pair", s.path},
              "--pair needs two values (STAMPED PAIRED)"},
             {{"--pair", s.path, paired, "--verify", s.wm}, ""}}) {
        r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.err, (reason.empty() ? "" : console("wmextract: " + reason + "\n")) + help.out);
    }
}

// PAIRED is opened as the other outputs are: never one of the inputs,
// replacing data only with --force, standard output where the report does
// not go there.
TEST(Pair, PairedOpensAsTheOtherOutputsDo)
{
    TempDir dir;
    const Stamped s = stampSource(dir, 2, makeRandomBytes(120, 68));
    const std::string paired = dir.path("p.yuv");
    const auto run = [&](const std::vector<std::string>& first, const RunOptions& options = {}) {
        std::vector<std::string> args = first;
        args.insert(args.end(), {"--verify", s.wm, s.path});
        return runTool(kExtract, args, options);
    };
    const Bytes old = makeRandomBytes(100, 69);
    writeFile(paired, old);
    RunResult r = run({"--pair", s.path, paired});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open paired video file \"" + paired +
                             "\": it already holds data (--force replaces it)\n"));
    EXPECT_EQ(readFile(paired), old);
    r = run({"--force", "--pair", s.path, paired});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(paired), s.video);
    for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
             {s.path, "it is the video itself"}, {s.wm, "it is the watermark data file"}}) {
        r = run({"--force", "--pair", dir.path("src.yuv"), name});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, console("wmextract: cannot open paired video file \"" + name +
                                 "\": " + reason + "\n"));
    }
    const Bytes source = readFile(dir.path("src.yuv"));
    r = run({"--force", "--pair", dir.path("src.yuv"), dir.path("src.yuv")});
    EXPECT_EQ(r.err, console("wmextract: cannot open paired video file \"" + dir.path("src.yuv") +
                             "\": it is the stamped video file\n"));
    EXPECT_EQ(readFile(dir.path("src.yuv")), source);
    r = run({"--report", dir.path("src.yuv"), "--force", "--pair", dir.path("src.yuv"), paired});
    EXPECT_EQ(r.err, console("wmextract: cannot open report file \"" + dir.path("src.yuv") +
                             "\": it is the stamped video file\n"));
    r = run({"--report", "-", "--force", "--pair", s.path, "-"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open report file \"-\": it is the paired video "
                             "file\n"));
    r = run({"--pair", s.path, "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), s.video);
    RunOptions fromVideo;
    fromVideo.input = s.path;
    r = runTool(kExtract, {"--pair", "-", paired, "--force", "--verify", s.wm, "-"}, fromVideo);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open stamped video file \"-\": standard input is "
                             "already the video\n"));
    // STAMPED on standard input.
    r = runTool(kExtract, {"--pair", "-", paired, "--force", "--verify", s.wm, s.path}, fromVideo);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(paired), s.video);
#ifndef _WIN32
    r = runTool("/bin/sh",
                {"-c", shellQuote(kExtract) + " --pair " + shellQuote(s.path) + " - --verify " +
                           shellQuote(s.wm) + " " + shellQuote(s.path) + " >&-"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "wmextract: cannot open paired video file \"-\": standard output was closed\n");
#endif
}

// A full file or a stop leaves PAIRED with whole frames, as many as the
// report has lines, and the summary of what was paired.
TEST(Pair, FailuresAndStopsLeaveWholeFramesInStepWithTheReport)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: file-size limits and signals";
#else
    TempDir dir;
    const Stamped s = stampSource(dir, 4, makeRandomBytes(240, 70));
    const std::string paired = dir.path("p.yuv"), report = dir.path("r.csv");
    const std::string lines = [&] {
        EXPECT_EQ(runTool(kExtract,
                          {"--report", report, "--pair", s.path, paired, "--verify", s.wm, s.path})
                      .status,
                  0);
        const Bytes all = readFile(report);
        std::string text(all.begin(), all.end());
        return text.substr(0, text.find("2,2,"));
    }();
    RunOptions limited;
    limited.fileSizeLimit = kFrame * 5 / 2;
    RunResult r =
        runTool(kExtract,
                {"--report", report, "--force", "--pair", s.path, paired, "--verify", s.wm, s.path},
                limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "wmextract: error writing paired video file \"" + paired +
                         "\": File too large\n"
                         "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                         "records 0-2: 3 matched, 0 missing, 0 repeated, 0 out of order; paired 2 "
                         "frames, 0 by expectation\n");
    EXPECT_EQ(readFile(paired), framesOf(s, {0, 1}));
    EXPECT_EQ(text(readFile(report)), lines);

    // Stopped while STAMPED, a pipe, holds back the third frame.
    FeedPipe feed(dir);
    ToolProcess tool(kExtract, {"--report", report, "--force", "--pair", feed.path(), paired,
                                "--verify", s.wm, s.path});
    ASSERT_TRUE(feed.write(Bytes(s.video.begin(), s.video.begin() + kFrame * 5 / 2)));
    ASSERT_TRUE(feed.waitUntilRead());
    tool.sendSignal(SIGINT);
    r = tool.finish();
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_EQ(r.err, "wmextract: interrupted after 3 frames\n"
                     "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-2: 3 matched, 0 missing, 0 repeated, 0 out of order; paired 2 frames, 0 by "
                     "expectation\n");
    EXPECT_EQ(readFile(paired), framesOf(s, {0, 1}));
    EXPECT_EQ(text(readFile(report)), lines);
#endif
}

// PAIRED repeats VIDEO's layout: a YUV4MPEG2 VIDEO gives a stream with its
// header and each frame's FRAME line around the stamped frames (from a raw
// STAMPED too), and raw video at another size and depth pairs at it.
TEST(Pair, PairedRepeatsTheLayoutOfTheVideo)
{
    TempDir dir;
    const Stamped s = stampSource(dir, 6, makeRandomBytes(360, 64));
    const std::vector<int> shown = {0, 2, 2, 1, 5};
    writeFile(dir.path("v.y4m"), asY4m(framesOf(s, shown)));
    RunResult r = runTool(kExtract, {"--pair", s.path, dir.path("p.y4m"), "--verify", s.wm,
                                     dir.path("v.y4m")});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(readFile(dir.path("p.y4m")), asY4m(framesOf(s, shown)));

    const size_t frame = 1280 * 720 * 3;
    writeFile(dir.path("src10.yuv"), makeRandomBytes(4 * frame, 65));
    const std::vector<std::string> at720 = {"--size", "1280x720", "--format", "yuv420p10le"};
    std::vector<std::string> args = at720;
    args.insert(args.end(), {dir.path("src10.yuv"), s.wm, dir.path("st10.yuv")});
    ASSERT_EQ(runTool(kStamp, args).status, 0);
    const Bytes st = readFile(dir.path("st10.yuv"));
    Bytes video;
    for (long k : {3, 0, 1})
        video.insert(video.end(), st.begin() + k * long(frame), st.begin() + (k + 1) * long(frame));
    writeFile(dir.path("v10.yuv"), video);
    args = at720;
    args.insert(args.end(), {"--pair", dir.path("st10.yuv"), dir.path("p10.yuv"), "--verify", s.wm,
                             dir.path("v10.yuv")});
    r = runTool(kExtract, args);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(readFile(dir.path("p10.yuv")), video);
    // Without the options the stamped source is read at 1080p, and refused.
    r = runTool(kExtract, {"--pair", dir.path("st10.yuv"), dir.path("p1080.yuv"), "--verify", s.wm,
                           dir.path("v.y4m")});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              console("wmextract: cannot pair frame 0 with stamped video file \"" +
                      dir.path("st10.yuv") + "\": its frame 0 does not carry record 0 of \"" + s.wm +
                      "\" (is it the video wmstamp wrote with that data?)\n"));
    EXPECT_EQ(readFile(dir.path("p1080.yuv")), asY4m({}));
}
