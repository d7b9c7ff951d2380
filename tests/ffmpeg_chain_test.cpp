// The watermark through the encoder users put between stamping and reading:
// ffmpeg makes a noisy 1080p clip, wmstamp stamps it, libx264 encodes it,
// ffmpeg decodes it, and wmextract must read every payload back.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>

#include "tool_runner.h"

namespace {

constexpr int kFrames = 25;

const std::string kRaw = " -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 ";
const std::string kSource = "ffmpeg -nostdin -loglevel error -y -f lavfi "
                            "-i testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t -frames:v " +
                            std::to_string(kFrames) + " -f rawvideo -pix_fmt yuv420p ";
const std::string kEncode =
    "ffmpeg -nostdin -loglevel error -y" + kRaw + "-i %s -c:v libx264 -preset medium -crf 23 %s";

const std::string kX265Recipe = "-vf addroi=x=0:y=0:w=iw:h=16:qoffset=-0.1 "
                                "-c:v libx265 -preset fast -crf 28 -x265-params log-level=error";

RunResult shell(const std::string& script)
{
    return runTool("/bin/sh", {"-c", script});
}

std::string encodeCommand(const std::string& in, const std::string& out)
{
    std::string cmd = kEncode;
    cmd.replace(cmd.find("%s"), 2, shellQuote(in));
    cmd.replace(cmd.find("%s"), 2, shellQuote(out));
    return cmd;
}

// Decodes `mp4` to raw frames, or with `bandOnly` to the band rows alone,
// and verifies them against `wm` at the end of a pipe, as a user would.
RunResult decodeAndVerify(const std::string& mp4, const std::string& wm, bool bandOnly = false)
{
    const std::string frames = bandOnly ? " -vf crop=1920:2:0:0,extractplanes=y -f rawvideo - | "
                                        : " -f rawvideo -pix_fmt yuv420p - | ";
    return shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(mp4) +
                 " -fps_mode passthrough" + frames + shellQuote(kExtract) +
                 (bandOnly ? " --band" : "") + " --verify " + shellQuote(wm) + " -");
}

// Why this ffmpeg cannot run the chain, or "" when it can: it may be
// missing, older than -fps_mode (5.1), or built without libx264 or lavfi.
std::string missingCapability()
{
    if (shell("command -v ffmpeg >/dev/null").status != 0)
        return "ffmpeg is not installed (CI installs it)";
    if (shell("ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=64x64 -frames:v 1 "
              "-fps_mode passthrough -f null -")
            .status != 0)
        return "this ffmpeg lacks the lavfi test sources or -fps_mode (ffmpeg 5.1 or later)";
    if (shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw libx264").status != 0)
        return "this ffmpeg is built without libx264";
    return "";
}

class FfmpegChain : public ::testing::Test {
  protected:
    void SetUp() override
    {
#ifdef _WIN32
        GTEST_SKIP() << "POSIX only: ffmpeg and shell pipelines";
#endif
        static const std::string missing = missingCapability();
        if (!missing.empty())
            GTEST_SKIP() << missing;
        writeFile(dir.path("wm.bin"), makeRandomBytes(kFrames * 60, 50));
    }
    TempDir dir;
};

void expectClean(const RunResult& r, int frames = kFrames)
{
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("checked " + std::to_string(frames) + " frames, 0 differ, 0 bit errors"),
              std::string::npos)
        << r.err;
}

} // namespace

TEST_F(FfmpegChain, PayloadsSurviveX264ThroughFiles)
{
    const std::string src = dir.path("src.yuv"), out = dir.path("stamped.yuv");
    ASSERT_EQ(shell(kSource + shellQuote(src)).status, 0);
    ASSERT_EQ(runTool(kStamp, {src, dir.path("wm.bin"), out}).status, 0);
    const RunResult enc = shell(encodeCommand(out, dir.path("stamped.mp4")));
    ASSERT_EQ(enc.status, 0) << enc.err;
    expectClean(decodeAndVerify(dir.path("stamped.mp4"), dir.path("wm.bin")));
    expectClean(decodeAndVerify(dir.path("stamped.mp4"), dir.path("wm.bin"), true));
}

TEST_F(FfmpegChain, PayloadsSurviveX264ThroughNamedPipes)
{
#ifndef _WIN32
    const std::string src = dir.path("src.pipe"), out = dir.path("out.pipe");
    ASSERT_EQ(mkfifo(src.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    const RunResult chain =
        // A wmstamp that fails stops the ffmpeg processes, which would
        // otherwise wait on their pipes for ever.
        shell(kSource + shellQuote(src) + " & p1=$!; " +
              encodeCommand(out, dir.path("stamped.mp4")) + " & p2=$!; " + shellQuote(kStamp) +
              " " + shellQuote(src) + " " + shellQuote(dir.path("wm.bin")) + " " + shellQuote(out) +
              "; st=$?; [ $st -eq 0 ] || kill $p1 $p2 2>/dev/null; wait; exit $st");
    ASSERT_EQ(chain.status, 0) << chain.out << chain.err;
    EXPECT_NE(chain.out.find("wrote " + std::to_string(kFrames) + " frames\n"), std::string::npos);
    expectClean(decodeAndVerify(dir.path("stamped.mp4"), dir.path("wm.bin")));
#endif
}

TEST_F(FfmpegChain, DetailedSourceSurvivesX265WithTheProtectionRecipe)
{
    if (shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw libx265").status != 0)
        GTEST_SKIP() << "this ffmpeg is built without libx265";
    const std::string src = dir.path("src.yuv"), out = dir.path("stamped.yuv");
    ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                    "mandelbrot=size=1920x1080:rate=25 -frames:v " +
                    std::to_string(kFrames) + " -f rawvideo -pix_fmt yuv420p " + shellQuote(src))
                  .status,
              0);
    ASSERT_EQ(runTool(kStamp, {src, dir.path("wm.bin"), out}).status, 0);
    // The documented recipe: a lower quantizer on the band's macroblock row.
    const RunResult enc =
        shell("ffmpeg -nostdin -loglevel error -y" + kRaw + "-i " + shellQuote(out) + " " +
              kX265Recipe + " " + shellQuote(dir.path("stamped.mkv")));
    ASSERT_EQ(enc.status, 0) << enc.err;
    expectClean(decodeAndVerify(dir.path("stamped.mkv"), dir.path("wm.bin")));
}

// The README's band-only recipe must hand wmextract the stored samples:
// a conversion to full-range grey would move every level.
TEST_F(FfmpegChain, BandRecipePassesTheStoredSamples)
{
    const std::string recipe = documentedCommand("ffmpeg -i clip.mp4 -vf crop=");
    ASSERT_NE(recipe.find(" | wmextract --band "), std::string::npos) << recipe;
    const Bytes video = makeVideo(3, 0, 80), wm = makeRandomBytes(180, 81);
    const std::string src = dir.path("src.yuv"), out = dir.path("stamped.yuv");
    writeFile(src, video);
    writeFile(dir.path("wm.bin"), wm);
    ASSERT_EQ(runTool(kStamp, {src, dir.path("wm.bin"), out}).status, 0);
    // Losslessly coded, so any change to a sample is the recipe's.
    ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y" + kRaw + "-i " + shellQuote(out) +
                    " -c:v ffv1 " + shellQuote(dir.path("clip.mkv")))
                  .status,
              0);
    std::string decode = recipe.substr(0, recipe.find(" | "));
    decode.replace(decode.find("clip.mp4"), 8, shellQuote(dir.path("clip.mkv")));
    ASSERT_EQ(
        shell("ffmpeg -nostdin" + decode.substr(6) + " > " + shellQuote(dir.path("band"))).status,
        0);
    const Bytes stamped = readFile(out);
    Bytes bands;
    for (size_t f = 0; f < 3; ++f)
        bands.insert(bands.end(), stamped.begin() + static_cast<long>(f * 3110400),
                     stamped.begin() + static_cast<long>(f * 3110400 + 3840));
    EXPECT_EQ(readFile(dir.path("band")), bands);
}

// Timing filters drop, repeat and re-time frames; verification follows
// them by what each band says, names the records of the report and ends
// with status 4 when every payload is exact but the timing changed.
TEST_F(FfmpegChain, TimingFiltersAreFollowedByContent)
{
    const Bytes wm = makeRandomBytes(20 * 60, 82);
    writeFile(dir.path("wm20.bin"), wm);
    writeFile(dir.path("src.yuv"), makeVideo(20, 0, 83));
    ASSERT_EQ(
        runTool(kStamp, {dir.path("src.yuv"), dir.path("wm20.bin"), dir.path("st.yuv")}).status, 0);
    struct Case {
        const char* filter;
        const char* records;
        int status;
        const char* summary;
    };
    const std::string checked = "0 differ, 0 bit errors, smallest margin 36.50; records ";
    for (const Case& c : std::vector<Case>{
             {"select=not(eq(mod(n\\,7)\\,6)) -fps_mode passthrough",
              "0 1 2 3 4 5 7 8 9 10 11 12 14 15 16 17 18 19", 4,
              "checked 18 frames, @0-19: 18 matched, 2 missing, 0 repeated, 0 out of order"},
             {"fps=24", "0 1 2 3 4 5 6 7 8 9 10 11 13 14 15 16 17 18 19", 4,
              "checked 19 frames, @0-19: 19 matched, 1 missing, 0 repeated, 0 out of order"},
             {"fps=30", "0 1 2 2 3 4 5 6 7 7 8 9 10 11 12 12 13 14 15 16 17 17 18 19", 4,
              "checked 24 frames, @0-19: 20 matched, 0 missing, 4 repeated, 0 out of order"},
             {"trim=start_frame=3", "3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19", 0,
              "checked 17 frames, @3-19: 17 matched, 0 missing, 0 repeated, 0 out of order"},
             {"loop=loop=1:size=1:start=10 -fps_mode passthrough",
              "0 1 2 3 4 5 6 7 8 9 9 10 11 12 13 14 15 16 17 18 19", 4,
              "checked 21 frames, @0-19: 20 matched, 0 missing, 1 repeated, 0 out of order"}}) {
        const std::string filter = c.filter;
        const size_t option = filter.find(' ');
        const RunResult r = shell("ffmpeg -nostdin -loglevel error" + kRaw + "-i " +
                                  shellQuote(dir.path("st.yuv")) + " -vf '" +
                                  filter.substr(0, option) + ",crop=1920:2:0:0,extractplanes=y'" +
                                  (option == std::string::npos ? "" : filter.substr(option)) +
                                  " -f rawvideo - | " + shellQuote(kExtract) +
                                  " --band --force --report " + shellQuote(dir.path("report.csv")) +
                                  " --verify " + shellQuote(dir.path("wm20.bin")) + " -");
        EXPECT_EQ(r.status, c.status) << c.filter << "\n" << r.err;
        std::string summary = c.summary;
        summary.replace(summary.find('@'), 1, checked);
        EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), summary + "\n")
            << c.filter;
        // The report's record column, frame by frame.
        const Bytes csv = readFile(dir.path("report.csv"));
        std::string text(csv.begin(), csv.end()), records;
        for (size_t at = text.find('\n') + 1; at < text.size(); at = text.find('\n', at) + 1) {
            const size_t comma = text.find(',', at);
            records += (records.empty() ? "" : " ") +
                       text.substr(comma + 1, text.find(',', comma + 1) - comma - 1);
        }
        EXPECT_EQ(records, c.records) << c.filter;
    }
}

// Every streaming service scales its master into renditions, which are read
// at their own size: a 1080p stamp at 720p and 540p through libx264, as a
// YUV4MPEG2 stream (its size from the header) and as the band rows alone.
TEST_F(FfmpegChain, A1080pStampIsReadInItsRenditionsAtTheirOwnSize)
{
    const std::string src = dir.path("src.yuv"), out = dir.path("stamped.yuv");
    ASSERT_EQ(shell(kSource + shellQuote(src)).status, 0);
    ASSERT_EQ(runTool(kStamp, {src, dir.path("wm.bin"), out}).status, 0);
    for (const char* size : {"1280x720", "960x540"}) {
        const std::string mp4 = dir.path(std::string(size) + ".mp4");
        const std::string w = std::string(size).substr(0, std::string(size).find('x'));
        RunResult r = shell("ffmpeg -nostdin -loglevel error -y" + kRaw + "-i " + shellQuote(out) +
                            " -vf scale=" + std::string(size).replace(w.size(), 1, ":") +
                            ":flags=bicubic -c:v libx264 -preset medium -crf 23 " + shellQuote(mp4));
        ASSERT_EQ(r.status, 0) << r.err;
        r = shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(mp4) +
                  " -fps_mode passthrough -f yuv4mpegpipe - | " + shellQuote(kExtract) +
                  " --verify " + shellQuote(dir.path("wm.bin")) + " -");
        expectClean(r);
        r = shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(mp4) +
                  " -fps_mode passthrough -vf crop=iw:2:0:0,extractplanes=y -f rawvideo - | " +
                  shellQuote(kExtract) + " --band --size " + size + " --verify " +
                  shellQuote(dir.path("wm.bin")) + " -");
        expectClean(r);
    }
}

// A 4K stamp (four band rows) scaled to 1080p reads as a 1080p stamp does.
TEST_F(FfmpegChain, A4kStampIsReadAt1080p)
{
    const std::string y4m = dir.path("src.y4m"), out = dir.path("stamped.y4m");
    ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                    "testsrc2=size=3840x2160:rate=25,noise=alls=12:allf=t -frames:v 5 "
                    "-pix_fmt yuv420p -f yuv4mpegpipe " +
                    shellQuote(y4m))
                  .status,
              0);
    const RunResult stamped = runTool(kStamp, {y4m, dir.path("wm.bin"), out});
    ASSERT_EQ(stamped.status, 0) << stamped.out;
    RunResult r = shell("ffmpeg -nostdin -loglevel error -y -i " + shellQuote(out) +
                        " -vf scale=1920:1080:flags=bicubic -c:v libx264 -preset medium -crf 23 " +
                        shellQuote(dir.path("hd.mp4")));
    ASSERT_EQ(r.status, 0) << r.err;
    r = shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(dir.path("hd.mp4")) +
              " -f rawvideo -pix_fmt yuv420p - | " + shellQuote(kExtract) + " --verify " +
              shellQuote(dir.path("wm.bin")) + " -");
    expectClean(r, 5);
}

// 10-bit HDR masters: a 10-bit stamp converted to 8 bits by ffmpeg lands on
// the 8-bit levels exactly, and an 8-bit stamp converted to 10 bits reads as
// a 10-bit one.
TEST_F(FfmpegChain, TenBitStampsSurviveConversionsOfDepth)
{
    const std::string ten = dir.path("ten.y4m"), out = dir.path("stamped10.y4m");
    ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=25 "
                    "-frames:v 10 -pix_fmt yuv420p10le -strict -1 -f yuv4mpegpipe " +
                    shellQuote(ten))
                  .status,
              0);
    ASSERT_EQ(runTool(kStamp, {ten, dir.path("wm.bin"), out}).status, 0);
    const std::string tail = " 2>&1 | tail -1";
    RunResult r = shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(out) +
                        " -vf format=yuv420p -f yuv4mpegpipe - | " + shellQuote(kExtract) +
                        " --verify " + shellQuote(dir.path("wm.bin")) + " -" + tail);
    EXPECT_EQ(r.out, "checked 10 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-9: 10 matched, 0 missing, 0 repeated, 0 out of order\n");
    // And back: 8 bits to 10, read at 10 bits as raw frames.
    r = shell("ffmpeg -nostdin -loglevel error -i " + shellQuote(out) +
              " -vf format=yuv420p -f yuv4mpegpipe - | " + shellQuote(kStamp) + " - " +
              shellQuote(dir.path("wm.bin")) + " - 2>/dev/null | ffmpeg -nostdin -loglevel error "
              "-f yuv4mpegpipe -i - -vf format=yuv420p10le -f rawvideo - | " +
              shellQuote(kExtract) + " --size 1280x720 --format yuv420p10le --verify " +
              shellQuote(dir.path("wm.bin")) + " -" + tail);
    EXPECT_EQ(r.out, "checked 10 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-9: 10 matched, 0 missing, 0 repeated, 0 out of order\n");
}

// The recipes between ffmpeg processes, run as the recipes page prints
// them: the pipeline keeps the frame rate and the audio; the named-pipe one,
// typed at a terminal with job control, finishes, and ends on its own with a
// failure when its input is missing.
TEST_F(FfmpegChain, PipeRecipesRunAsPrinted)
{
#ifndef _WIN32
    if (shell("command -v script >/dev/null").status != 0)
        GTEST_SKIP() << "script (util-linux) is not installed";
    const std::string pipeline =
        documentedLines("set -o pipefail; ffmpeg -nostdin -loglevel error -i input.mp4",
                        "set -o pipefail;");
    const std::string named = documentedLines("mkfifo src.y4m out.y4m", "failed=0;");
    ASSERT_NE(pipeline, "");
    ASSERT_NE(named, "");
    const std::string cd = "cd " + shellQuote(dir.dir()) +
                           " && PATH=" + shellQuote(kStamp.substr(0, kStamp.rfind('/'))) +
                           ":$PATH && ";
    ASSERT_EQ(shell(cd +
                    "ffmpeg -nostdin -loglevel error -f lavfi -i "
                    "testsrc2=size=1920x1080:rate=30000/1001 -f lavfi -i sine -frames:v " +
                    std::to_string(kFrames) +
                    " -c:v libx264 -preset ultrafast -c:a aac -shortest input.mp4 && "
                    "cp wm.bin watermark.bin")
                  .status,
              0);
    RunResult r = runTool("/bin/bash", {"-c", cd + pipeline});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shell(cd + "ffprobe -v error -show_entries stream=codec_type,r_frame_rate -of "
                         "csv=p=0 stamped.mp4")
                  .out,
              "video,30000/1001\naudio,0/0\n");
    expectClean(decodeAndVerify(dir.path("stamped.mp4"), dir.path("wm.bin")));

    // Job control on a pseudo-terminal: a background job that read the
    // terminal would be stopped, and the test would time out.
    writeFile(dir.path("named.sh"), Bytes(named.begin(), named.end()));
    const std::string failing = "sed s/input.mp4/missing.mp4/ named.sh > failing.sh && ";
    for (const char* script : {"named.sh", "failing.sh"}) {
        shell(cd + "rm -f src.y4m out.y4m stamped.mp4");
        r = shell(cd + failing + "timeout 120 script -qec 'bash -c \"set -m; . ./" + script +
                  "; echo status \\$?\"' /dev/null");
        EXPECT_EQ(r.status, 0) << script << r.out;
        const bool works = std::string(script) == "named.sh";
        // The terminal ends each line with CR LF; the shell's status comes last.
        const std::string last = works ? "\nstatus 0\r\n" : "\nstatus 1\r\n";
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), last.size())), last)
            << script << r.out;
        if (works)
            expectClean(decodeAndVerify(dir.path("stamped.mp4"), dir.path("wm.bin")));
    }
#endif
}

// The 10-bit HDR recipe and the two ways of reading a rendition, as the
// recipes page prints them: a 10-bit master stamped, scaled to 540p at 8
// bits, read back exactly both ways (the page's watermark.bin is 8 of the
// test's records).
TEST_F(FfmpegChain, HdrAndRenditionRecipesRunAsPrinted)
{
    if (shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw libx265").status != 0)
        GTEST_SKIP() << "this ffmpeg is built without libx265";
    const std::string hdr =
        documentedLines("set -o pipefail; ffmpeg -nostdin -loglevel error -i hdr.mp4",
                        "set -o pipefail;");
    const std::string asY4m =
        documentedLines("ffmpeg -nostdin -loglevel error -i rendition.mp4 -pix_fmt", "ffmpeg");
    const std::string asBand =
        documentedLines("ffmpeg -nostdin -loglevel error -i rendition.mp4 -vf", "ffmpeg");
    ASSERT_NE(hdr, "");
    ASSERT_NE(asY4m, "");
    ASSERT_NE(asBand, "");
    const std::string cd = "cd " + shellQuote(dir.dir()) +
                           " && PATH=" + shellQuote(kStamp.substr(0, kStamp.rfind('/'))) +
                           ":$PATH && ";
    // A short 720p master keeps the 10-bit libx265 encodes quick.
    ASSERT_EQ(shell(cd + "ffmpeg -nostdin -loglevel error -f lavfi -i "
                         "testsrc2=size=1280x720:rate=25,noise=alls=8:allf=t -frames:v 8 "
                         "-pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -crf 18 "
                         "-x265-params log-level=error hdr.mp4 && head -c 480 wm.bin > "
                         "watermark.bin")
                  .status,
              0);
    RunResult r = runTool("/bin/bash", {"-c", cd + hdr});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(shell(cd + "ffmpeg -nostdin -loglevel error -i stamped-hdr.mp4 -vf "
                         "scale=960:540:flags=bicubic,format=yuv420p -c:v libx264 -crf 23 "
                         "rendition.mp4")
                  .status,
              0);
    expectClean(runTool("/bin/bash", {"-c", cd + asY4m}), 8);
    expectClean(runTool("/bin/bash", {"-c", cd + asBand}), 8);
}

// Through a drop and a frame-rate conversion and libx264, --pair gives each
// decoded frame its own source frame: PAIRED is the same timing filter
// applied to the stamped source without the encoder, and psnr's per-frame
// statistics on the decoded video and PAIRED are those on it and the true
// source frames, a line a frame of the report.
TEST_F(FfmpegChain, PairedFramesScoreEachDecodedFrameAgainstItsOwnSource)
{
    const std::string src = dir.path("src.yuv"), st = dir.path("st.yuv");
    ASSERT_EQ(shell(kSource + shellQuote(src)).status, 0);
    ASSERT_EQ(runTool(kStamp, {src, dir.path("wm.bin"), st}).status, 0);
    const auto psnr = [&](const std::string& video, const std::string& reference,
                          const std::string& stats) {
        const RunResult r = shell("ffmpeg -nostdin -loglevel error" + kRaw + "-i " +
                                  shellQuote(video) + kRaw + "-i " + shellQuote(reference) +
                                  " -lavfi psnr=stats_file=" + shellQuote(stats) + " -f null -");
        EXPECT_EQ(r.status, 0) << r.err;
        return readFile(stats);
    };
    for (const auto& [filter, frames] : std::vector<std::pair<std::string, long>>{
             {"select=not(eq(mod(n\\,7)\\,6)),setpts=N/25/TB", 22}, {"fps=30", 30}}) {
        const std::string truth = dir.path("truth.yuv"), video = dir.path("v.yuv");
        ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y" + kRaw + "-i " + shellQuote(st) +
                        " -vf '" + filter + "' -f rawvideo " + shellQuote(truth))
                      .status,
                  0);
        ASSERT_EQ(shell("ffmpeg -nostdin -loglevel error -y" + kRaw + "-i " + shellQuote(st) +
                        " -vf '" + filter +
                        "' -c:v libx264 -preset medium -crf 23 -f matroska - | ffmpeg -nostdin "
                        "-loglevel error -y -i - -fps_mode passthrough -f rawvideo " +
                        shellQuote(video))
                      .status,
                  0);
        const RunResult r =
            runTool(kExtract, {"--report", dir.path("r.csv"), "--force", "--pair", st,
                               dir.path("p.yuv"), "--verify", dir.path("wm.bin"), video});
        EXPECT_EQ(r.status, 4) << filter << "\n" << r.err;
        EXPECT_NE(r.err.find("; paired " + std::to_string(frames) + " frames, 0 by expectation\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(readFile(dir.path("p.yuv")), readFile(truth)) << filter;
        const Bytes paired = psnr(video, dir.path("p.yuv"), dir.path("paired.log"));
        EXPECT_EQ(paired, psnr(video, truth, dir.path("truth.log"))) << filter;
        const Bytes report = readFile(dir.path("r.csv"));
        EXPECT_EQ(std::count(paired.begin(), paired.end(), '\n'), frames);
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), frames + 1);
    }
}
