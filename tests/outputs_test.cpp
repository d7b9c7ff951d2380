// What the programs do to an output that already holds something: a
// standard output that the shell opened for appending or that earlier
// commands wrote to, and a file swapped in under an output's name while the
// program opens it.
#include <gtest/gtest.h>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;

bool sh(const std::string& command, const RunOptions& options = {})
{
    return runTool("/bin/sh", {"-c", command}, options).status == 0;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes part(const Bytes& bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

} // namespace

TEST(Outputs, StandardOutputKeepsWhatItHoldsInEveryProgram)
{
    SKIP_ON_WINDOWS("shell redirections");
    TempDir dir;
    const auto q = [&](const std::string& name) { return shellQuote(dir.path(name)); };
    const Bytes video = makeVideo(3, 0, 70);
    const Bytes data = makeRandomBytes(3 * 60, 71);
    const Bytes old = makeRandomBytes(1001, 72);
    writeFile(dir.path("src.yuv"), video);
    writeFile(dir.path("wm.bin"), data);
    writeFile(dir.path("ids.bin"), makeRandomBytes(200, 73));
    const std::string extract = shellQuote(kExtract) + " ", pack = shellQuote(kPack) + " ";
    ASSERT_TRUE(sh(shellQuote(kStamp) + " " + q("src.yuv") + " " + q("wm.bin") + " " + q("st.yuv") +
                   " >/dev/null"));
    // The same commands into files of their own give what must be appended.
    ASSERT_TRUE(sh(extract + q("st.yuv") + " " + q("p.ref")));
    ASSERT_TRUE(
        sh(extract + "--report " + q("log.ref") + " --verify " + q("wm.bin") + " " + q("st.yuv")));
    ASSERT_TRUE(sh(pack + q("ids.bin") + " " + q("pk.ref")));
    EXPECT_EQ(readFile(dir.path("p.ref")), data);

    const std::vector<std::pair<std::string, std::string>> appends = {
        {extract + q("st.yuv") + " - 2>/dev/null >> " + q("p.bin"), "p"},
        {extract + "--report - --verify " + q("wm.bin") + " " + q("st.yuv") + " 2>/dev/null >> " +
             q("log.bin"),
         "log"},
        {pack + "- - < " + q("ids.bin") + " 2>/dev/null >> " + q("pk.bin"), "pk"},
    };
    for (const auto& [command, name] : appends) {
        writeFile(dir.path(name + ".bin"), old);
        EXPECT_TRUE(sh(command)) << command;
        EXPECT_EQ(readFile(dir.path(name + ".bin")), concat(old, readFile(dir.path(name + ".ref"))))
            << command;
    }
}

TEST(Outputs, AFailureCutsStandardOutputBackNoFurtherThanWhereItStarted)
{
    SKIP_ON_WINDOWS("shell redirections and a file-size limit");
    TempDir dir;
    const auto q = [&](const std::string& name) { return shellQuote(dir.path(name)); };
    const Bytes a = makeVideo(2, 0, 74), b = makeVideo(2, 0, 75);
    const Bytes data = makeRandomBytes(120, 76);
    const Bytes tail = makeRandomBytes(777, 77);
    writeFile(dir.path("a.yuv"), a);
    writeFile(dir.path("b.yuv"), b);
    writeFile(dir.path("wm.bin"), data);
    writeFile(dir.path("tail.bin"), tail);
    // The second run meets the limit half-way through its second frame: it
    // keeps its first frame after the first run's two, and the command
    // after it writes right after that frame.
    RunOptions limited;
    limited.fileSizeLimit = kFrame * 7 / 2;
    const std::string stamp = shellQuote(kStamp) + " ";
    EXPECT_TRUE(sh("{ " + stamp + q("a.yuv") + " " + q("wm.bin") + " -; " + stamp + q("b.yuv") +
                       " " + q("wm.bin") + " - 2> " + q("err.txt") + "; cat " + q("tail.bin") +
                       "; } > " + q("f.yuv"),
                   limited));
    const Bytes got = readFile(dir.path("f.yuv"));
    ASSERT_EQ(got.size(), 3 * kFrame + tail.size());
    EXPECT_EQ(checkStampedVideo(a, data, part(got, 0, 2 * kFrame)), "");
    EXPECT_EQ(checkStampedVideo(part(b, 0, kFrame), data, part(got, 2 * kFrame, 3 * kFrame)), "");
    EXPECT_EQ(part(got, 3 * kFrame, got.size()), tail);
    const std::string err = "Grelmo Video Watermark Insertion Tool (10-29-2014)\n"
                            "Error writing output file \"-\": File too large\n";
    EXPECT_EQ(readFile(dir.path("err.txt")), Bytes(err.begin(), err.end()));

    // Appended records cut back to the whole ones after what was there.
    const Bytes old = makeRandomBytes(1000, 78);
    writeFile(dir.path("pk.bin"), old);
    writeFile(dir.path("ids.bin"), makeRandomBytes(40 * 30, 79));
    limited.fileSizeLimit = 2000;
    EXPECT_FALSE(
        sh(shellQuote(kPack) + " " + q("ids.bin") + " - 2>/dev/null >> " + q("pk.bin"), limited));
    ASSERT_TRUE(sh(shellQuote(kPack) + " " + q("ids.bin") + " " + q("pk.ref") + " 2>/dev/null"));
    const Bytes packed = readFile(dir.path("pk.ref"));
    EXPECT_EQ(readFile(dir.path("pk.bin")), concat(old, part(packed, 0, 16 * 60)));
}

TEST(Outputs, AFileRenamedOverAnEmptyOutputIsNotEmptied)
{
#ifndef WM_SWAP_SHIM
    GTEST_SKIP() << "Linux only: a preloaded shim swaps the file in";
#else
    // The name holds nothing when the program looks; by the time it opens
    // it, another file with data has been renamed over it.
    TempDir dir;
    const auto q = [&](const std::string& name) { return shellQuote(dir.path(name)); };
    const Bytes held = makeRandomBytes(600, 80);
    writeFile(dir.path("ids.bin"), makeRandomBytes(80, 81));
    writeFile(dir.path("st.yuv"), makeVideo(1, 0, 82));
    const std::vector<std::pair<std::string, std::string>> runs = {
        {shellQuote(kPack) + " " + q("ids.bin") + " " + q("out.bin"),
         "wmpack: cannot open packed file"},
        {shellQuote(kExtract) + " " + q("st.yuv") + " " + q("out.bin"),
         "wmextract: cannot open payload file"},
    };
    for (const auto& [command, refusal] : runs) {
        writeFile(dir.path("out.bin"), {});
        writeFile(dir.path("held.bin"), held);
        // The sanitizers' runtime would otherwise insist on coming first.
        const RunResult r = runTool(
            "/bin/sh", {"-c", "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                                  shellQuote(WM_SWAP_SHIM) + " WM_SWAP_ONTO=" + q("out.bin") +
                                  " WM_SWAP_FROM=" + q("held.bin") + " " + command});
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_EQ(r.err, refusal + " \"" + dir.path("out.bin") +
                             "\": it already holds data (--force replaces it)\n");
        EXPECT_FALSE(fileExists(dir.path("held.bin"))) << "the shim did not swap the files";
        EXPECT_EQ(readFile(dir.path("out.bin")), held) << command;
    }
#endif
}

// An output named as the file standard error goes to would be written from
// its start under the messages written there: refused in every program,
// and the messages are all the file holds. A standard error that is a pipe
// (here, the test's) has no such offset and takes a report as asked.
TEST(Outputs, TheFileOfStandardErrorIsNoOutput)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: /dev/stderr and shell redirections";
#else
    TempDir dir;
    const auto q = [&](const std::string& name) { return shellQuote(dir.path(name)); };
    writeFile(dir.path("src.yuv"), makeVideo(2, 0, 83));
    writeFile(dir.path("wm.bin"), makeRandomBytes(120, 84));
    ASSERT_EQ(runTool(kStamp, {dir.path("src.yuv"), dir.path("wm.bin"), dir.path("st.yuv")}).status,
              0);
    const std::string why = "\"/dev/stderr\": it is standard error, where the messages go\n";
    const struct {
        std::string command, log;
        int status;
    } runs[] = {
        {shellQuote(kStamp) + " " + q("src.yuv") + " " + q("wm.bin") + " /dev/stderr >/dev/null",
         "wmstamp: " + why, 4},
        {shellQuote(kExtract) + " --report /dev/stderr --verify " + q("wm.bin") + " " + q("st.yuv"),
         "wmextract: cannot open report file " + why, 2},
        {shellQuote(kExtract) + " " + q("st.yuv") + " /dev/stderr",
         "wmextract: cannot open payload file " + why, 2},
        {shellQuote(kPack) + " " + q("wm.bin") + " /dev/stderr", "wmpack: cannot open packed file " + why,
         2},
    };
    for (const auto& run : runs) {
        const RunResult r = runTool("/bin/sh", {"-c", run.command + " 2> " + q("log")});
        EXPECT_EQ(r.status, run.status) << run.command;
        const Bytes log = readFile(dir.path("log"));
        EXPECT_EQ(std::string(log.begin(), log.end()), run.log) << run.command;
    }
    const RunResult r = runTool(kExtract, {"--report", "/dev/stderr", "--verify", dir.path("wm.bin"),
                                           dir.path("st.yuv")});
    EXPECT_EQ(r.status, 0);
    const std::string start = "frame,record,bit_errors,margin,next_bits,step,ambiguous\n0,0,0,36.50,";
    EXPECT_EQ(r.err.substr(0, start.size()), start);
#endif
}
