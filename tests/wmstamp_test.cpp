// Runs the built wmstamp as a user would: arguments, files, named pipes,
// exit status, exact standard output and output bytes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;
// wmstamp tells what its source is from its first bytes (eight MPEG-TS
// packets' worth) before it opens the watermark data and the output.
constexpr size_t kTellingBytes = 8 * 188;

std::string finished(int frames)
{
    return "Reached end of input file\nwrote " + std::to_string(frames) + " frames\n";
}

RunResult stamp(const std::string& src, const std::string& wm, const std::string& out)
{
    return runTool(kStamp, {src, wm, out});
}

// The line on standard error that says why a file could not be used.
std::string why(const std::string& name, const std::string& reason)
{
    return console("wmstamp: \"" + name + "\": " + reason + "\n");
}

#ifdef _WIN32
const std::string kDirectoryReason = "Permission denied";
#else
const std::string kDirectoryReason = "Is a directory";
#endif

} // namespace

TEST(Wmstamp, WrongArgumentCountPrintsUsage)
{
    TempDir dir;
    const RunResult none = runTool(kStamp, {});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, console(kBanner + kUsage));

    writeFile(dir.path("src.yuv"), makeVideo(1, 0, 1));
    writeFile(dir.path("wm.bin"), Bytes(60, 1));
    const RunResult four = runTool(kStamp, {dir.path("src.yuv"), dir.path("wm.bin"),
                                            dir.path("out.yuv"), dir.path("more.yuv")});
    EXPECT_EQ(four.status, 1);
    EXPECT_EQ(four.out, console(kBanner + kUsage));
    EXPECT_FALSE(fileExists(dir.path("out.yuv")));
    EXPECT_FALSE(fileExists(dir.path("more.yuv")));

    // An option it does not know is a usage error that says which.
    const RunResult bogus =
        runTool(kStamp, {"--bogus", dir.path("src.yuv"), dir.path("wm.bin"), dir.path("out.yuv")});
    EXPECT_EQ(bogus.status, 1);
    EXPECT_EQ(bogus.out, console(kBanner + kUsage));
    EXPECT_EQ(bogus.err, console("wmstamp: unknown option --bogus\n"));
    EXPECT_FALSE(fileExists(dir.path("out.yuv")));
    // --help and --version answer on standard output, after the banner.
    const RunResult help = runTool(kStamp, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(console(kBanner + kUsage + "Usage: wmstamp [OPTIONS] SOURCE"), 0), 0u);
    EXPECT_EQ(help.err, "");
    const RunResult version = runTool(kStamp, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(console(kBanner + "wmstamp 1."), 0), 0u);
    // "--" ends the options.
    const RunResult dashes =
        runTool(kStamp, {"--", dir.path("src.yuv"), dir.path("wm.bin"), dir.path("out.yuv")});
    EXPECT_EQ(dashes.status, 0);
    EXPECT_EQ(checkStampedVideo(makeVideo(1, 0, 1), Bytes(60, 1), readFile(dir.path("out.yuv"))),
              "");
}

TEST(Wmstamp, InputsThatCannotBeOpenedLeaveTheOutputAlone)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    writeFile(src, makeVideo(1, 0, 2));
    writeFile(wm, Bytes(60, 7));

    RunResult r = stamp(dir.path("missing.yuv"), wm, out);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              console(kBanner + "Input file \"" + dir.path("missing.yuv") + "\" not found\n"));
    EXPECT_EQ(r.err, why(dir.path("missing.yuv"), "No such file or directory"));
    EXPECT_FALSE(fileExists(out));

    r = stamp(src, dir.path("missing.bin"), out);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, console(kBanner + "Watermark data file \"" + dir.path("missing.bin") +
                             "\" not found\n"));
    EXPECT_FALSE(fileExists(out));

    // Directories are opening failures too, before the output is touched.
    const Bytes keep = makeRandomBytes(1000, 3);
    writeFile(out, keep);
    r = stamp(dir.dir(), wm, out);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, console(kBanner + "Input file \"" + dir.dir() + "\" not found\n"));
    EXPECT_EQ(r.err, why(dir.dir(), kDirectoryReason));
    r = stamp(src, dir.dir(), out);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, why(dir.dir(), kDirectoryReason));
    EXPECT_EQ(readFile(out), keep);
}

TEST(Wmstamp, OutputThatCannotBeOpenedHasNoLineEnd)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin");
    writeFile(src, makeVideo(1, 0, 4));
    writeFile(wm, Bytes(60, 7));
    for (const auto& [out, reason] : std::vector<std::pair<std::string, std::string>>{
             {dir.path("no/such/dir/out.yuv"), "No such file or directory"},
             {dir.dir(), kDirectoryReason}}) {
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 4) << out;
        EXPECT_EQ(r.out,
                  console(kBanner + "Output file \"" + out + "\" cannot be opened for writing"));
        EXPECT_EQ(r.err, why(out, reason));
    }
}

TEST(Wmstamp, OutputThatIsAnInputByAnyPathIsRefused)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin");
    const Bytes video = makeVideo(2, 0, 5);
    const Bytes data = makeRandomBytes(120, 6);
    writeFile(src, video);
    writeFile(wm, data);
    std::vector<std::string> spellings = {src, dir.dir() + "/./src.yuv", wm};
#ifdef _WIN32
    std::string backslashed = src;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    spellings.push_back(backslashed);
    spellings.push_back(dir.path("SRC.YUV"));
#else
    ASSERT_EQ(symlink(src.c_str(), dir.path("link.yuv").c_str()), 0);
    ASSERT_EQ(link(src.c_str(), dir.path("hard.yuv").c_str()), 0);
    ASSERT_EQ(symlink(wm.c_str(), dir.path("wmlink.bin").c_str()), 0);
    spellings.insert(spellings.end(),
                     {dir.path("link.yuv"), dir.path("hard.yuv"), dir.path("wmlink.bin")});
#endif
    for (const std::string& out : spellings) {
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 4) << out;
        EXPECT_EQ(r.out,
                  console(kBanner + "Output file \"" + out + "\" cannot be opened for writing"));
        const bool isData = out.find(".bin") != std::string::npos;
        EXPECT_EQ(r.err,
                  why(out, isData ? "it is the watermark data file" : "it is the source video"));
    }
    EXPECT_EQ(readFile(src), video);
    EXPECT_EQ(readFile(wm), data);
}

// DATA and OUTPUT swapped: an existing output that holds no whole frames is
// the watermark data in the wrong place, and is kept unless --force.
TEST(Wmstamp, AnOutputThatCannotBeAVideoIsRefusedUnlessForced)
{
    TempDir dir;
    const std::string src = dir.path("clip.yuv"), stamped = dir.path("stamped.yuv");
    const Bytes video = makeVideo(2, 0, 60);
    writeFile(src, video);
    writeFile(stamped, makeVideo(2, 0, 61));
    for (const auto& [size, reason] : std::vector<std::pair<size_t, std::string>>{
             {360, "it holds less than a frame"},
             {kFrame + 100, "it holds no whole number of frames"}}) {
        const std::string wm = dir.path("wm" + std::to_string(size));
        const Bytes data = makeRandomBytes(size, 62);
        writeFile(wm, data);
        RunResult r = stamp(src, stamped, wm);
        EXPECT_EQ(r.status, 4) << size;
        EXPECT_EQ(r.out,
                  console(kBanner + "Output file \"" + wm + "\" cannot be opened for writing"));
        EXPECT_EQ(r.err, why(wm, reason + ": is it the watermark data? (--force replaces it)"));
        EXPECT_EQ(readFile(wm), data);
        r = runTool(kStamp, {"--force", src, stamped, wm});
        EXPECT_EQ(r.status, 0) << size;
        EXPECT_EQ(readFile(wm).size(), 2 * kFrame);
    }
}

TEST(Wmstamp, CharacterDevicesServeAsAnyFile)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv");
    writeFile(src, makeVideo(1, 0, 7));
    const std::string null = nullDevice();
    RunResult r = stamp(null, null, null);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + finished(0)));

    r = stamp(src, null, null);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + "Watermark data file \"" + null +
                             "\" ran out after 0 whole records\n" + finished(1)));
}

TEST(Wmstamp, SourcesWithoutAWholeFrameGiveAnEmptyOutput)
{
    TempDir dir;
    const std::string wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    writeFile(wm, Bytes(600, 9));
    for (size_t size : {size_t{0}, kFrame - 1}) {
        const std::string src = dir.path("src" + std::to_string(size));
        writeFile(src, makeVideo(0, size, 8));
        writeFile(out, makeVideo(2, 0, 9)); // an old video is emptied
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, console(kBanner + finished(0)));
        EXPECT_TRUE(readFile(out).empty());
    }
}

TEST(Wmstamp, NineFramesShowNoProgress)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    const Bytes video = makeVideo(9, 0, 10);
    const Bytes data = makeRandomBytes(9 * 60, 11);
    writeFile(src, video);
    writeFile(wm, data);
    writeFile(out, makeVideo(12, 0, 12)); // longer than the new output
    const RunResult r = stamp(src, wm, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + finished(9)));
    EXPECT_EQ(checkStampedVideo(video, data, readFile(out)), "");
}

TEST(Wmstamp, TwentyFiveFramesAndATrailingPartialFrame)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    const Bytes video = makeVideo(25, 1000, 13);
    Bytes data = makeRandomBytes(1530, 14);
    data[0] = '\n'; // every byte is payload, line ends included
    data[61] = '\r';
    writeFile(src, video);
    writeFile(wm, data);
    const RunResult r = stamp(src, wm, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + "frame# 10        \rframe# 20        \r" + finished(25)));
    EXPECT_EQ(r.err, console("wmstamp: ignored an incomplete last frame of 1000 bytes\n"));
    EXPECT_EQ(checkStampedVideo(video, data, readFile(out)), "");
}

TEST(Wmstamp, WatermarkDataThatRunsOutKeepsTheLastPayload)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), out = dir.path("out.yuv");
    const Bytes video = makeVideo(4, 0, 15);
    writeFile(src, video);
    // A short last record, an exact end, and no data at all.
    for (size_t size : {size_t{130}, size_t{120}, size_t{0}}) {
        const std::string wm = dir.path("wm" + std::to_string(size));
        const Bytes data = makeRandomBytes(size, 16);
        writeFile(wm, data);
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, console(kBanner + "Watermark data file \"" + wm + "\" ran out after " +
                                 std::to_string(size / 60) + " whole records\n" + finished(4)));
        EXPECT_EQ(checkStampedVideo(video, data, readFile(out)), "") << size << " bytes";
    }
}

// Data that is likely not what the user meant is said once, on a line of
// its own on standard error; the console text stays as it always was.
TEST(Wmstamp, DataThatIsLikelyNotWhatWasMeantIsSaidOnce)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), out = dir.path("out.yuv");
    const Bytes video = makeVideo(3, 0, 26);
    writeFile(src, video);
    // Three text lines of 60 characters and a newline.
    std::string lines;
    for (char c : {'a', 'b', 'c'})
        lines += std::string(60, c) + "\n";
    // Record 2 three bits from record 1, the rest far apart.
    Bytes close = makeRandomBytes(180, 27);
    std::copy(close.begin() + 60, close.begin() + 120, close.begin() + 120);
    close[150] ^= 0x07;
    for (const auto& [data, notice] : std::vector<std::pair<Bytes, std::string>>{
             {{}, "is empty: every payload is zeros"},
             {Bytes(lines.begin(), lines.end()),
              "holds lines of 60 characters and a line end, but its records are 60 bytes with "
              "no line end: every record after the first is shifted by them"},
             {close, ""}}) {
        const std::string wm = dir.path("wm" + std::to_string(data.size()));
        writeFile(wm, data);
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 0);
        // Only the empty one runs out within three frames.
        const std::string ranOut =
            data.empty() ? "Watermark data file \"" + wm + "\" ran out after 0 whole records\n"
                         : "";
        EXPECT_EQ(r.out, console(kBanner + ranOut + finished(3)));
        EXPECT_EQ(r.err,
                  console(notice.empty()
                              ? "wmstamp: records 1 and 2 of watermark data file \"" + wm +
                                    "\" differ in only 3 bits: heavy compression may show "
                                    "one for the other (wmpack keeps records apart)\n"
                              : "wmstamp: watermark data file \"" + wm + "\" " + notice + "\n"));
        EXPECT_EQ(checkStampedVideo(video, data, readFile(out)), "");
    }
}

TEST(Wmstamp, ReadAndWriteErrorsAreStatusFive)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: /dev/full and /proc/self/mem";
#else
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin");
    writeFile(src, makeVideo(2, 0, 17));
    writeFile(wm, Bytes(120, 3));

    RunResult r = stamp(src, wm, "/dev/full");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console(kBanner +
                             "Error writing output file \"/dev/full\": No space left on device\n"));

    // Reading address 0 of a process's own memory fails with an I/O error.
    r = stamp("/proc/self/mem", wm, dir.path("out1.yuv"));
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console(kBanner +
                             "Error reading input file \"/proc/self/mem\": Input/output error\n"));

    r = stamp(src, "/proc/self/mem", dir.path("out2.yuv"));
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(
        r.out,
        console(kBanner +
                "Error reading watermark data file \"/proc/self/mem\": Input/output error\n"));
    EXPECT_TRUE(readFile(dir.path("out2.yuv")).empty());
#endif
}

TEST(Wmstamp, TooLittleMemoryEndsWithAStatusNeverASignal)
{
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX only: an address-space limit";
#elif defined(WM_SANITIZED)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit allows";
#else
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    writeFile(src, makeVideo(1, 0, 18));
    writeFile(wm, Bytes(60, 3));
    const Bytes keep = makeRandomBytes(1000, 25);
    std::vector<int> seen(7, 0);
    // One run under a limit: a status and its message, never a crash, and
    // an output refused under the limit is left as it was. Without the
    // banner the program never started: the loader itself ran short.
    auto runUnder = [&](unsigned long limit) {
        writeFile(out, keep);
        RunOptions options;
        options.addressSpaceLimit = limit;
        const RunResult r = runTool(kStamp, {"--force", src, wm, out}, options);
        if (r.out.empty())
            return -1;
        EXPECT_EQ(r.signal, 0) << "killed at " << limit;
        EXPECT_TRUE(r.status == 0 || (r.status >= 2 && r.status <= 6 && r.status != 5))
            << r.status << " at " << limit;
        if (r.status >= 0 && r.status <= 6)
            ++seen[static_cast<size_t>(r.status)];
        if (r.status == 4) {
            EXPECT_EQ(readFile(out), keep) << "at " << limit;
        }
        if (r.status == 6) {
            EXPECT_EQ(r.out, console(kBanner + "Cannot allocate the frame buffer\n"));
        }
        return r.status;
    };
    // Coarse steps find where the program starts and where a whole run
    // fits; fine steps between them cross every allocation it makes before
    // the frame loop.
    unsigned long starts = 0, enough = 0;
    for (unsigned long mib = 1; mib <= 64 && enough == 0; ++mib) {
        const int status = runUnder(mib << 20);
        if (status != -1 && starts == 0)
            starts = mib << 20;
        if (status == 0)
            enough = mib << 20;
    }
    ASSERT_NE(enough, 0u);
    for (unsigned long limit = starts - (1ul << 20); limit < enough; limit += 8192)
        runUnder(limit);
    EXPECT_GT(seen[6], 0);
#endif
}

TEST(Wmstamp, NamedPipesInAndOut)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs in and out";
#else
    TempDir dir;
    const std::string src = dir.path("src.pipe"), wm = dir.path("wm.pipe"),
                      out = dir.path("out.pipe");
    for (const auto& p : {src, wm, out})
        ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
    const Bytes video = makeVideo(11, 77, 19);
    const Bytes data = makeRandomBytes(11 * 60, 20);

    ToolProcess tool(kStamp, {src, wm, out});
    std::thread feedVideo([&] { writeFile(src, video); });
    std::thread feedData([&] { writeFile(wm, data); });
    const Bytes stamped = readFile(out);
    feedVideo.join();
    feedData.join();
    const RunResult r = tool.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + "frame# 10        \r" + finished(11)));
    EXPECT_EQ(checkStampedVideo(video, data, stamped), "");
#endif
}

TEST(Wmstamp, ReaderThatGoesAwayIsAWriteError)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a FIFO reader that goes away";
#else
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"),
                      out = dir.path("out.pipe");
    writeFile(src, makeVideo(4, 0, 21));
    writeFile(wm, Bytes(60, 1));
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    ToolProcess tool(kStamp, {src, wm, out});
    const int fd = open(out.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<char> some(4096);
    EXPECT_GT(read(fd, some.data(), some.size()), 0);
    close(fd);
    const RunResult r = tool.finish();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, console(kBanner + "Error writing output file \"" + out + "\": Broken pipe\n"));
#endif
}

// Ctrl-C while the data pipe has nothing to give is a stop like any other:
// the frames written stay, and the run ends by the signal.
TEST(Wmstamp, AStopWhileWaitingOnTheDataEndsByTheSignal)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv");
    writeFile(src, makeVideo(2, 0, 25));
    // The null device takes frames at once, so once record 0 is read, frame
    // 0 goes out and the run waits on the pipe for record 1.
    FeedPipe feed(dir);
    ToolProcess tool(kStamp, {src, feed.path(), nullDevice()});
    ASSERT_TRUE(feed.write(Bytes(60, 7)));
    ASSERT_TRUE(feed.waitUntilRead());
#ifdef _WIN32
    // The event comes on a thread of its own; the read it must break is the
    // main thread's. The runtime ends a process by a signal with status 3.
    if (!tool.sendBreak())
        GTEST_SKIP() << "this Windows cannot send console events here (Wine without a console)";
    const RunResult r = tool.finish();
    EXPECT_EQ(r.status, 3);
#else
    tool.sendSignal(SIGINT);
    const RunResult r = tool.finish();
    EXPECT_EQ(r.signal, SIGINT);
#endif
    EXPECT_EQ(r.out, console(kBanner + "Interrupted after 1 frames\n"));
    EXPECT_EQ(r.err, "");
}

TEST(Wmstamp, TwoInstancesContendingForOneFile)
{
    TempDir dir;
    const std::string wm = dir.path("wm.bin"), held = dir.path("held.yuv");
    const std::string other = dir.path("other.yuv");
    writeFile(wm, Bytes(120, 2));
    writeFile(other, makeVideo(1, 0, 22));

    // The first instance writes `held` and waits on its source pipe. Once it
    // has read from the pipe past the bytes that tell what the source is,
    // it has opened all three files.
    const Bytes video = makeVideo(1, 0, 23);
    FeedPipe feed(dir);
    ToolProcess writer(kStamp, {feed.path(), wm, held});
    ASSERT_TRUE(feed.write(Bytes(video.begin(), video.begin() + kTellingBytes)));
    ASSERT_TRUE(feed.waitUntilRead());
    ASSERT_TRUE(
        feed.write(Bytes(video.begin() + kTellingBytes, video.begin() + kTellingBytes + 1)));
    ASSERT_TRUE(feed.waitUntilRead());
#ifdef _WIN32
    // Held for exclusive use there: not even a plain reader gets in.
    EXPECT_THROW(readFile(held), std::runtime_error);
#else
    const Bytes before = readFile(held);
#endif
    RunResult r = stamp(held, wm, dir.path("x.yuv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, console(kBanner + "Input file \"" + held + "\" not found\n"));
    r = stamp(other, wm, held);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out,
              console(kBanner + "Output file \"" + held + "\" cannot be opened for writing"));
#ifndef _WIN32
    EXPECT_EQ(readFile(held), before);
#endif

    EXPECT_TRUE(feed.write(Bytes(video.begin() + kTellingBytes + 1, video.end())));
    feed.close();
    r = writer.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(checkStampedVideo(video, Bytes(120, 2), readFile(held)), "");

    // An instance reading `other` keeps a second one from writing it. It
    // reads its watermark data after its frame, so a byte read from that
    // pipe means all its files are open.
    FeedPipe wmFeed(dir);
    ToolProcess reader(kStamp, {other, wmFeed.path(), dir.path("y.yuv")});
    ASSERT_TRUE(wmFeed.write(Bytes(1, 0x42)));
    ASSERT_TRUE(wmFeed.waitUntilRead());
    const Bytes otherBefore = readFile(other);
    r = stamp(held, wm, other);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(readFile(other), otherBefore);
    wmFeed.close();
    EXPECT_EQ(reader.finish().status, 0);
}

TEST(Wmstamp, NamesLongerThan255BytesAreHeldWhole)
{
    TempDir dir;
    const std::string sub = dir.path(std::string(200, 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(sub));
    const std::string src = sub + "/" + std::string(120, 's') + ".yuv";
    const std::string wm = sub + "/" + std::string(120, 'w') + ".bin";
    const std::string out = sub + "/" + std::string(120, 'o') + ".yuv";
    ASSERT_GT(src.size(), 300u);
    const Bytes video = makeVideo(1, 0, 24);
    writeFile(src, video);
    writeFile(wm, Bytes(60, 0xA5));

    RunResult r = stamp(src + "x", wm, out);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, console(kBanner + "Input file \"" + src + "x\" not found\n"));
    r = stamp(src, wm, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(checkStampedVideo(video, Bytes(60, 0xA5), readFile(out)), "");
}

TEST(Wmstamp, OutputThatIsStandardOutputIsRefused)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: /dev/stdout and shell redirections";
#else
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    writeFile(src, makeVideo(1, 0, 26));
    writeFile(wm, Bytes(60, 4));
    // Standard output is the test's pipe: frames would mix with messages.
    RunResult r = stamp(src, wm, "/dev/stdout");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, kBanner + "Output file \"/dev/stdout\" cannot be opened for writing");
    EXPECT_EQ(r.err, why("/dev/stdout", "it is standard output"));
    // The output file is where standard output appends: only the messages
    // join what was there.
    const Bytes old = makeRandomBytes(1000, 27);
    writeFile(out, old);
    r = runTool("/bin/sh",
                {"-c", shellQuote(kStamp) + " " + shellQuote(src) + " " + shellQuote(wm) + " " +
                           shellQuote(out) + " >> " + shellQuote(out)});
    EXPECT_EQ(r.status, 4);
    const std::string text = kBanner + "Output file \"" + out + "\" cannot be opened for writing";
    Bytes expected = old;
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(readFile(out), expected);
#endif
}

TEST(Wmstamp, FileSizeLimitIsAWriteErrorThatLeavesWholeFramesOnly)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a file-size limit";
#else
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    writeFile(wm, Bytes(120, 5));
    const std::string error = "Error writing output file \"" + out + "\": File too large\n";
    // Two frames overrun 4 MiB inside the loop.
    writeFile(src, makeVideo(2, 0, 28));
    RunOptions options;
    options.fileSizeLimit = 4ul << 20;
    RunResult r = runTool(kStamp, {src, wm, out}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, kBanner + error);
    // The second frame's first 1 MiB went before the limit: cut off, so
    // that only the whole first frame stays.
    const Bytes first = makeVideo(1, 0, 28);
    EXPECT_EQ(checkStampedVideo(first, Bytes(60, 5), readFile(out)), "");
    // One frame against a limit just below it: nothing but an empty file.
    writeFile(src, makeVideo(1, 0, 29));
    options.fileSizeLimit = kFrame - 1;
    r = runTool(kStamp, {src, wm, out}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, kBanner + error);
    EXPECT_EQ(readFile(out), Bytes{});
#endif
}

TEST(Wmstamp, NamesInAnyScriptOpenExactlyTheirFiles)
{
    TempDir dir;
    const std::string src = dir.path("視頻.yuv"), wm = dir.path("вода.bin");
    const Bytes video = makeVideo(2, 0, 30);
    const Bytes data = makeRandomBytes(120, 31);
    writeFile(src, video);
    writeFile(wm, data);
    // Lookalikes that an ANSI code page would turn the names into.
    const Bytes unrelated = makeRandomBytes(500, 32);
    writeFile(dir.path("Lodz.yuv"), unrelated);
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(dir.path("sub"))));
    writeFile(dir.path("sub/victim.yuv"), unrelated);
    for (const std::string& out : {dir.path("Łodz.yuv"), dir.path("sub＼victim.yuv")}) {
        const RunResult r = stamp(src, wm, out);
        EXPECT_EQ(r.status, 0) << out;
        EXPECT_EQ(checkStampedVideo(video, data, readFile(out)), "") << out;
    }
    EXPECT_EQ(readFile(dir.path("Lodz.yuv")), unrelated);
    EXPECT_EQ(readFile(dir.path("sub/victim.yuv")), unrelated);
    // Redirected, a message carries the name as the UTF-8 that was passed.
    const std::string missing = dir.path("ŁódźΩ.yuv");
    writeFile(dir.path("LodzO.yuv"), unrelated);
    const RunResult r = stamp(missing, wm, dir.path("x.yuv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, console(kBanner + "Input file \"" + missing + "\" not found\n"));
}

TEST(Wmstamp, APipeServerThatDisconnectsEndsTheInput)
{
    TempDir dir;
    const std::string wm = dir.path("wm.bin"), out = dir.path("out.yuv");
    const Bytes video = makeVideo(2, 0, 33);
    writeFile(wm, Bytes(120, 6));
    FeedPipe feed(dir);
    ToolProcess tool(kStamp, {feed.path(), wm, out});
    ASSERT_TRUE(feed.write(video));
    feed.disconnect();
    const RunResult r = tool.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, console(kBanner + finished(2)));
    EXPECT_EQ(checkStampedVideo(video, Bytes(120, 6), readFile(out)), "");
}

TEST(Wmstamp, StandardInputAndOutputCarryTheVideo)
{
    TempDir dir;
    const std::string src = dir.path("src.yuv"), wm = dir.path("wm.bin");
    const Bytes video = makeVideo(2, 10, 28);
    const Bytes data = makeRandomBytes(120, 29);
    writeFile(src, video);
    writeFile(wm, data);
    // The frames take standard output, so every message goes to standard
    // error; on Windows in binary mode, byte for byte.
    RunOptions fromSource;
    fromSource.input = src;
    RunResult r = runTool(kStamp, {"-", wm, "-"}, fromSource);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console(kBanner + "wmstamp: ignored an incomplete last frame of 10 bytes\n" +
                             finished(2)));
    EXPECT_EQ(checkStampedVideo(video, data, Bytes(r.out.begin(), r.out.end())), "");

    // A file named "-" is still a file by any other spelling.
    const std::string dash = dir.path("-");
    writeFile(dash, video);
    r = runTool(kStamp, {dash, wm, dash});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, why(dash, "it is the source video"));

    RunOptions fromData;
    fromData.input = wm;
    r = runTool(kStamp, {src, "-", dir.path("out.yuv")}, fromData);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(checkStampedVideo(video, data, readFile(dir.path("out.yuv"))), "");
    r = runTool(kStamp, {"-", "-", dir.path("out2.yuv")}, fromSource);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, console(kBanner + "Watermark data file \"-\" not found\n"));
    EXPECT_EQ(r.err, why("-", "standard input is already the source video"));
    EXPECT_FALSE(fileExists(dir.path("out2.yuv")));
#ifndef _WIN32
    // Frames for a standard output that was closed would vanish.
    r = runTool("/bin/sh", {"-c", shellQuote(kStamp) + " " + shellQuote(src) + " " +
                                      shellQuote(wm) + " - >&-"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, kBanner + "Output file \"-\" cannot be opened for writing" +
                         "wmstamp: \"-\": standard output was closed\n");
#endif
}

TEST(Wmstamp, ASecondWriterOfANamedPipeIsRefused)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs and their buffer size";
#else
    TempDir dir;
    const std::string wm = dir.path("wm.bin"), src = dir.path("src.yuv");
    const std::string out = dir.path("out.pipe");
    writeFile(wm, Bytes(60, 3));
    writeFile(src, makeVideo(1, 0, 30));
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    // The test reads the output pipe throughout.
    const int reader = open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    FeedPipe feed(dir);
    const long before = feed.bufferSize();
    ToolProcess first(kStamp, {feed.path(), wm, out});
    const Bytes video = makeVideo(1, 0, 31);
    // Past the bytes that tell what the source is, all three files are open.
    ASSERT_TRUE(feed.write(Bytes(video.begin(), video.begin() + kTellingBytes)));
    ASSERT_TRUE(feed.waitUntilRead());
    ASSERT_TRUE(
        feed.write(Bytes(video.begin() + kTellingBytes, video.begin() + kTellingBytes + 1)));
    ASSERT_TRUE(feed.waitUntilRead());
    // The source pipe was enlarged to carry whole frames at a time.
    EXPECT_EQ(before, 65536);
    EXPECT_GE(feed.bufferSize(), 1L << 20);

    const RunResult second = stamp(src, wm, out);
    EXPECT_EQ(second.status, 4);
    EXPECT_EQ(second.err, why(out, "another program is using it"));

    std::thread feeder([&] {
        feed.write(Bytes(video.begin() + kTellingBytes + 1, video.end()));
        feed.close();
    });
    Bytes stamped;
    std::vector<uint8_t> chunk(1 << 16);
    for (;;) {
        const ssize_t n = read(reader, chunk.data(), chunk.size());
        if (n > 0)
            stamped.insert(stamped.end(), chunk.begin(), chunk.begin() + n);
        else if (n == 0 && stamped.size() >= kFrame)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    feeder.join();
    close(reader);
    EXPECT_EQ(first.finish().status, 0);
    EXPECT_EQ(checkStampedVideo(video, Bytes(60, 3), stamped), "");
#endif
}

// A stop while an input is a named pipe that nobody writes to yet (the
// open itself waits) is said, and ends by the signal, in every program and
// for every input: source, data, video and stamped video.
TEST(Wmstamp, AStopWhileANamedPipeWaitsForItsWriterIsSaid)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: named pipes opened by name";
#else
    TempDir dir;
    const std::string fifo = dir.path("fifo"), wm = dir.path("wm.bin"), st = dir.path("st.yuv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writeFile(wm, Bytes(60, 9));
    writeFile(dir.path("src.yuv"), makeVideo(1, 0, 28));
    ASSERT_EQ(runTool(kStamp, {dir.path("src.yuv"), wm, st}).status, 0);
    const std::string extractStop = "wmextract: interrupted after 0 frames\n";
    const struct {
        std::string program;
        std::vector<std::string> args;
        std::string out, err;
    } runs[] = {
        {kStamp, {fifo, wm, dir.path("o1.yuv")}, kBanner + "Interrupted after 0 frames\n", ""},
        {kStamp, {st, fifo, dir.path("o2.yuv")}, kBanner + "Interrupted after 0 frames\n", ""},
        {kExtract, {"--verify", wm, fifo}, "", extractStop},
        {kExtract, {"--verify", fifo, st}, "", extractStop},
        {kExtract, {"--pair", fifo, dir.path("p.yuv"), "--verify", wm, st}, "", extractStop},
        {kExtract, {"--report", fifo, "--verify", wm, st}, "", extractStop},
        {kPack, {fifo, dir.path("pk.bin")}, "",
         "wmpack: interrupted after 0 records\npacked 0 records of 40 bytes\n"},
    };
    for (const auto& run : runs) {
        ToolProcess tool(run.program, run.args);
        ASSERT_TRUE(tool.waitUntilWaitingForPipePartner()) << run.args[0];
        tool.sendSignal(SIGTERM);
        const RunResult r = tool.finish();
        EXPECT_EQ(r.signal, SIGTERM) << run.program << " " << run.args[0];
        EXPECT_EQ(r.out, run.out) << run.program << " " << run.args[0];
        EXPECT_EQ(r.err, run.err) << run.program << " " << run.args[0];
    }
    EXPECT_FALSE(fileExists(dir.path("o1.yuv")));
    EXPECT_FALSE(fileExists(dir.path("p.yuv")));
#endif
}
