// Runs the built wmextract as a user would, on video stamped by wmstamp.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <thread>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;

// A stamped clip and the data it was stamped with.
struct Stamped {
    std::string src, wm, video;
    Bytes data;
};

Stamped stampClip(const TempDir& dir, int frames, size_t dataBytes, size_t extra = 0)
{
    Stamped s{dir.path("src.yuv"), dir.path("wm.bin"), dir.path("stamped.yuv"),
              makeRandomBytes(dataBytes, 40)};
    writeFile(s.src, makeVideo(frames, extra, 41));
    writeFile(s.wm, s.data);
    EXPECT_EQ(runTool(kStamp, {s.src, s.wm, s.video}).status, 0);
    return s;
}

} // namespace

TEST(Wmextract, PayloadsComeBackByteForByteThroughFilesAndPipes)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 9, 9 * 60, 500);
    RunResult r = runTool(kExtract, {s.video, dir.path("payloads.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, console("extracted 9 payloads, smallest margin 36.50\n"));
    EXPECT_EQ(readFile(dir.path("payloads.bin")), s.data);

    r = runTool(kExtract, {"--verify", s.wm, s.video});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("checked 9 frames, 0 differ, 0 bit errors, smallest margin 36.50\n"));

#ifndef _WIN32 // the shell pipelines and FIFOs below are POSIX
    // Standard input and standard output, at the end of a pipe.
    r = runTool("/bin/sh",
                {"-c", "cat " + shellQuote(s.video) + " | " + shellQuote(kExtract) + " - -"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), s.data);

    // A named pipe as the video.
    const std::string pipe = dir.path("video.pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    r = runTool("/bin/sh", {"-c", "cat " + shellQuote(s.video) + " > " + shellQuote(pipe) + " & " +
                                      shellQuote(kExtract) + " --verify " + shellQuote(s.wm) + " " +
                                      shellQuote(pipe) + "; st=$?; wait; exit $st"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("checked 9 frames, 0 differ, 0 bit errors, smallest margin 36.50\n"));
#endif
}

TEST(Wmextract, ADamagedRunIsFoundAndItsFrameNamed)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 5, 5 * 60);
    Bytes video = readFile(s.video);
    // Frame 3, run 100 in both rows: move it to the level two steps away,
    // which changes both bits of the symbol.
    for (size_t row = 0; row < 2; ++row) {
        uint8_t* run = video.data() + 3 * kFrame + row * 1920 + 100 * 8;
        const uint8_t level = run[0] < 125 ? 235 : 16;
        std::fill_n(run, 8, level);
    }
    writeFile(s.video, video);
    const RunResult r = runTool(kExtract, {"--verify", s.wm, s.video});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("frame 3: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("frame 2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("checked 5 frames, 1 differ, "), std::string::npos) << r.err;
}

TEST(Wmextract, UnstampedVideoAndOtherDataFailVerification)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 3, 130);
    RunResult r = runTool(kExtract, {"--verify", s.wm, s.src});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("checked 3 frames, 3 differ, "), std::string::npos) << r.err;

    // The same data, running out the way wmstamp handles it, verifies.
    r = runTool(kExtract, {"--verify", s.wm, s.video});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("Watermark data file \"" + s.wm +
                             "\" ran out after 2 whole records\n"
                             "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50\n"));

    // Data that matches only its first two records names frame 2.
    Bytes other = s.data;
    other.resize(120);
    writeFile(dir.path("other.bin"), other);
    r = runTool(kExtract, {"--verify", dir.path("other.bin"), s.video});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("frame 2: "), std::string::npos) << r.err;
}

TEST(Wmextract, ExitStatuses)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 60);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {s.video}, {"--verify", s.wm}, {"--bogus", s.video}, {s.video, "a", "b"}}) {
        const RunResult r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(console("usage: wmextract [--band] VIDEO PAYLOADS\n"), 0), 0u);
    }
    RunResult r = runTool(kExtract, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(console("usage: wmextract [--band] VIDEO PAYLOADS\n"), 0), 0u);

    const std::string out = dir.path("payloads.bin");
    r = runTool(kExtract, {dir.path("missing.yuv"), out});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open video file \"" + dir.path("missing.yuv") +
                             "\": No such file or directory\n"));
    EXPECT_FALSE(fileExists(out));
    r = runTool(kExtract, {"--verify", dir.path("missing.bin"), s.video});
    EXPECT_EQ(r.status, 2);
    r = runTool(kExtract, {s.video, dir.dir()});
    EXPECT_EQ(r.status, 2);
    // The video is never overwritten by its own payloads.
    const Bytes before = readFile(s.video);
    r = runTool(kExtract, {s.video, s.video});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(readFile(s.video), before);

#ifndef _WIN32 // /proc/self/mem and /dev/full
    r = runTool(kExtract, {"/proc/self/mem", out});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(
        r.err,
        console("wmextract: error reading video file \"/proc/self/mem\": Input/output error\n"));
    r = runTool(kExtract, {s.video, "/dev/full"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err,
              "wmextract: error writing payload file \"/dev/full\": No space left on device\n");

#endif
    // Nothing to verify is not a pass.
    writeFile(dir.path("empty.yuv"), Bytes(kFrame - 1, 0));
    r = runTool(kExtract, {"--verify", s.wm, dir.path("empty.yuv")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 3110399 bytes\n"
                             "wmextract: no whole frame to verify in \"" +
                             dir.path("empty.yuv") + "\"\n"));
}

TEST(Wmextract, AFormMistakenForTheOtherLeavesTheVideoAlone)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 2, 120);
    const Bytes video = readFile(s.video);
    // The verify command without its flag names the video as PAYLOADS.
    RunResult r = runTool(kExtract, {s.wm, s.video});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 120 bytes\n"
                             "wmextract: no whole frame to extract in \"" +
                             s.wm + "\"\n"));
    EXPECT_EQ(readFile(s.video), video);
    r = runTool(kExtract, {s.wm, dir.path("new.bin")});
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(fileExists(dir.path("new.bin")));
#ifndef _WIN32
    // Standard output opened read-write on the video itself.
    r = runTool("/bin/sh", {"-c", shellQuote(kExtract) + " " + shellQuote(s.video) + " - 1<>" +
                                      shellQuote(s.video)});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wmextract: cannot open payload file \"-\": Device or resource busy\n");
    EXPECT_EQ(readFile(s.video), video);
#endif
}

TEST(Wmextract, SaysWhatVerificationLeftAside)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 7, 25 * 60);
    Bytes cut = readFile(s.video);
    cut.resize(5 * kFrame + 1000);
    writeFile(dir.path("cut.yuv"), cut);
    const RunResult r = runTool(kExtract, {"--verify", s.wm, dir.path("cut.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 1000 bytes\n"
                             "wmextract: 20 records of \"" +
                             s.wm +
                             "\" were not used\n"
                             "checked 5 frames, 0 differ, 0 bit errors, smallest margin 36.50\n"));
}

TEST(Wmextract, SeekingOverFramesReadsWhatReadingThroughReads)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a pipe from cat";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 3, 3 * 60);
    Bytes video = readFile(s.video);
    for (size_t extra : {size_t{0}, size_t{5000}}) {
        video.resize(3 * kFrame + extra, 7);
        writeFile(s.video, video);
        const RunResult seek = runTool(kExtract, {s.video, "-"});
        const RunResult piped = runTool("/bin/sh", {"-c", "cat " + shellQuote(s.video) + " | " +
                                                              shellQuote(kExtract) + " - -"});
        EXPECT_EQ(seek.status, 0);
        EXPECT_EQ(Bytes(seek.out.begin(), seek.out.end()), s.data);
        EXPECT_EQ(seek.out, piped.out) << extra;
        EXPECT_EQ(seek.err, piped.err) << extra;
    }
#endif
}

TEST(Wmextract, BandOnlyInputReadsBack)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 4, 4 * 60);
    const Bytes video = readFile(s.video);
    Bytes band;
    for (size_t n = 0; n < 4; ++n)
        band.insert(band.end(), video.begin() + static_cast<long>(n * kFrame),
                    video.begin() + static_cast<long>(n * kFrame + 3840));
    writeFile(dir.path("band.gray"), band);
    RunResult r = runTool(kExtract, {"--band", "--verify", s.wm, dir.path("band.gray")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("checked 4 frames, 0 differ, 0 bit errors, smallest margin 36.50\n"));
    r = runTool(kExtract, {"--band", dir.path("band.gray"), dir.path("p.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.path("p.bin")), s.data);
    // Read as whole frames, the same bytes are no video at all.
    r = runTool(kExtract, {"--verify", s.wm, dir.path("band.gray")});
    EXPECT_EQ(r.status, 3);
}

TEST(Wmextract, UnfriendlyStartsAndLimits)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: descriptors, O_NONBLOCK and file-size limits";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 2, 120);
    // A closed standard input reads as empty, never as the data file that
    // would otherwise take its number.
    writeFile(dir.path("big.bin"), makeRandomBytes(kFrame, 42));
    RunOptions closed;
    closed.closeStandardStreams = true;
    RunResult r = runTool("/bin/sh", {"-c", shellQuote(kExtract) + " --verify " +
                                                shellQuote(dir.path("big.bin")) + " - <&- 2>" +
                                                shellQuote(dir.path("err.txt"))});
    EXPECT_EQ(r.status, 3);
    const std::string message = "wmextract: no whole frame to verify in \"-\"\n";
    EXPECT_EQ(readFile(dir.path("err.txt")), Bytes(message.begin(), message.end()));
    r = runTool(kExtract, {s.video, dir.path("p.bin")}, closed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.path("p.bin")), s.data);

    // A non-blocking pipe as standard input, with its data still to come.
    FeedPipe feed(dir);
    RunOptions nonBlocking;
    nonBlocking.input = feed.path();
    nonBlocking.nonBlockingInput = true;
    ToolProcess reader(kExtract, {"--verify", s.wm, "-"}, nonBlocking);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Fed a piece at a time, so that a reader that gave up fails the test
    // instead of leaving it blocked on a full pipe.
    const Bytes frame = makeVideo(1, 0, 43);
    for (size_t at = 0; at < kFrame; at += 65536) {
        const auto begin = frame.begin() + static_cast<long>(at);
        ASSERT_TRUE(feed.write(
            Bytes(begin, begin + static_cast<long>(std::min<size_t>(65536, kFrame - at)))));
        ASSERT_TRUE(feed.waitUntilRead()) << "the reader stopped at byte " << at;
    }
    feed.close();
    r = reader.finish();
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("checked 1 frames, 1 differ"), std::string::npos) << r.err;

    // The payloads fit the stream's buffer, so only the close can fail.
    RunOptions limited;
    limited.fileSizeLimit = 100;
    r = runTool(kExtract, {s.video, dir.path("p2.bin")}, limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "wmextract: error writing payload file \"" + dir.path("p2.bin") +
                         "\": File too large\n");
#endif
}
