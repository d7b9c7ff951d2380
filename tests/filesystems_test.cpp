// wmstamp's copy path against its streaming path on the file systems a
// user stores video on, and what failures and stops leave behind. Linux
// only; mounting needs root, and a test without it says so and skips.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;

bool sh(const std::string& command)
{
    return runTool("/bin/sh", {"-c", command}).status == 0;
}

// A file system of its own, mounted for the test and gone after it.
class Mount {
  public:
    Mount(const TempDir& dir, const std::string& name, const std::string& make)
        : point_(dir.path(name))
    {
        mounted_ = sh("mkdir -p " + point_ + " && " + make + " " + point_ + " 2>/dev/null");
    }
    ~Mount()
    {
        if (mounted_)
            sh("umount " + point_);
    }
    bool mounted() const { return mounted_; }
    std::string path(const std::string& name) const { return point_ + "/" + name; }

  private:
    std::string point_;
    bool mounted_ = false;
};

std::string loopImage(const TempDir& dir, const std::string& type, const std::string& mkfs)
{
    const std::string image = dir.path(type + ".img");
    return "truncate -s 400M " + image + " && " + mkfs + " " + image +
           " >/dev/null 2>&1 && mount -o loop " + image;
}

// Whether any extent of the file shares its blocks with another file.
bool sharesBlocks(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    alignas(struct fiemap) char buf[sizeof(struct fiemap) + 64 * sizeof(struct fiemap_extent)] = {};
    auto* map = reinterpret_cast<struct fiemap*>(buf);
    map->fm_length = ~0ULL;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 64;
    bool shared = false;
    if (ioctl(fd, FS_IOC_FIEMAP, map) == 0)
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i)
            shared = shared || (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
    close(fd);
    return shared;
}

// Whether strace can run here, to see which calls the tool makes.
bool haveStrace()
{
    return sh("strace -o /dev/null true 2>/dev/null");
}

// How a run moved its frames, as a system-call trace shows it: ranges the
// file system shared (FICLONERANGE that succeeded), pieces spliced, and
// whole frames written from the frame buffer.
struct Moves {
    int shared = 0;
    int spliced = 0;
    int framesWritten = 0;
};

Moves tracedMoves(const std::string& trace, size_t frameBytes = kFrame)
{
    std::ifstream in(trace);
    Moves moves;
    const std::string wholeFrame =
        ", " + std::to_string(frameBytes) + ") = " + std::to_string(frameBytes);
    for (std::string line; std::getline(in, line);) {
        const bool failed = line.find(" = -1 ") != std::string::npos;
        if (line.find("FICLONERANGE") != std::string::npos && !failed)
            ++moves.shared;
        if (line.rfind("splice(", 0) == 0 && !failed)
            ++moves.spliced;
        if (line.rfind("write(", 0) == 0 && line.find(wholeFrame) != std::string::npos)
            ++moves.framesWritten;
    }
    return moves;
}

uint64_t freeBytes(const std::string& path)
{
    struct statvfs st = {};
    return statvfs(path.c_str(), &st) == 0 ? uint64_t{st.f_bavail} * st.f_frsize : 0;
}

} // namespace

TEST(FileSystems, CopyingAndStreamingWriteTheSameBytes)
{
    TempDir dir;
    const Bytes video = makeVideo(17, 100, 50);
    const Bytes data = makeRandomBytes(12 * 60 + 10, 51); // runs out at frame 12
    writeFile(dir.path("src.yuv"), video);
    writeFile(dir.path("wm.bin"), data);
    const std::string pipeRun = "cat " + dir.path("src.yuv") + " | " + kStamp + " - " +
                                dir.path("wm.bin") + " " + dir.path("streamed.yuv");
    const RunResult streamed = runTool("/bin/sh", {"-c", pipeRun});
    ASSERT_EQ(streamed.status, 0);
    EXPECT_EQ(checkStampedVideo(video, data, readFile(dir.path("streamed.yuv"))), "");

    Mount tmpfs(dir, "tmpfs", "mount -t tmpfs -o size=200m tmpfs");
    Mount xfs(dir, "xfs", loopImage(dir, "xfs", "mkfs.xfs -m reflink=1"));
    Mount btrfs(dir, "btrfs", loopImage(dir, "btrfs", "mkfs.btrfs"));
    std::vector<std::pair<std::string, std::string>> places = {{dir.dir(), dir.dir()}};
    for (const Mount* m : {&tmpfs, &xfs, &btrfs})
        if (m->mounted())
            places.push_back({m->path(""), m->path("")});
    // Across file systems the copy is refused and streaming takes over.
    if (tmpfs.mounted())
        places.push_back({tmpfs.path(""), dir.path("")});
    // The trace shows which path a run took: on XFS and btrfs the output
    // shares the source's blocks; everywhere else each frame is spliced
    // through a pipe. Neither writes a frame through the frame buffer.
    const bool traced = haveStrace();
    const std::string trace = dir.path("trace");
    for (const auto& [from, to] : places) {
        if (from != dir.dir())
            writeFile(from + "/src.yuv", video);
        const std::string out = to + "/out.yuv";
        writeFile(out, makeVideo(2, 0, 52)); // an old video, replaced
        const std::vector<std::string> args = {from + "/src.yuv", dir.path("wm.bin"), out};
        // LeakSanitizer cannot run under ptrace; the rest of the sanitizers can.
        std::vector<std::string> straced = {
            "ASAN_OPTIONS=detect_leaks=0", "strace", "-o", trace, "-e",
            "trace=ioctl,write,splice",    kStamp};
        straced.insert(straced.end(), args.begin(), args.end());
        const RunResult r = traced ? runTool("/usr/bin/env", straced) : runTool(kStamp, args);
        EXPECT_EQ(r.status, 0) << from << " to " << to;
        EXPECT_EQ(r.out, streamed.out) << from << " to " << to;
        EXPECT_EQ(r.err, streamed.err) << from << " to " << to;
        EXPECT_EQ(readFile(out), readFile(dir.path("streamed.yuv"))) << from << " to " << to;
        const bool shares = from == to && (from == xfs.path("") || from == btrfs.path(""));
        EXPECT_EQ(sharesBlocks(out), shares) << from << " to " << to;
        if (traced) {
            const Moves moves = tracedMoves(trace);
            EXPECT_EQ(moves.shared, shares ? 3 : 0) << from << " to " << to;
            EXPECT_EQ(moves.spliced > 0, !shares) << from << " to " << to;
            EXPECT_EQ(moves.framesWritten, 0) << from << " to " << to;
        }
    }

    // Standard output starts where the shell left it, on either path: a
    // second run appends its frames to the first's (after 8 frames, on the
    // block grid, the copy path clones there; after 1 it streams), and a
    // command after it writes after its frames.
    const std::string stamp = shellQuote(kStamp) + " ";
    const std::string wm = " " + shellQuote(dir.path("wm.bin")) + " -";
    std::map<int, Bytes> stamped;
    for (int frames : {8, 1}) {
        const std::string name = dir.path(std::to_string(frames));
        writeFile(name + ".yuv", makeVideo(frames, 0, static_cast<uint32_t>(56 + frames)));
        ASSERT_TRUE(sh(stamp + name + ".yuv" + wm + " 2>/dev/null > " + name + ".st"));
        stamped[frames] = readFile(name + ".st");
        ASSERT_EQ(stamped[frames].size(), static_cast<size_t>(frames) * kFrame);
    }
    const Bytes tail = makeRandomBytes(777, 58), old = makeRandomBytes(4096, 59);
    writeFile(dir.path("tail.bin"), tail);
    for (const auto& [from, to] : places) {
        if (from != to)
            continue;
        const std::string both = shellQuote(from + "/both.yuv"), all = from + "/all.yuv";
        for (int frames : {8, 1}) {
            const std::string a = shellQuote(from + "/a.yuv"), b = shellQuote(from + "/b.yuv");
            ASSERT_TRUE(sh("cp " + dir.path(std::to_string(frames)) + ".yuv " + a + " && cp " +
                           dir.path("1.yuv") + " " + b));
            ASSERT_TRUE(sh("{ " + stamp + a + wm + "; " + stamp + b + wm + "; cat " +
                           dir.path("tail.bin") + "; } 2>/dev/null > " + both));
            Bytes expected = stamped[frames];
            expected.insert(expected.end(), stamped[1].begin(), stamped[1].end());
            expected.insert(expected.end(), tail.begin(), tail.end());
            EXPECT_EQ(readFile(from + "/both.yuv"), expected) << from << " after " << frames;
            // Appending keeps what the file held.
            writeFile(all, old);
            ASSERT_TRUE(sh(stamp + a + wm + " 2>/dev/null >> " + shellQuote(all)));
            expected = old;
            expected.insert(expected.end(), stamped[frames].begin(), stamped[frames].end());
            EXPECT_EQ(readFile(all), expected) << from << " after " << frames;
        }
    }
    if (!xfs.mounted() || !btrfs.mounted() || !tmpfs.mounted())
        GTEST_SKIP() << "not every file system could be mounted (root, mkfs.xfs, mkfs.btrfs)";
    if (!traced)
        GTEST_SKIP() << "strace is missing: the path each file system takes was not checked";
}

TEST(FileSystems, FailuresAndStopsLeaveWholeStampedFramesOnly)
{
    TempDir dir;
    const Bytes video = makeVideo(4, 0, 53);
    const Bytes data = makeRandomBytes(4 * 60, 54);
    writeFile(dir.path("wm.bin"), data);

    // SIGTERM while the source pipe holds a frame and a half.
    FeedPipe feed(dir);
    const std::string out = dir.path("out.yuv");
    ToolProcess tool(kStamp, {feed.path(), dir.path("wm.bin"), out});
    ASSERT_TRUE(feed.write(Bytes(video.begin(), video.begin() + kFrame * 3 / 2)));
    ASSERT_TRUE(feed.waitUntilRead());
    tool.sendSignal(SIGTERM);
    RunResult r = tool.finish();
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.out, kBanner + "Interrupted after 1 frames\n");
    EXPECT_EQ(checkStampedVideo(Bytes(video.begin(), video.begin() + kFrame), data, readFile(out)),
              "");

    // A source and data that cannot be read leave an old output alone.
    const Bytes old = makeVideo(1, 0, 55);
    writeFile(out, old);
    EXPECT_EQ(runTool(kStamp, {"/proc/self/mem", dir.path("wm.bin"), out}).status, 5);
    writeFile(dir.path("src.yuv"), video);
    EXPECT_EQ(runTool(kStamp, {dir.path("src.yuv"), "/proc/self/mem", out}).status, 5);
    EXPECT_EQ(readFile(out), old);

    // No space left, in the middle of a copy on one file system.
    Mount small(dir, "small", "mount -t tmpfs -o size=20m tmpfs");
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
    writeFile(small.path("src.yuv"), video);
    r = runTool(kStamp, {small.path("src.yuv"), dir.path("wm.bin"), small.path("out.yuv")});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, kBanner + "Error writing output file \"" + small.path("out.yuv") +
                         "\": No space left on device\n");
    const Bytes left = readFile(small.path("out.yuv"));
    EXPECT_EQ(left.size(), 2 * kFrame);
    EXPECT_EQ(checkStampedVideo(Bytes(video.begin(), video.begin() + 2 * kFrame), data, left), "");
}

TEST(FileSystems, AFullDiskWithSharedBlocksKeepsOnlyStampedFrames)
{
    // Once a frame's stamped blocks fail to be written, the cut back to the
    // frames before it may itself need space on XFS: the cut point then lies
    // in a block still shared with the source. Each free space from 16 KiB to
    // a few frames' worth of stamped blocks fails somewhere else.
    TempDir dir;
    Mount xfs(dir, "xfs", loopImage(dir, "xfs", "mkfs.xfs -m reflink=1"));
    if (!xfs.mounted())
        GTEST_SKIP() << "cannot mount an XFS image (root, mkfs.xfs)";
    const Bytes video = makeVideo(8, 0, 60);
    const Bytes data = makeRandomBytes(8 * 60, 61);
    writeFile(dir.path("wm.bin"), data);
    const std::string src = xfs.path("src.yuv"), out = xfs.path("out.yuv");
    const std::string filler = xfs.path("filler");
    writeFile(src, video);
    writeFile(out, {});
    const std::string error =
        kBanner + "Error writing output file \"" + out + "\": No space left on device\n";
    int fellBack = 0;
    for (uint64_t space = 16 * 1024; space <= 96 * 1024; space += 4096) {
        ASSERT_TRUE(sh("truncate -s 0 " + out + " && rm -f " + filler + " && sync"));
        const uint64_t free = freeBytes(xfs.path(""));
        ASSERT_GT(free, space);
        ASSERT_TRUE(sh("fallocate -l " + std::to_string(free - space) + " " + filler + " && sync"));
        const RunResult r = runTool(kStamp, {src, dir.path("wm.bin"), out});
        const Bytes left = readFile(out);
        EXPECT_EQ(r.status, 5) << space << " bytes free";
        EXPECT_EQ(r.out, error) << space << " bytes free";
        ASSERT_EQ(left.size() % kFrame, 0u) << space << " bytes free";
        ASSERT_LT(left.size(), video.size()) << space << " bytes free";
        EXPECT_EQ(
            checkStampedVideo(Bytes(video.begin(), video.begin() + static_cast<long>(left.size())),
                              data, left),
            "")
            << space << " bytes free";
        const size_t kept = left.size() / kFrame;
        if (!r.err.empty()) {
            // The frame that failed was not the first after the kept ones.
            EXPECT_EQ(r.err, "wmstamp: \"" + out + "\": cut back to " + std::to_string(kept) +
                                 " whole stamped " + (kept == 1 ? "frame" : "frames") + ", not " +
                                 std::to_string(kept + 1) + ": No space left on device\n")
                << space << " bytes free";
            ++fellBack;
        }
    }
    EXPECT_GT(fellBack, 0) << "no free space made the cut need space";
}

// A source on standard input is read from where the shell left it, on the
// path each file system takes; and a stop while a clone holds frames not
// yet stamped (waiting on the data, or just after the clone) cuts them off.
TEST(FileSystems, WhereTheSourceStandsAndWhatAStopLeaves)
{
    TempDir dir;
    Mount xfs(dir, "xfs", loopImage(dir, "xfs", "mkfs.xfs -m reflink=1"));
    const Bytes video = makeVideo(8, 0, 70);
    const Bytes data = makeRandomBytes(8 * 60, 71);
    writeFile(dir.path("wm.bin"), data);
    std::vector<std::string> places = {dir.dir()};
    if (xfs.mounted())
        places.push_back(xfs.path(""));
    for (const std::string& place : places) {
        writeFile(place + "/src.yuv", video);
        // One frame read by another program first.
        const RunResult r =
            runTool("/bin/sh", {"-c", "{ dd bs=3110400 count=1 of=/dev/null 2>/dev/null; " +
                                          kStamp + " - " + dir.path("wm.bin") + " " + place +
                                          "/out.yuv; } < " + place + "/src.yuv"});
        EXPECT_EQ(r.status, 0) << place;
        EXPECT_EQ(r.out, kBanner + "Reached end of input file\nwrote 7 frames\n") << place;
        EXPECT_EQ(checkStampedVideo(Bytes(video.begin() + kFrame, video.end()), data,
                                    readFile(place + "/out.yuv")),
                  "")
            << place;
    }
    if (!xfs.mounted())
        GTEST_SKIP() << "cannot mount an XFS image (root, mkfs.xfs)";
    // The clone takes eight frames at once; stamping then waits on the data
    // pipe for frame 2's record while frames 2 to 7 are the source's.
    FeedPipe feed(dir);
    ToolProcess tool(kStamp, {xfs.path("src.yuv"), feed.path(), xfs.path("stopped.yuv")});
    // A record at a time, so that each is known to have been taken.
    for (long record = 0; record < 2; ++record) {
        ASSERT_TRUE(feed.write(Bytes(data.begin() + 60 * record, data.begin() + 60 * record + 60)));
        ASSERT_TRUE(feed.waitUntilRead());
    }
    tool.sendSignal(SIGTERM);
    const RunResult r = tool.finish();
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.out, kBanner + "Interrupted after 2 frames\n");
    EXPECT_EQ(checkStampedVideo(Bytes(video.begin(), video.begin() + 2 * kFrame), data,
                                readFile(xfs.path("stopped.yuv"))),
              "");
#ifdef WM_STOP_SHIM
    // A stop that comes just after a clone, before any frame is stamped,
    // leaves none of the cloned source frames behind.
    writeFile(dir.path("wm.bin"), data);
    const RunResult cut = runTool(
        "/usr/bin/env", {"ASAN_OPTIONS=verify_asan_link_order=0",
                         std::string("LD_PRELOAD=") + WM_STOP_SHIM, kStamp, xfs.path("src.yuv"),
                         dir.path("wm.bin"), xfs.path("cut.yuv")});
    EXPECT_EQ(cut.signal, SIGTERM);
    EXPECT_EQ(cut.out, kBanner + "Interrupted after 0 frames\n");
    EXPECT_EQ(readFile(xfs.path("cut.yuv")).size(), 0u);
#endif
}

// The clock form on the copy path: each frame's time is taken as it is
// stamped in place, and the rest of the file is the source's, shared.
TEST(FileSystems, TheClockFormStampsOnTheCopyPathToo)
{
    TempDir dir;
    Mount xfs(dir, "xfs", loopImage(dir, "xfs", "mkfs.xfs -m reflink=1"));
    if (!xfs.mounted())
        GTEST_SKIP() << "cannot mount an XFS image (root, mkfs.xfs)";
    const Bytes video = makeVideo(17, 0, 52);
    writeFile(xfs.path("src.yuv"), video);
    RunResult r = runTool(kStamp, {"--clock", xfs.path("src.yuv"), xfs.path("out.yuv")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sharesBlocks(xfs.path("out.yuv")));
    r = runTool(kExtract, {xfs.path("out.yuv"), dir.path("p.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes payloads = readFile(dir.path("p.bin"));
    EXPECT_EQ(checkStampedVideo(video, payloads, readFile(xfs.path("out.yuv"))), "");
    uint64_t last = 0;
    for (size_t f = 0; f < 17; ++f) {
        uint64_t counter = 0, stamped = 0;
        for (size_t i = 0; i < 8; ++i) {
            counter = counter * 256 + payloads[f * 60 + 8 + i];
            stamped = stamped * 256 + payloads[f * 60 + 16 + i];
        }
        EXPECT_EQ(counter, f);
        EXPECT_GT(stamped, last) << f;
        last = stamped;
    }
    r = runTool(kExtract, {"--clock", xfs.path("out.yuv")});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(FileSystems, Y4mStreamsAreCopiedAsTheyAreStreamed)
{
    // FRAME lines of different lengths put frames off the block grid; the
    // data runs out on the way; the last frame is incomplete.
    TempDir dir;
    const FrameShape shape{640, 360, 10, 2};
    const size_t frameBytes = shape.frameBytes();
    const std::string header = "YUV4MPEG2 W640 H360 F25:1 Ip A1:1 C420p10 XYSCSS=420P10\n";
    const std::vector<std::string> lines = {"FRAME\n", "FRAME Ib\n",
                                            "FRAME XT=" + std::string(300, 't') + "\n", "FRAME\n"};
    const Bytes raw = makeRandomBytes(19 * frameBytes + 5000, 62);
    const Bytes src = y4mStream(header, lines, raw, frameBytes);
    const Bytes data = makeRandomBytes(12 * 60 + 10, 63);
    writeFile(dir.path("src.y4m"), src);
    writeFile(dir.path("wm.bin"), data);
    const Bytes expected = y4mStream(header, lines, stampedByTheRule(raw, data, shape), frameBytes);
    ASSERT_TRUE(sh("cat " + dir.path("src.y4m") + " | " + kStamp + " - " + dir.path("wm.bin") +
                   " " + dir.path("streamed.y4m") + " >/dev/null 2>&1"));
    ASSERT_EQ(readFile(dir.path("streamed.y4m")), expected);

    Mount tmpfs(dir, "tmpfs", "mount -t tmpfs -o size=200m tmpfs");
    Mount xfs(dir, "xfs", loopImage(dir, "xfs", "mkfs.xfs -m reflink=1"));
    Mount btrfs(dir, "btrfs", loopImage(dir, "btrfs", "mkfs.btrfs"));
    std::vector<std::string> places = {dir.dir()};
    for (const Mount* m : {&tmpfs, &xfs, &btrfs})
        if (m->mounted())
            places.push_back(m->path(""));
    const bool traced = haveStrace();
    const std::string trace = dir.path("trace");
    for (const std::string& place : places) {
        writeFile(place + "/src.y4m", src);
        const std::string out = place + "/out.y4m";
        std::vector<std::string> args = {"ASAN_OPTIONS=detect_leaks=0",
                                         "strace",
                                         "-o",
                                         trace,
                                         "-e",
                                         "trace=ioctl,write,splice",
                                         kStamp,
                                         place + "/src.y4m",
                                         dir.path("wm.bin"),
                                         out};
        const RunResult r = traced ? runTool("/usr/bin/env", args)
                                   : runTool(kStamp, {place + "/src.y4m", dir.path("wm.bin"), out});
        EXPECT_EQ(r.status, 0) << place;
        EXPECT_EQ(r.out, kBanner + "frame# 10        \rWatermark data file \"" +
                             dir.path("wm.bin") +
                             "\" ran out after 12 whole records\nReached end of input file\n"
                             "wrote 19 frames\n")
            << place;
        EXPECT_EQ(readFile(out), expected) << place;
        const bool shares = place == xfs.path("") || place == btrfs.path("");
        EXPECT_EQ(sharesBlocks(out), shares) << place;
        if (traced) {
            const Moves moves = tracedMoves(trace, frameBytes);
            EXPECT_EQ(moves.shared > 0, shares) << place;
            EXPECT_EQ(moves.spliced > 0, !shares) << place;
            EXPECT_EQ(moves.framesWritten, 0) << place;
        }
    }

    // A full disk in the middle keeps the header and whole stamped frames.
    Mount small(dir, "small", "mount -t tmpfs -o size=3m tmpfs");
    if (small.mounted()) {
        writeFile(dir.path("big.y4m"), src);
        const RunResult r =
            runTool(kStamp, {dir.path("big.y4m"), dir.path("wm.bin"), small.path("out.y4m")});
        EXPECT_EQ(r.status, 5);
        const Bytes left = readFile(small.path("out.y4m"));
        ASSERT_GT(left.size(), header.size());
        EXPECT_TRUE(std::equal(left.begin(), left.end(), expected.begin()));
        size_t whole = header.size(), n = 0;
        while (whole + lines[std::min<size_t>(n, 3)].size() + frameBytes <= left.size())
            whole += lines[std::min<size_t>(n++, 3)].size() + frameBytes;
        EXPECT_EQ(left.size(), whole);
    }
    if (!xfs.mounted() || !btrfs.mounted() || !tmpfs.mounted() || !small.mounted())
        GTEST_SKIP() << "not every file system could be mounted (root, mkfs.xfs, mkfs.btrfs)";
    if (!traced)
        GTEST_SKIP() << "strace is missing: the path each file system takes was not checked";
}
