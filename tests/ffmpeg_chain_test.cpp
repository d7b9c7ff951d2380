// The watermark through the encoder users put between stamping and reading:
// ffmpeg makes a noisy 1080p clip, wmstamp stamps it, libx264 encodes it,
// ffmpeg decodes it, and wmextract must read every payload back.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

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

void expectClean(const RunResult& r)
{
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("checked " + std::to_string(kFrames) + " frames, 0 differ, 0 bit errors"),
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
        shell(kSource + shellQuote(src) + " & " + encodeCommand(out, dir.path("stamped.mp4")) +
              " & " + shellQuote(kStamp) + " " + shellQuote(src) + " " +
              shellQuote(dir.path("wm.bin")) + " " + shellQuote(out) + "; st=$?; wait; exit $st");
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
