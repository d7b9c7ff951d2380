// Runs the built wmextract as a user would, on video stamped by wmstamp.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

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

// The bits in which record r of `data` differs from the nearest of its
// other records.
int nearestOther(const Bytes& data, int r)
{
    int nearest = 481;
    for (size_t k = 0; k < data.size() / 60; ++k) {
        int bits = 0;
        for (size_t i = 0; i < 60; ++i) {
            unsigned x = data[k * 60 + i] ^ data[static_cast<size_t>(r) * 60 + i];
            for (; x != 0; x &= x - 1)
                ++bits;
        }
        if (bits > 0)
            nearest = std::min(nearest, bits);
    }
    return nearest;
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
    EXPECT_EQ(r.err, console("checked 9 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-8: 9 matched, 0 missing, 0 repeated, 0 out of order\n"));

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
    EXPECT_EQ(r.err, console("checked 9 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-8: 9 matched, 0 missing, 0 repeated, 0 out of order\n"));
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
    // Frame 1, run 7, in row 0 only: two levels away in one of the two
    // rows puts the run's mean exactly on the neighbouring level. Frame 4,
    // run 3, 18 units away in row 1 only: read right, with the smallest
    // margin of the run.
    uint8_t* one = video.data() + 1 * kFrame + 7 * 8;
    std::fill_n(one, 8, static_cast<uint8_t>(one[0] < 125 ? one[0] + 146 : one[0] - 146));
    uint8_t* near = video.data() + 4 * kFrame + 1920 + 3 * 8;
    std::fill_n(near, 8, static_cast<uint8_t>(near[0] < 125 ? near[0] + 18 : near[0] - 18));
    writeFile(s.video, video);
    RunResult r = runTool(kExtract, {"--verify", s.wm, s.video});
    EXPECT_EQ(r.status, 3);
    // (27.59, not 27.50: the run pulls its level's mean, and so the
    // threshold, a little its way.)
    EXPECT_EQ(r.err, console("frame 1: record 1, 2 bit errors (margin 36.50)\n"
                             "frame 3: record 3, 1 bit error (margin 36.50)\n"
                             "checked 5 frames, 2 differ, 3 bit errors, smallest margin 27.59; "
                             "records 0-4: 5 matched, 0 missing, 0 repeated, 0 out of order\n"));
    // By position, as before frames were identified by content.
    r = runTool(kExtract, {"--by-position", "--verify", s.wm, s.video});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("frame 1: 2 bit errors (margin 36.50)\n"
                             "frame 3: 1 bit error (margin 36.50)\n"
                             "checked 5 frames, 2 differ, 3 bit errors, smallest margin 27.59\n"));
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
    EXPECT_EQ(r.err, console("wmextract: watermark data file \"" + s.wm +
                             "\" ran out after 2 whole records\n"
                             "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-2: 3 matched, 0 missing, 0 repeated, 0 out of order\n"));

    // Data that matches only its first two records names frame 2.
    Bytes other = s.data;
    other.resize(120);
    writeFile(dir.path("other.bin"), other);
    r = runTool(kExtract, {"--verify", dir.path("other.bin"), s.video});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("frame 2: "), std::string::npos) << r.err;
}

// --whole: a stamped file cut short, or DATA with more records than the
// frames showed, is not a pass.
TEST(Wmextract, WholeAsksForEveryRecordInStep)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 5, 300);
    // The README's line, as typed, in the folder of wm.bin and stamped.yuv.
    const std::string recipe = documentedCommand("wmextract --whole --verify");
    ASSERT_EQ(recipe, "wmextract --whole --verify wm.bin stamped.yuv");
#ifdef _WIN32
    RunResult r = runTool(kExtract, {"--whole", "--verify", s.wm, s.video});
#else
    const std::string bin = kExtract.substr(0, kExtract.rfind('/'));
    RunResult r =
        runTool("/bin/sh", {"-c", "cd " + shellQuote(dir.dir()) + " && PATH=" + shellQuote(bin) +
                                      ":\"$PATH\" " + recipe});
#endif
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("checked 5 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-4: 5 matched, 0 missing, 0 repeated, 0 out of order\n"));
    const Bytes video = readFile(s.video);
    writeFile(dir.path("cut.yuv"), Bytes(video.begin(), video.begin() + 3 * kFrame + 100));
    const std::string cutShort = "wmextract: ignored an incomplete last frame of 100 bytes\n"
                                 "wmextract: 2 records of \"" +
                                 s.wm + "\" were not used\n";
    const std::string summary = "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                                "records 0-2: 3 matched, 0 missing, 0 repeated, 0 out of order\n";
    r = runTool(kExtract, {"--verify", s.wm, dir.path("cut.yuv"), "--whole"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console(cutShort + "wmextract: not every record of \"" + s.wm +
                             "\" was shown in step (--whole)\n" + summary));
    // Without it, what the frames showed is in step.
    r = runTool(kExtract, {"--verify", s.wm, dir.path("cut.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console(cutShort + summary));
    // By position the same.
    r = runTool(kExtract, {"--whole", "--by-position", "--verify", s.wm, dir.path("cut.yuv")});
    EXPECT_EQ(r.status, 3);
#ifndef _WIN32
    // A DATA pipe is read to its end to count what the frames did not show.
    r = runTool("/bin/sh", {"-c", "cat " + shellQuote(s.wm) + " | " + shellQuote(kExtract) +
                                      " --whole --verify - " + shellQuote(dir.path("cut.yuv"))});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "wmextract: ignored an incomplete last frame of 100 bytes\n"
                     "wmextract: 2 records of \"-\" were not used\n"
                     "wmextract: not every record of \"-\" was shown in step (--whole)\n" +
                         summary);
#endif
}

// Data that is likely not what the user meant is said once, before the
// frames that it concerns.
TEST(Wmextract, DataThatIsLikelyNotWhatWasMeantIsSaidOnce)
{
    TempDir dir;
    writeFile(dir.path("src.yuv"), makeVideo(3, 0, 28));
    std::string lines;
    for (char c : {'a', 'b', 'c'})
        lines += std::string(60, c) + "\n";
    Bytes close = makeRandomBytes(180, 27);
    std::copy(close.begin() + 60, close.begin() + 120, close.begin() + 120);
    close[150] ^= 0x07;
    const std::string summary = "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50";
    const std::string timing = "; records 0-2: 3 matched, 0 missing, 0 repeated, 0 out of order";
    const auto data = [&](const std::string& name, const Bytes& bytes) {
        writeFile(dir.path(name), bytes);
        EXPECT_EQ(
            runTool(kStamp, {dir.path("src.yuv"), dir.path(name), dir.path(name + ".yuv")}).status,
            0);
        return dir.path(name);
    };
    const std::string empty = data("empty.bin", {});
    RunResult r = runTool(kExtract, {"--verify", empty, empty + ".yuv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("wmextract: watermark data file \"" + empty +
                             "\" is empty: every payload is zeros\n"
                             "wmextract: watermark data file \"" +
                             empty + "\" ran out after 0 whole records\n" + summary + "\n"));
    const std::string text = data("lines.txt", Bytes(lines.begin(), lines.end()));
    r = runTool(kExtract, {"--verify", text, text + ".yuv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("wmextract: watermark data file \"" + text +
                             "\" holds lines of 60 characters and a line end, but its records "
                             "are 60 bytes with no line end: every record after the first is "
                             "shifted by them\n"
                             "wmextract: 1 record of \"" +
                             text + "\" was not used\n" + summary + timing + "\n"));
    const std::string near = data("close.bin", close);
    const std::string notice = " differ in only 3 bits: heavy compression may show one for the "
                               "other (wmpack keeps records apart)\n";
    r = runTool(kExtract, {"--verify", near, near + ".yuv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("wmextract: records 1 and 2 of watermark data file \"" + near + "\"" +
                             notice + summary + timing + "\n"));
#ifndef _WIN32
    // From a pipe, said when the records are read.
    r = runTool("/bin/sh", {"-c", "cat " + shellQuote(near) + " | " + shellQuote(kExtract) +
                                      " --verify - " + shellQuote(near + ".yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "wmextract: records 1 and 2 of watermark data file \"-\"" + notice + summary +
                         timing + "\n");
#endif
    // Frame numbers packed are records far apart, however close the
    // numbers: nothing to say.
    std::string numbers;
    for (int f = 0; f < 3; ++f)
        numbers += ("frame " + std::to_string(f) + std::string(40, ' ')).substr(0, 40);
    writeFile(dir.path("numbers.txt"), Bytes(numbers.begin(), numbers.end()));
    ASSERT_EQ(runTool(kPack, {dir.path("numbers.txt"), dir.path("packed.bin")}).status, 0);
    data("packed.bin", readFile(dir.path("packed.bin")));
    r = runTool(kExtract,
                {"--fec", "40", "--verify", dir.path("numbers.txt"), dir.path("packed.bin.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console(summary + timing + "; 0 corrected, 0 uncorrectable\n"));
}

TEST(Wmextract, ExitStatuses)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 60);
    // A refusal is the reason, where there is more to say than the usage,
    // then the usage that --help prints.
    const RunResult help = runTool(kExtract, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(console("usage: wmextract [--band] [--fec K] [--force] [--report "
                                     "FILE] VIDEO PAYLOADS\n"),
                             0),
              0u);
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, ""},
             {{s.video}, ""},
             {{"--verify", s.wm}, ""},
             {{s.video, "a", "b"}, ""},
             {{"--bogus", s.video}, "unknown option --bogus"},
             {{"--force", "--verify", s.wm, s.video},
              "--force: with --verify only a report or PAIRED is written"},
             {{"--verify", s.wm, "--verify", s.wm, s.video}, "--verify is given twice"},
             {{"--fec", "10", "--verify", s.wm, s.video}, "--fec 10: K is 20 to 58"},
             {{"--fec", "40x", s.video, "p.bin"}, "--fec 40x: K is 20 to 58"},
             {{s.video, "p.bin", "--report"}, "--report needs a value (FILE)"},
             {{"--by-position", s.video, "p.bin"},
              "--by-position: only --verify compares frames with records"},
             {{"--whole", s.video, "p.bin"}, "--whole: only --verify checks the records of DATA"},
             {{"--version", s.video}, "--version stands alone"}}) {
        const RunResult r = runTool(kExtract, args);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (reason.empty() ? "" : console("wmextract: " + reason + "\n")) + help.out);
    }
    RunResult r;
#ifndef _WIN32
    // "--" ends the options: a file named like one can still be read.
    writeFile(dir.path("--band"), readFile(s.video));
    r = runTool("/bin/sh", {"-c", "cd " + shellQuote(dir.dir()) + " && " + shellQuote(kExtract) +
                                      " --verify wm.bin -- --band"});
    EXPECT_EQ(r.status, 0) << r.err;
#endif

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
              "wmextract: error writing payload file \"/dev/full\": No space left on device\n"
              "extracted 1 payload, smallest margin 36.50\n");

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
    EXPECT_EQ(r.err, "wmextract: cannot open payload file \"-\": it is the video itself\n");
    EXPECT_EQ(readFile(s.video), video);
#endif
}

TEST(Wmextract, SaysWhatVerificationLeftAside)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 7, 25 * 60 + 10);
    Bytes cut = readFile(s.video);
    cut.resize(5 * kFrame + 1000);
    writeFile(dir.path("cut.yuv"), cut);
    const RunResult r = runTool(kExtract, {"--verify", s.wm, dir.path("cut.yuv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("wmextract: ignored an incomplete last frame of 1000 bytes\n"
                             "wmextract: 21 records of \"" +
                             s.wm +
                             "\" were not used\n"
                             "checked 5 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-4: 5 matched, 0 missing, 0 repeated, 0 out of order\n"));

    // Data that may never end is not read to its end: nothing is said of
    // what the frames left unused.
    FeedPipe feed(dir);
    ToolProcess verifier(kExtract, {"--verify", feed.path(), dir.path("cut.yuv")});
    ASSERT_TRUE(feed.write(s.data));
    const RunResult endless = verifier.finish();
    EXPECT_EQ(endless.status, 0);
    EXPECT_EQ(endless.err,
              console("wmextract: ignored an incomplete last frame of 1000 bytes\n"
                      "checked 5 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                      "0-4: 5 matched, 0 missing, 0 repeated, 0 out of order\n"));
#ifndef _WIN32
    const RunResult zeros = runTool(kExtract, {"--verify", "/dev/zero", dir.path("cut.yuv")});
    EXPECT_EQ(zeros.status, 3);
#endif
}

TEST(Wmextract, AnExistingPayloadFileIsReplacedOnlyWhenForced)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 2, 120);
    // The verify command typed with the video first and no flag.
    const Bytes reference = makeRandomBytes(120, 44);
    writeFile(s.wm, reference);
    RunResult r = runTool(kExtract, {s.video, s.wm});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open payload file \"" + s.wm +
                             "\": it already holds data (--force replaces it)\n"));
    EXPECT_EQ(readFile(s.wm), reference);
    r = runTool(kExtract, {"--force", s.video, s.wm});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(s.wm), s.data);
    // An empty file is no data to lose.
    writeFile(dir.path("empty.bin"), {});
    r = runTool(kExtract, {s.video, dir.path("empty.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.path("empty.bin")), s.data);
}

TEST(Wmextract, StandardStreamsAsDataAndPayloads)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 60);
    // DATA from standard input.
    RunOptions fromData;
    fromData.input = s.wm;
    RunResult r = runTool(kExtract, {"--verify", "-", s.video}, fromData);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("checked 1 frame, 0 differ, 0 bit errors, smallest margin 36.50\n"));
    r = runTool(kExtract, {s.video, "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), s.data);
    EXPECT_EQ(r.err, console("extracted 1 payload, smallest margin 36.50\n"));
    RunOptions fromVideo;
    fromVideo.input = s.video;
    r = runTool(kExtract, {"--verify", "-", "-"}, fromVideo);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open watermark data file \"-\": standard input "
                             "is already the video\n"));
#ifndef _WIN32
    // Payloads for a standard output that was closed would vanish.
    r = runTool("/bin/sh", {"-c", shellQuote(kExtract) + " " + shellQuote(s.video) + " - >&-"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wmextract: cannot open payload file \"-\": standard output was closed\n");
#endif
}

TEST(Wmextract, AVideoPast4GiBIsReadWhereItsFramesAre)
{
    // 1400 frames, sparse but for the band of the last one, which lies past
    // 4 GiB: a 32-bit seek reads some other place.
    TempDir dir;
    const std::string video = dir.path("long.yuv");
    const Bytes payload = makeRandomBytes(60, 45);
    Bytes band(3840);
    encodeRecord(payload, band);
    const uint64_t last = 1399;
    {
        // Chroma row 0 neutral in every frame, as stamping leaves it.
        std::ofstream out(video, std::ios::binary);
        const std::string neutral(960, '\x80');
        for (uint64_t f = 0; f <= last; ++f)
            for (uint64_t plane : {1920ull * 1080, 1920ull * 1080 * 5 / 4}) {
                out.seekp(static_cast<std::streamoff>(f * kFrame + plane));
                out.write(neutral.data(), 960);
            }
        out.seekp(static_cast<std::streamoff>(last * kFrame));
        out.write(reinterpret_cast<const char*>(band.data()), 3840);
    }
    std::filesystem::resize_file(video, (last + 1) * kFrame);
    const RunResult r = runTool(kExtract, {video, dir.path("p.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("extracted 1400 payloads, smallest margin 36.50\n"));
    const Bytes payloads = readFile(dir.path("p.bin"));
    ASSERT_EQ(payloads.size(), 1400u * 60);
    EXPECT_EQ(Bytes(payloads.end() - 60, payloads.end()), payload);
    EXPECT_EQ(Bytes(payloads.end() - 120, payloads.end() - 60), Bytes(60, 0));
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
    EXPECT_EQ(r.err, console("checked 4 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-3: 4 matched, 0 missing, 0 repeated, 0 out of order\n"));
    r = runTool(kExtract, {"--band", dir.path("band.gray"), dir.path("p.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.path("p.bin")), s.data);
    // Read as whole frames, the same bytes are no video at all.
    r = runTool(kExtract, {"--verify", s.wm, dir.path("band.gray")});
    EXPECT_EQ(r.status, 3);
}

// The verify form looks at VIDEO before it reads DATA, and DATA that does
// not fit in memory ends with a status and a message, never an abort.
TEST(Wmextract, ALargeDataIsReadOnlyForAVideoAndWithinMemory)
{
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX only: an address-space limit";
#elif defined(WM_SANITIZED)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit allows";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 60);
    // 1 GiB of data, sparse: nothing on disk, 17,895,698 records.
    const std::string big = dir.path("big.bin");
    writeFile(big, {});
    std::filesystem::resize_file(big, 1ull << 30);
    RunOptions limited;
    limited.addressSpaceLimit = 256ul << 20;
    // The two swapped: the video is too short for a frame, and DATA is
    // never read.
    RunResult r = runTool(kExtract, {"--verify", big, s.wm}, limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "wmextract: ignored an incomplete last frame of 60 bytes\n"
                     "wmextract: no whole frame to verify in \"" +
                         s.wm + "\"\n");
    r = runTool(kExtract, {"--verify", big, s.video}, limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.err, "wmextract: cannot hold watermark data file \"" + big +
                         "\": not enough memory for its 17895698 records\n");
#endif
}

TEST(Wmextract, ClosedStandardStreamsAreNeverTakenForFiles)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: closed descriptors";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 2, 120);
    // A closed standard input reads as empty, never as the data file that
    // would otherwise take its number.
    writeFile(dir.path("big.bin"), makeRandomBytes(kFrame, 42));
    RunResult r = runTool("/bin/sh", {"-c", shellQuote(kExtract) + " --verify " +
                                                shellQuote(dir.path("big.bin")) + " - <&- 2>" +
                                                shellQuote(dir.path("err.txt"))});
    EXPECT_EQ(r.status, 3);
    const std::string message = "wmextract: no whole frame to verify in \"-\"\n";
    EXPECT_EQ(readFile(dir.path("err.txt")), Bytes(message.begin(), message.end()));
    RunOptions closed;
    closed.closeStandardStreams = true;
    r = runTool(kExtract, {s.video, dir.path("p.bin")}, closed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.path("p.bin")), s.data);
#endif
}

TEST(Wmextract, ANonBlockingPipeAsVideoIsWaitedFor)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: O_NONBLOCK";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 120);
    // A non-blocking pipe as standard input, with its data still to come.
    // DATA is a named pipe that the reader opens only once it has set up
    // its standard input: the open below returns then.
    FeedPipe feed(dir);
    const std::string data = dir.path("data.pipe");
    ASSERT_EQ(mkfifo(data.c_str(), 0600), 0);
    RunOptions nonBlocking;
    nonBlocking.input = feed.path();
    nonBlocking.nonBlockingInput = true;
    ToolProcess reader(kExtract, {"--by-position", "--verify", data, "-"}, nonBlocking);
    const int dataFd = open(data.c_str(), O_WRONLY);
    ASSERT_GE(dataFd, 0);
    ASSERT_EQ(write(dataFd, s.data.data(), s.data.size()), static_cast<ssize_t>(s.data.size()));
    close(dataFd);
    // Fed a piece at a time, each once the last is read, so that the reader
    // finds its pipe empty again and again; one that gave up on an empty
    // pipe fails the test.
    const Bytes frame = makeVideo(1, 0, 43);
    for (size_t at = 0; at < kFrame; at += 65536) {
        const auto begin = frame.begin() + static_cast<long>(at);
        ASSERT_TRUE(feed.write(
            Bytes(begin, begin + static_cast<long>(std::min<size_t>(65536, kFrame - at)))));
        ASSERT_TRUE(feed.waitUntilRead()) << "the reader stopped at byte " << at;
    }
    feed.close();
    const RunResult r = reader.finish();
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "frame 0: no band\n"
                     "wmextract: no watermark band found in \"-\"\n"
                     "checked 1 frame, 1 differ, 238 bit errors, smallest margin 0.08\n");
#endif
}

// A stop or a full file in the middle of a pass leaves whole payload
// records and whole report lines, and the summary of the frames checked;
// the report follows the frames as they are checked.
TEST(Wmextract, StopsAndFullFilesLeaveWholeRecordsLinesAndTheSummary)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: signals and file-size limits";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 3, 180);
    const Bytes video = readFile(s.video);
    const std::string payloads = dir.path("p.bin"), report = dir.path("r.csv");
    const std::string header = "frame,record,bit_errors,margin,next_bits,step,ambiguous\n";
    {
        // Two frames and half of the third: the reader waits for the rest.
        FeedPipe feed(dir);
        ToolProcess tool(kExtract, {"--report", report, feed.path(), payloads});
        ASSERT_TRUE(feed.write(Bytes(video.begin(), video.begin() + kFrame * 5 / 2)));
        ASSERT_TRUE(feed.waitUntilRead());
        const std::string lines = header + "0,,,36.50,,,\n1,,,36.50,,,\n";
        // Both frames' lines are in the report while the run goes on.
        EXPECT_EQ(readFile(report), Bytes(lines.begin(), lines.end()));
        tool.sendSignal(SIGINT);
        const RunResult r = tool.finish();
        EXPECT_EQ(r.signal, SIGINT);
        EXPECT_EQ(r.err, "wmextract: interrupted after 2 frames\n"
                         "extracted 2 payloads, smallest margin 36.50\n");
        EXPECT_EQ(readFile(payloads), Bytes(s.data.begin(), s.data.begin() + 120));
        EXPECT_EQ(readFile(report), Bytes(lines.begin(), lines.end()));
    }
    {
        // The verify form waiting on a DATA pipe for its second record.
        FeedPipe feed(dir);
        ToolProcess tool(kExtract,
                         {"--report", report, "--force", "--verify", feed.path(), s.video});
        ASSERT_TRUE(feed.write(Bytes(s.data.begin(), s.data.begin() + 60)));
        ASSERT_TRUE(feed.waitUntilRead());
        tool.sendSignal(SIGTERM);
        const RunResult r = tool.finish();
        EXPECT_EQ(r.signal, SIGTERM);
        EXPECT_EQ(r.err, "wmextract: interrupted after 1 frame\n"
                         "checked 1 frame, 0 differ, 0 bit errors, smallest margin 36.50; "
                         "records 0-0: 1 matched, 0 missing, 0 repeated, 0 out of order\n");
        // No other record is known yet: next_bits is past any distance.
        const std::string lines = header + "0,0,0,36.50,480,in step,0\n";
        EXPECT_EQ(readFile(report), Bytes(lines.begin(), lines.end()));
    }
    // A file that takes no more: a payload record and a report line that
    // went in part are taken out again, and the summary still comes.
    RunOptions limited;
    limited.fileSizeLimit = 100;
    RunResult r = runTool(kExtract, {"--force", s.video, payloads}, limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "wmextract: error writing payload file \"" + payloads +
                         "\": File too large\n"
                         "extracted 2 payloads, smallest margin 36.50\n");
    EXPECT_EQ(readFile(payloads), Bytes(s.data.begin(), s.data.begin() + 60));
    // The report of an unlimited run, cut after its first line, is what a
    // limited one keeps.
    r = runTool(kExtract, {"--report", dir.path("all.csv"), "--verify", s.wm, s.video});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes all = readFile(dir.path("all.csv"));
    const auto secondLine =
        std::find(all.begin() + static_cast<long>(header.size()), all.end(), '\n');
    ASSERT_NE(secondLine, all.end());
    r = runTool(kExtract, {"--report", report, "--force", "--verify", s.wm, s.video}, limited);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "wmextract: error writing report file \"" + report +
                         "\": File too large\n"
                         "checked 2 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                         "records 0-1: 2 matched, 0 missing, 0 repeated, 0 out of order\n");
    EXPECT_EQ(readFile(report), Bytes(all.begin(), secondLine + 1));
#endif
}

TEST(Wmextract, ProgressOnATerminalAndAPayloadWriteErrorAtOnce)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a pseudo-terminal, /dev/zero and /dev/full";
#else
    TempDir dir;
    const Stamped s = stampClip(dir, 21, 21 * 60);
    RunOptions terminal;
    terminal.terminalError = true;
    RunResult r = runTool(kExtract, {"--verify", s.wm, s.video}, terminal);
    EXPECT_EQ(r.status, 0);
    // The terminal turns each line feed into CR LF.
    EXPECT_EQ(r.err, "frame# 10        \rframe# 20        \r"
                     "checked 21 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-20: 21 matched, 0 missing, 0 repeated, 0 out of order\r\n");

    // An endless video: only stopping at the first failed write ends it,
    // and each payload is written as its frame is read. Its frames, black
    // with no colour, are no band.
    r = runTool(kExtract, {"/dev/zero", "/dev/full"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "frame 0: no band\n"
                     "wmextract: error writing payload file \"/dev/full\": No space left on "
                     "device\n"
                     "wmextract: no watermark band found in \"/dev/zero\"\n"
                     "extracted 1 payload, smallest margin 36.50\n");
#endif
}

// Frames stamped out of step with DATA: a drop, a repeat, a swap and a
// frame that carries no record of DATA; the messages, the report and the
// statuses of each case.
TEST(Wmextract, IdentifiesFramesByContentAndReportsEach)
{
    TempDir dir;
    const Bytes data = makeRandomBytes(8 * 60, 44);
    writeFile(dir.path("wm.bin"), data);
    Bytes shown;
    for (int r : {0, 2, 2, 4, 3, 5, -1, 7}) {
        const Bytes record = r < 0 ? makeRandomBytes(60, 45)
                                   : Bytes(data.begin() + r * 60, data.begin() + r * 60 + 60);
        shown.insert(shown.end(), record.begin(), record.end());
    }
    writeFile(dir.path("shown.bin"), shown);
    writeFile(dir.path("src.yuv"), makeVideo(8, 0, 46));
    ASSERT_EQ(
        runTool(kStamp, {dir.path("src.yuv"), dir.path("shown.bin"), dir.path("v.yuv")}).status, 0);
    RunResult r = runTool(kExtract, {"--report", dir.path("r.csv"), "--verify", dir.path("wm.bin"),
                                     dir.path("v.yuv")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("record 1 missing between frames 0 and 1\n"
                             "frame 2 repeats record 2\n"
                             "record 3 missing between frames 2 and 3\n"
                             "frame 4 is out of order: record 3 after record 4\n"
                             "frame 6: unidentified (nearest record 0 at 218 bits, next 234)\n"
                             "wmextract: 2 records of \"" +
                             dir.path("wm.bin") +
                             "\" were not used\n"
                             "checked 8 frames, 1 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-7: 6 matched, 1 missing, 1 repeated, 1 out of order\n"));
    const Bytes csv = readFile(dir.path("r.csv"));
    // A data file for programs: line feeds alone, on every platform. An
    // exact frame's next_bits is its record's distance to the nearest
    // other record of DATA, counted here on its own.
    const auto next = [&](int k) { return ",36.50," + std::to_string(nearestOther(data, k)); };
    EXPECT_EQ(std::string(csv.begin(), csv.end()),
              "frame,record,bit_errors,margin,next_bits,step,ambiguous\n"
              "0,0,0" +
                  next(0) +
                  ",in step,0\n"
                  "1,2,0" +
                  next(2) +
                  ",after missing,0\n"
                  "2,2,0" +
                  next(2) +
                  ",repeat,0\n"
                  "3,4,0" +
                  next(4) +
                  ",after missing,0\n"
                  "4,3,0" +
                  next(3) +
                  ",out of order,0\n"
                  "5,5,0" +
                  next(5) +
                  ",in step,0\n"
                  "6,,,36.50,234,unidentified,0\n"
                  "7,7,0" +
                  next(7) + ",in step,0\n");
    // The report is a file of the run's own: never over data unless forced.
    r = runTool(kExtract, {"--report", dir.path("wm.bin"), "--verify", dir.path("wm.bin"),
                           dir.path("v.yuv")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmextract: cannot open report file \"" + dir.path("wm.bin") +
                             "\": it is the watermark data file\n"));

    // Exact payloads with a timing change are status 4; in step, 0.
    writeFile(dir.path("shown.bin"), Bytes(data.begin(), data.begin() + 60 * 4));
    writeFile(dir.path("src.yuv"), makeVideo(5, 0, 47));
    ASSERT_EQ(
        runTool(kStamp, {dir.path("src.yuv"), dir.path("shown.bin"), dir.path("v.yuv")}).status, 0);
    r = runTool(kExtract, {"--verify", dir.path("wm.bin"), dir.path("v.yuv")});
    EXPECT_EQ(r.status, 4) << r.err;
    r = runTool(kExtract, {"--verify", dir.path("shown.bin"), dir.path("v.yuv")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = runTool(kExtract, {"--report", "-", dir.path("v.yuv"), dir.path("p.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("frame,record,bit_errors,margin,next_bits,step,ambiguous\n"
                                 "0,,,36.50,,,\n1,,,36.50,,,\n2,,,36.50,,,\n3,,,36.50,,,\n"
                                 "4,,,36.50,,,\n"));
}

// Video stamped with the records of `data` in the order `order`.
std::string stampInOrder(const TempDir& dir, const Bytes& data, const std::vector<int>& order,
                         const std::string& name)
{
    Bytes shown;
    for (int r : order)
        shown.insert(shown.end(), data.begin() + r * 60, data.begin() + r * 60 + 60);
    writeFile(dir.path("shown.bin"), shown);
    writeFile(dir.path("src.yuv"), makeVideo(static_cast<int>(order.size()), 0, 48));
    EXPECT_EQ(runTool(kStamp, {dir.path("src.yuv"), dir.path("shown.bin"), dir.path(name)}).status,
              0);
    return dir.path(name);
}

// Two frames swapped, and nothing else, is a change of timing; a record
// whose content stands elsewhere in DATA is marked in the report.
TEST(Wmextract, ASwapAloneAndRepeatedContentAreSaid)
{
    TempDir dir;
    const Bytes data = makeRandomBytes(4 * 60, 49);
    writeFile(dir.path("wm.bin"), data);
    const std::string swapped = stampInOrder(dir, data, {0, 2, 1, 3}, "swapped.yuv");
    RunResult r = runTool(kExtract, {"--verify", dir.path("wm.bin"), swapped});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, console("record 1 missing between frames 0 and 1\n"
                             "frame 2 is out of order: record 1 after record 2\n"
                             "checked 4 frames, 0 differ, 0 bit errors, smallest margin 36.50; "
                             "records 0-3: 4 matched, 0 missing, 0 repeated, 1 out of order\n"));

    // Record 3 carries record 1's content: the order tells the two apart.
    Bytes repeating = data;
    std::copy(data.begin() + 60, data.begin() + 120, repeating.begin() + 180);
    writeFile(dir.path("repeating.bin"), repeating);
    const std::string video = stampInOrder(dir, repeating, {0, 1, 2, 3}, "repeating.yuv");
    r = runTool(kExtract, {"--report", "-", "--verify", dir.path("repeating.bin"), video});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto line = [&](int frame, bool ambiguous) {
        return std::to_string(frame) + "," + std::to_string(frame) + ",0,36.50," +
               std::to_string(nearestOther(repeating, frame)) + ",in step," +
               (ambiguous ? "1" : "0") + "\n";
    };
    EXPECT_EQ(r.out, "frame,record,bit_errors,margin,next_bits,step,ambiguous\n" + line(0, false) +
                         line(1, true) + line(2, false) + line(3, true));
}

// A video read the wrong way, or one never stamped, is said to carry no
// band rather than read as payloads.
TEST(Wmextract, FramesWithoutABandAreNamed)
{
    TempDir dir;
    const Stamped s = stampClip(dir, 1, 60);
    // The band file of 810 frames, read as one whole frame: its chroma rows
    // are band data, not neutral.
    const Bytes stamped = readFile(s.video);
    Bytes bands;
    for (int i = 0; i < 810; ++i)
        bands.insert(bands.end(), stamped.begin(), stamped.begin() + 3840);
    writeFile(dir.path("bands.gray"), bands);
    RunResult r = runTool(kExtract, {dir.path("bands.gray"), dir.path("p.bin")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              console("frame 0: no band\nwmextract: no watermark band found in \"" +
                      dir.path("bands.gray") + "\"\nextracted 1 payload, smallest margin 36.50\n"));
    // A whole frame read as bands: only its first band is one.
    r = runTool(kExtract, {"--band", s.video, dir.path("q.bin")});
    EXPECT_EQ(r.status, 0);
    std::string expected;
    for (int band = 1; band < 810; ++band)
        expected += "frame " + std::to_string(band) + ": no band\n";
    EXPECT_EQ(r.err, console(expected + "extracted 810 payloads, smallest margin 0.00\n"));
    // The source before stamping.
    r = runTool(kExtract, {"--verify", s.wm, s.src});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(
        r.err.substr(0, r.err.find("checked")),
        console("frame 0: no band\nwmextract: no watermark band found in \"" + s.src + "\"\n"));
}
