// wmstamp's copy path against its streaming path on the file systems a
// user stores video on, and what failures and stops leave behind. Linux
// only; mounting needs root, and a test without it says so and skips.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;
const std::string kBanner = "Grelmo Video Watermark Insertion Tool (10-29-2014)\n";

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
    for (const auto& [from, to] : places) {
        if (from != dir.dir())
            writeFile(from + "/src.yuv", video);
        const std::string out = to + "/out.yuv";
        writeFile(out, makeRandomBytes(5000, 52)); // an old output, replaced
        const RunResult r = runTool(kStamp, {from + "/src.yuv", dir.path("wm.bin"), out});
        EXPECT_EQ(r.status, 0) << from << " to " << to;
        EXPECT_EQ(r.out, streamed.out) << from << " to " << to;
        EXPECT_EQ(r.err, streamed.err) << from << " to " << to;
        EXPECT_EQ(readFile(out), readFile(dir.path("streamed.yuv"))) << from << " to " << to;
        if (from == to && from == xfs.path("")) {
            EXPECT_TRUE(sharesBlocks(out)) << "XFS copied the source instead of sharing it";
        }
    }
    if (!xfs.mounted() || !btrfs.mounted() || !tmpfs.mounted())
        GTEST_SKIP() << "not every file system could be mounted (root, mkfs.xfs, mkfs.btrfs)";
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
    const Bytes old = makeRandomBytes(5000, 55);
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
