// wmstamp --clock and wmextract --clock run as a user would: the records on
// every path, the breaks of the step and their statuses, a relay that
// holds every frame for a known time, live report lines, --every, and stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <regex>
#include <sstream>
#include <thread>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;

// A frame of a video, and a run of them.
Bytes frames(const Bytes& video, std::initializer_list<size_t> which)
{
    Bytes out;
    for (size_t f : which)
        out.insert(out.end(), video.begin() + static_cast<long>(f * kFrame),
                   video.begin() + static_cast<long>((f + 1) * kFrame));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The payloads wmextract reads from a video, 60 bytes a frame.
Bytes payloadsOf(const TempDir& dir, const std::string& video)
{
    const std::string out = dir.path("payloads.bin");
    const RunResult r = runTool(kExtract, {"--force", video, out});
    EXPECT_EQ(r.status, 0) << r.err;
    return readFile(out);
}

uint64_t bigEndianAt(const Bytes& bytes, size_t at)
{
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value = value * 256 + bytes[at + i];
    return value;
}

std::string hex16(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// One line of the clock report, its columns taken apart.
struct ReportLine {
    std::string frame, run, counter, stamped, arrived, latency, step;
};

std::vector<ReportLine> reportLines(const Bytes& report, std::string& header)
{
    std::istringstream in(std::string(report.begin(), report.end()));
    std::getline(in, header);
    std::vector<ReportLine> lines;
    for (std::string text; std::getline(in, text);) {
        ReportLine l;
        std::istringstream cols(text);
        for (std::string* field :
             {&l.frame, &l.run, &l.counter, &l.stamped, &l.arrived, &l.latency, &l.step})
            std::getline(cols, *field, ',');
        lines.push_back(l);
    }
    return lines;
}

const std::string kHeader = "frame,run,counter,stamped_ns,arrived_ns,latency_ms,step";

// The summary line, its latency figures as numbers.
std::string summaryPattern(int frames, int missing, int repeated, int uncorrectable, int outOfOrder,
                           int restarts)
{
    return "checked " + std::to_string(frames) + (frames == 1 ? " frame, " : " frames, ") +
           std::to_string(missing) + " missing, " + std::to_string(repeated) + " repeated, " +
           std::to_string(uncorrectable) +
           " uncorrectable; latency ms min -?[0-9]+\\.[0-9]{2}, median -?[0-9]+\\.[0-9]{2}, "
           "p95 -?[0-9]+\\.[0-9]{2}, max -?[0-9]+\\.[0-9]{2}; " +
           std::to_string(outOfOrder) + " out of order, " + std::to_string(restarts) +
           (restarts == 1 ? " restart" : " restarts") + ", 0 corrected\n";
}

// Whether console text is the lines of `pattern` (a regular expression),
// as the platform ends them.
bool matchesWhole(const std::string& text, const std::string& pattern)
{
    return std::regex_match(text, std::regex(console(pattern)));
}

// Stamps `frames` frames of a fresh source with the clock form.
std::string stampClock(const TempDir& dir, const std::string& name, int count, uint32_t seed)
{
    const std::string src = dir.path(name + ".src.yuv"), out = dir.path(name + ".yuv");
    writeFile(src, makeVideo(count, 0, seed));
    const RunResult r = runTool(kStamp, {"--clock", src, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, console(kBanner + "Reached end of input file\nwrote " + std::to_string(count) +
                             " frames\n"));
    return out;
}

} // namespace

// Every frame carries its run, its counter from 0 and the time it was
// stamped; everything but the stamped spans is the source's.
TEST(Clock, RecordsOnEveryPathAreReadInStep)
{
    TempDir dir;
    const Bytes src = makeVideo(12, 100, 60);
    writeFile(dir.path("src.yuv"), src);
    const auto before = std::chrono::system_clock::now();
    RunResult r = runTool(kStamp, {"--clock", dir.path("src.yuv"), dir.path("out.yuv")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, console(kBanner + "frame# 10        \rReached end of input file\n"
                                       "wrote 12 frames\n"));
    const auto after = std::chrono::system_clock::now();
    const Bytes payloads = payloadsOf(dir, dir.path("out.yuv"));
    ASSERT_EQ(payloads.size(), 12u * 60);
    EXPECT_EQ(checkStampedVideo(Bytes(src.begin(), src.end() - 100), payloads,
                                readFile(dir.path("out.yuv"))),
              "");
    const auto ns = [](auto t) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    };
    for (size_t f = 0; f < 12; ++f) {
        EXPECT_EQ(bigEndianAt(payloads, f * 60), bigEndianAt(payloads, 0)) << f;
        EXPECT_EQ(bigEndianAt(payloads, f * 60 + 8), f);
        const auto stamped = static_cast<int64_t>(bigEndianAt(payloads, f * 60 + 16));
        EXPECT_GE(stamped, ns(before)) << f;
        EXPECT_LE(stamped, ns(after)) << f;
        if (f > 0) {
            EXPECT_GT(stamped, static_cast<int64_t>(bigEndianAt(payloads, f * 60 - 44))) << f;
        }
    }
    const std::string run = hex16(bigEndianAt(payloads, 0));

    r = runTool(kExtract, {"--clock", "--report", dir.path("r.csv"), dir.path("out.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matchesWhole(r.err, summaryPattern(12, 0, 0, 0, 0, 0))) << r.err;
    std::string header;
    const auto lines = reportLines(readFile(dir.path("r.csv")), header);
    EXPECT_EQ(header, kHeader);
    ASSERT_EQ(lines.size(), 12u);
    for (size_t f = 0; f < 12; ++f) {
        const ReportLine& l = lines[f];
        EXPECT_EQ(l.frame, std::to_string(f));
        EXPECT_EQ(l.run, run);
        EXPECT_EQ(l.counter, std::to_string(f));
        EXPECT_EQ(std::stoll(l.stamped), static_cast<int64_t>(bigEndianAt(payloads, f * 60 + 16)));
        const long long latency = std::stoll(l.arrived) - std::stoll(l.stamped);
        EXPECT_GT(latency, 0);
        char ms[40];
        std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(latency) / 1e6);
        EXPECT_EQ(l.latency, ms);
        EXPECT_EQ(l.step, "in step");
    }

#ifndef _WIN32
    // Through pipes: the streaming path, and a new run identifier.
    r = runTool("/bin/sh",
                {"-c", shellQuote(kStamp) + " --clock - - < " + shellQuote(dir.path("src.yuv")) +
                           " 2>/dev/null | " + shellQuote(kExtract) + " --clock --report - -"});
    EXPECT_EQ(r.status, 0);
    // (wmstamp left out the incomplete last frame.)
    EXPECT_TRUE(matchesWhole(r.err, summaryPattern(12, 0, 0, 0, 0, 0))) << r.err;
    const auto piped = reportLines(Bytes(r.out.begin(), r.out.end()), header);
    ASSERT_EQ(piped.size(), 12u);
    EXPECT_NE(piped[0].run, run);
    EXPECT_EQ(piped[11].counter, "11");
#endif
}

// Frames dropped, repeated, swapped, damaged, unstamped, of another code
// and of a restarted source: each said in a line, counted, and the status.
TEST(Clock, BreaksOfTheStepAreNamedAndCounted)
{
    TempDir dir;
    const Bytes a = readFile(stampClock(dir, "a", 8, 61));
    const Bytes b = readFile(stampClock(dir, "b", 2, 62));
    const std::string runB = hex16(bigEndianAt(payloadsOf(dir, dir.path("b.yuv")), 0));
    // Frame 6 with 15 of its payload's bytes wrong: a band, beyond the code.
    Bytes damaged = frames(a, {6});
    const Bytes payloadsA = payloadsOf(dir, dir.path("a.yuv"));
    const Bytes payload6(payloadsA.begin() + 360, payloadsA.begin() + 420);
    {
        Bytes wrong = payload6;
        for (size_t i = 0; i < 15; ++i)
            wrong[i * 4] ^= 0xff;
        writeFile(dir.path("wrong.bin"), wrong);
        writeFile(dir.path("one.yuv"), makeVideo(1, 0, 63));
        ASSERT_EQ(
            runTool(kStamp, {dir.path("one.yuv"), dir.path("wrong.bin"), dir.path("d.yuv")}).status,
            0);
        damaged = readFile(dir.path("d.yuv"));
    }
    // A record of wmpack's code at K = 40 that is not a clock record.
    writeFile(dir.path("forty.bin"), makeRandomBytes(40, 64));
    ASSERT_EQ(runTool(kPack, {"--data-bytes", "40", dir.path("forty.bin"), dir.path("packed.bin")})
                  .status,
              0);
    ASSERT_EQ(
        runTool(kStamp, {dir.path("one.yuv"), dir.path("packed.bin"), dir.path("p.yuv")}).status,
        0);
    const Bytes video = frames(a, {0, 1, 2, 5, 5, 4, 6}) + damaged + makeVideo(1, 0, 65) +
                        readFile(dir.path("p.yuv")) + b;
    writeFile(dir.path("v.yuv"), video);
    RunResult r = runTool(kExtract, {"--clock", "--report", dir.path("r.csv"), dir.path("v.yuv")});
    EXPECT_EQ(r.status, 3);
    const std::string lines = "counters 3-4 missing before frame 3\n"
                              "frame 4 repeats counter 5\n"
                              "frame 5 is out of order: counter 4 after counter 5\n"
                              "frame 7: uncorrectable \\(more than 10 wrong bytes\\)\n"
                              "frame 8: no band\n"
                              "frame 9: not a clock record\n"
                              "frame 10: new run " +
                              runB + " at counter 0 \\(the source restarted\\)\n";
    EXPECT_TRUE(matchesWhole(r.err, lines + summaryPattern(12, 1, 1, 3, 1, 1))) << r.err;
    std::string header;
    const auto report = reportLines(readFile(dir.path("r.csv")), header);
    ASSERT_EQ(report.size(), 12u);
    std::vector<std::string> steps, counters;
    for (const ReportLine& l : report) {
        steps.push_back(l.step);
        counters.push_back(l.counter);
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"in step", "in step", "in step", "after missing",
                                               "repeat", "out of order", "in step", "uncorrectable",
                                               "no band", "uncorrectable", "restart", "in step"}));
    EXPECT_EQ(counters,
              (std::vector<std::string>{"0", "1", "2", "5", "5", "4", "6", "", "", "", "0", "1"}));
    // A frame with no record has its arrival and nothing else.
    EXPECT_EQ(report[7].run + report[7].stamped + report[7].latency, "");
    EXPECT_FALSE(report[7].arrived.empty());

    // Exact records out of step: 4; in step from a late start: 0.
    writeFile(dir.path("v.yuv"), frames(a, {0, 1, 3, 4}));
    r = runTool(kExtract, {"--clock", dir.path("v.yuv")});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(matchesWhole(r.err, "counter 2 missing before frame 2\n" +
                                        summaryPattern(4, 1, 0, 0, 0, 0)))
        << r.err;
    writeFile(dir.path("v.yuv"), frames(a, {0, 1}) + b);
    r = runTool(kExtract, {"--clock", dir.path("v.yuv")});
    EXPECT_EQ(r.status, 4);
    writeFile(dir.path("v.yuv"), frames(a, {3, 4, 5}));
    r = runTool(kExtract, {"--clock", dir.path("v.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matchesWhole(r.err, "starts at counter 3\n" + summaryPattern(3, 0, 0, 0, 0, 0)))
        << r.err;
    // No band at all, and no whole frame.
    // (a picture of noise, and a black one: zeros throughout read as a word
    // of the code, but not as a band)
    writeFile(dir.path("v.yuv"), makeVideo(1, 0, 66) + Bytes(kFrame, 0));
    r = runTool(kExtract, {"--clock", dir.path("v.yuv")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("frame 0: no band\nframe 1: no band\n"
                             "wmextract: no watermark band found in \"" +
                             dir.path("v.yuv") +
                             "\"\n"
                             "checked 2 frames, 0 missing, 0 repeated, 2 uncorrectable; latency "
                             "ms min -, median -, p95 -, max -; 0 out of order, 0 restarts, 0 "
                             "corrected\n"));
    writeFile(dir.path("v.yuv"), Bytes(100, 0));
    r = runTool(kExtract, {"--clock", dir.path("v.yuv")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 100 bytes\n"
                             "wmextract: no whole frame to check in \"" +
                             dir.path("v.yuv") + "\"\n"));
}

TEST(Clock, CommandLines)
{
    TempDir dir;
    const std::string video = stampClock(dir, "a", 1, 67);
    const RunResult help = runTool(kExtract, {"--help"});
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--clock"}, ""},
             {{"--clock", video, "p.bin"}, ""},
             {{"--clock", "--verify", "wm.bin", video},
              "--clock: the frames carry counters, not records of DATA"},
             {{"--clock", "--fec", "40", video},
              "--fec: --clock records carry their own code (K = 40)"},
             {{"--clock", "--whole", video}, "--whole: only --verify checks the records of DATA"},
             {{"--clock", "--force", video}, "--force: with --clock only a report is written"},
             {{"--clock", "--every", "0", video},
              "--every 0: S is a number of seconds, 0.001 to 86400"},
             {{"--every", "1s", video, "p.bin"},
              "--every 1s: S is a number of seconds, 0.001 to 86400"}}) {
        const RunResult r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.err, (reason.empty() ? "" : console("wmextract: " + reason + "\n")) + help.out);
    }
    // wmstamp's clock form takes two names, and its usage text is the
    // fixed one.
    const RunResult usage = runTool(kStamp, {});
    RunResult r = runTool(kStamp, {"--clock", video, "a", "b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage.out);
    r = runTool(kStamp, {"--clock", video});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage.out);
    // Its output is refused as any other: here, the source itself.
    r = runTool(kStamp, {"--clock", video, video});
    EXPECT_EQ(r.status, 4);
}

// A relay between the two holds every frame for a known time: the
// latencies reported are that time, never less, and within a few
// milliseconds of it beyond what a run without a hold shows (the
// reference: what the pipes alone add). The source is paced, a frame every
// 20 ms as a live one comes, so that frames do not queue behind each other.
TEST(Clock, ARelayThatHoldsEachFrameIsMeasured)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a shell pipeline through the relay";
#else
    TempDir dir;
    writeFile(dir.path("src.yuv"), makeVideo(25, 0, 68));
    const std::string report = dir.path("r.csv");
    const std::string relay = shellQuote(WM_RELAY_PATH) + " 3110400 ";
    std::vector<double> least;
    for (const int hold : {0, 100}) {
        const RunResult r = runTool(
            "/bin/sh", {"-c", relay + "0 20 < " + shellQuote(dir.path("src.yuv")) + " | " +
                                  shellQuote(kStamp) + " --clock - - 2>/dev/null | " + relay +
                                  std::to_string(hold) + " | " + shellQuote(kExtract) +
                                  " --clock --force --report " + shellQuote(report) + " -"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string header;
        const auto lines = reportLines(readFile(report), header);
        EXPECT_EQ(lines.size(), 25u);
        std::vector<double> latencies;
        for (const ReportLine& l : lines)
            latencies.push_back(std::stod(l.latency));
        if (latencies.size() != 25)
            return;
        std::sort(latencies.begin(), latencies.end());
        EXPECT_GE(latencies.front(), hold);
        least.push_back(latencies.front());
        // The summary's median is the report's, to its bin.
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.err, m, std::regex("median ([0-9.]+),")));
        EXPECT_NEAR(std::stod(m[1]), latencies[12], 0.01 + latencies[12] / 1000);
    }
    EXPECT_NEAR(least[1] - least[0], 100.0, 5.0) << "least " << least[0] << " and " << least[1];
#endif
}

// The report follows the frames as they come; --every prints the summary
// so far; a stop leaves whole lines and the summary of the frames read.
TEST(Clock, LiveReportEveryAndStops)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: signals";
#else
    TempDir dir;
    const Bytes video = readFile(stampClock(dir, "a", 3, 69));
    const std::string report = dir.path("r.csv");
    // The first half of frame 1.
    const Bytes half(video.begin() + kFrame, video.begin() + kFrame * 3 / 2);
    const auto wholeLines = [&](size_t count) {
        std::string header;
        const Bytes bytes = readFile(report);
        const auto lines = reportLines(bytes, header);
        EXPECT_EQ(header, kHeader);
        EXPECT_EQ(bytes.back(), '\n');
        for (size_t f = 0; f < lines.size(); ++f)
            EXPECT_EQ(lines[f].counter, std::to_string(f));
        return lines.size() == count;
    };
    for (const int sig : {SIGINT, SIGTERM}) {
        FeedPipe feed(dir);
        ToolProcess tool(kExtract,
                         {"--clock", "--force", "--report", report, "--every", "0.2", feed.path()});
        // Once the reader has taken half of frame 1, frame 0's line is in
        // the report, and the period has started.
        ASSERT_TRUE(feed.write(frames(video, {0}) + half));
        ASSERT_TRUE(feed.waitUntilRead());
        EXPECT_TRUE(wholeLines(1));
        // A whole period passes (the time under test, not a wait for the
        // program); frame 1's check is then followed by the summary so far.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_TRUE(feed.write(Bytes(video.begin() + kFrame * 3 / 2, video.end() - kFrame / 2)));
        ASSERT_TRUE(feed.waitUntilRead());
        EXPECT_TRUE(wholeLines(2));
        tool.sendSignal(sig);
        const RunResult r = tool.finish();
        EXPECT_EQ(r.signal, sig);
        EXPECT_TRUE(matchesWhole(r.err, summaryPattern(2, 0, 0, 0, 0, 0) +
                                            "wmextract: interrupted after 2 frames\n" +
                                            summaryPattern(2, 0, 0, 0, 0, 0)))
            << r.err;
        EXPECT_TRUE(wholeLines(2));
    }
    // --every in the extract form: the summary line so far, as at the end.
    {
        FeedPipe feed(dir);
        ToolProcess tool(kExtract, {"--every", "0.2", feed.path(), dir.path("p.bin")});
        ASSERT_TRUE(feed.write(frames(video, {0}) + half));
        ASSERT_TRUE(feed.waitUntilRead());
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_TRUE(feed.write(Bytes(video.begin() + kFrame * 3 / 2, video.end())));
        feed.close();
        const RunResult r = tool.finish();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "extracted 2 payloads, smallest margin 36.50\n"
                         "extracted 3 payloads, smallest margin 36.50\n");
    }
#endif
}

// The clock form at other sizes and depths: a 10-bit YUV4MPEG2 stream keeps
// its header and FRAME lines and reads in step; raw frames at --size with a
// taller band read with the same options, and a dropped frame is named.
TEST(Clock, OtherSizesDepthsAndStreamsReadInStep)
{
    TempDir dir;
    const FrameShape at720{1280, 720, 10, 2};
    const std::string header = "YUV4MPEG2 W1280 H720 F50:1 Ip A1:1 C420p10 XYSCSS=420P10\n";
    const std::vector<std::string> lines = {"FRAME\n", "FRAME Ib\n"};
    const Bytes raw = makeRandomBytes(5 * at720.frameBytes(), 66);
    const Bytes src = y4mStream(header, lines, raw, at720.frameBytes());
    writeFile(dir.path("src.y4m"), src);
    RunResult r = runTool(kStamp, {"--clock", dir.path("src.y4m"), dir.path("out.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes out = readFile(dir.path("out.y4m"));
    ASSERT_EQ(out.size(), src.size());
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(header.size())), header);
    r = runTool(kExtract, {"--clock", "--report", dir.path("r.csv"), dir.path("out.y4m")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matchesWhole(r.err, summaryPattern(5, 0, 0, 0, 0, 0))) << r.err;
    std::string csvHeader;
    const auto report = reportLines(readFile(dir.path("r.csv")), csvHeader);
    ASSERT_EQ(report.size(), 5u);
    EXPECT_EQ(report[4].counter, "4");

    const FrameShape at360{640, 360, 8, 4};
    const std::vector<std::string> opts = {"--size", "640x360", "--band-rows", "4"};
    writeFile(dir.path("src.yuv"), makeRandomBytes(4 * at360.frameBytes(), 67));
    std::vector<std::string> args = opts;
    args.insert(args.end(), {"--clock", dir.path("src.yuv"), dir.path("out.yuv")});
    ASSERT_EQ(runTool(kStamp, args).status, 0);
    const Bytes stamped = readFile(dir.path("out.yuv"));
    const auto frame = static_cast<long>(at360.frameBytes());
    Bytes dropped;
    for (long k : {0, 1, 3})
        dropped.insert(dropped.end(), stamped.begin() + k * frame, stamped.begin() + (k + 1) * frame);
    writeFile(dir.path("v.yuv"), dropped);
    args = opts;
    args.insert(args.end(), {"--clock", dir.path("v.yuv")});
    r = runTool(kExtract, args);
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(matchesWhole(r.err, "counter 2 missing before frame 2\n" +
                                        summaryPattern(3, 1, 0, 0, 0, 0)))
        << r.err;
}
