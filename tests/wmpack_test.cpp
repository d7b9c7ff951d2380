// wmpack's records through wmstamp and a damaged band back to the data with
// wmextract --fec, and wmpack's files, statuses and messages.
#include <gtest/gtest.h>

#include <csignal>

#include "tool_runner.h"

namespace {

constexpr size_t kFrame = 3110400;

// Moves every run of payload byte `byte` of `frame` one level, in both rows:
// the damage compression does, one wrong byte.
void shiftByte(Bytes& video, size_t frame, size_t byte)
{
    for (size_t row = 0; row < 2; ++row)
        for (size_t i = 0; i < 32; ++i) {
            uint8_t& s = video[frame * kFrame + row * 1920 + byte * 32 + i];
            s = static_cast<uint8_t>(s == 16 ? 89 : s - 73);
        }
}

} // namespace

TEST(Wmpack, PackedRecordsComeBackCorrectedFromADamagedBand)
{
    TempDir dir;
    const Bytes data = makeRandomBytes(130, 90); // three records of 40, the last of 10
    writeFile(dir.path("data.bin"), data);
    RunResult r = runTool(kPack, {dir.path("data.bin"), dir.path("packed.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, console("wmpack: the last record of \"" + dir.path("data.bin") +
                             "\" has 10 of 40 bytes; padded with zeros\n"
                             "packed 4 records of 40 bytes\n"));
    const Bytes packed = readFile(dir.path("packed.bin"));
    ASSERT_EQ(packed.size(), 240u);
    for (size_t k = 0; k < 4; ++k)
        for (size_t i = 0; i < 40; ++i)
            ASSERT_EQ(packed[k * 60 + i], k * 40 + i < data.size() ? data[k * 40 + i] : 0);

    writeFile(dir.path("src.yuv"), makeVideo(4, 0, 91));
    ASSERT_EQ(
        runTool(kStamp, {dir.path("src.yuv"), dir.path("packed.bin"), dir.path("st.yuv")}).status,
        0);
    Bytes video = readFile(dir.path("st.yuv"));
    for (size_t b = 0; b < 10; ++b) // frame 1: at the limit, data and parity bytes
        shiftByte(video, 1, b * 6);
    for (size_t b = 0; b < 11; ++b) // frame 3: one past it
        shiftByte(video, 3, b * 5);
    writeFile(dir.path("damaged.yuv"), video);

    r = runTool(kExtract,
                {"--fec", "40", "--verify", dir.path("data.bin"), dir.path("damaged.yuv")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("frame 1: corrected 10 bytes\n"
                             "wmextract: watermark data file \"" +
                             dir.path("data.bin") +
                             "\" ran out after 3 whole records\n"
                             "frame 3: uncorrectable (more than 10 wrong bytes)\n"
                             "frame 3: record 3, 34 bit errors (margin 36.50)\n"
                             "checked 4 frames, 1 differ, 34 bit errors, smallest margin 36.50; "
                             "records 0-3: 4 matched, 0 missing, 0 repeated, 0 out of order; "
                             "1 corrected, 1 uncorrectable\n"));
    // A frame beyond reach is written as read, and the run says it failed.
    r = runTool(kExtract, {"--fec", "40", dir.path("damaged.yuv"), dir.path("out.bin")});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, console("frame 1: corrected 10 bytes\n"
                             "frame 3: uncorrectable (more than 10 wrong bytes)\n"
                             "extracted 4 payloads, smallest margin 36.50; "
                             "1 corrected, 1 uncorrectable\n"));
    // Frames 0-2 corrected, the data after its end padded with zeros;
    // frame 3, beyond reach, as read.
    Bytes expected(data);
    expected.resize(120, 0);
    Bytes out = readFile(dir.path("out.bin"));
    ASSERT_EQ(out.size(), 160u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 120), expected);
    EXPECT_NE(Bytes(out.begin() + 120, out.end()),
              Bytes(packed.begin() + 180, packed.begin() + 220));
}

// Read with the K they were packed with, or refused with that K named:
// the codes are nested, so a larger K would pass parity off as data, and a
// smaller one would find every frame uncorrectable.
TEST(Wmpack, AWrongKIsRefusedWithTheKTheRecordsWerePackedWith)
{
    TempDir dir;
    writeFile(dir.path("data.bin"), makeRandomBytes(120, 97));
    ASSERT_EQ(runTool(kPack, {dir.path("data.bin"), dir.path("packed.bin")}).status, 0);
    writeFile(dir.path("src.yuv"), makeVideo(3, 0, 98));
    ASSERT_EQ(
        runTool(kStamp, {dir.path("src.yuv"), dir.path("packed.bin"), dir.path("st.yuv")}).status,
        0);
    for (const std::string k : {"48", "44", "30"}) {
        RunResult r = runTool(kExtract, {"--fec", k, "--report", dir.path("r.csv"), "--force",
                                         dir.path("st.yuv"), dir.path("out.bin")});
        EXPECT_EQ(r.status, 3) << k;
        EXPECT_EQ(r.err, console("wmextract: --fec " + k +
                                 ": the payloads were packed with 40 data bytes (--fec 40)\n"));
        // Nothing read with the wrong code is kept.
        EXPECT_EQ(readFile(dir.path("out.bin")), Bytes{}) << k;
        EXPECT_EQ(readFile(dir.path("r.csv")), Bytes{}) << k;
        r = runTool(kExtract, {"--fec", k, "--verify", dir.path("data.bin"), dir.path("st.yuv")});
        EXPECT_EQ(r.status, 3) << k;
        EXPECT_EQ(r.err, console("wmextract: --fec " + k +
                                 ": the payloads were packed with 40 data bytes (--fec 40)\n"));
    }
    const RunResult r =
        runTool(kExtract, {"--fec", "40", "--verify", dir.path("data.bin"), dir.path("st.yuv")});
    EXPECT_EQ(r.status, 0) << r.err;
}

// The recipes' frame numbers, packed, stamped, checked and read back as
// text, as typed (for three frames rather than 1,500).
TEST(Wmpack, TheFrameNumberRecipeWorksAsTyped)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: seq, awk and fold";
#else
    TempDir dir;
    writeFile(dir.path("clip.yuv"), makeVideo(3, 0, 99));
    std::string numbers = documentedCommand("seq 0 1499 | awk '{ printf \"%-40.40s\", \"frame ");
    ASSERT_NE(numbers, "");
    numbers.replace(numbers.find("1499"), 4, "2");
    const std::string check = documentedCommand("wmextract --fec 40 --whole --verify numbers.txt");
    const std::string text = documentedCommand("wmextract --fec 40 stamped.yuv payloads.txt");
    ASSERT_NE(check, "");
    ASSERT_NE(text, "");
    const std::string bin = kPack.substr(0, kPack.rfind('/'));
    const std::string script =
        "cd " + shellQuote(dir.dir()) + " && PATH=" + shellQuote(bin) + ":\"$PATH\" && " + numbers +
        " && wmstamp clip.yuv watermark.bin stamped.yuv > /dev/null && " + check + " && " + text;
    const RunResult r = runTool("/bin/sh", {"-c", script});
    EXPECT_EQ(r.status, 0) << r.err;
    // fold ends no line of its own.
    std::string lines;
    for (int f = 0; f < 3; ++f)
        lines += (f > 0 ? "\n" : "") + ("frame " + std::to_string(f) + std::string(33, ' '));
    EXPECT_EQ(r.out, lines);
    EXPECT_EQ(r.err, "packed 3 records of 40 bytes\n"
                     "checked 3 frames, 0 differ, 0 bit errors, smallest margin 36.50; records "
                     "0-2: 3 matched, 0 missing, 0 repeated, 0 out of order; 0 corrected, 0 "
                     "uncorrectable\n"
                     "extracted 3 payloads, smallest margin 36.50; 0 corrected, 0 uncorrectable\n");
#endif
}

TEST(Wmpack, FilesStatusesAndMessages)
{
    TempDir dir;
    const std::string data = dir.path("data.bin"), packed = dir.path("packed.bin");
    writeFile(data, makeRandomBytes(64, 92));
    const RunResult help = runTool(kPack, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(console("usage: wmpack [--data-bytes K] [--force] DATA PACKED\n"), 0),
              0u);
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, ""},
             {{data}, ""},
             {{data, packed, "x"}, ""},
             {{"--data-bytes", "19", data, packed}, "--data-bytes 19: K is 20 to 58"},
             {{"--data-bytes", "59", data, packed}, "--data-bytes 59: K is 20 to 58"},
             {{"--data-bytes", "4x", data, packed}, "--data-bytes 4x: K is 20 to 58"},
             {{"--data-bytes"}, "--data-bytes needs a value (K)"},
             {{data, packed, "--forced"}, "unknown option --forced"}}) {
        const RunResult r = runTool(kPack, args);
        EXPECT_EQ(r.status, 1) << reason;
        EXPECT_EQ(r.err, (reason.empty() ? "" : console("wmpack: " + reason + "\n")) + help.out);
        EXPECT_FALSE(fileExists(packed));
    }
    RunResult r = runTool(kPack, {dir.path("missing.bin"), packed});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmpack: cannot open data file \"" + dir.path("missing.bin") +
                             "\": No such file or directory\n"));
    EXPECT_FALSE(fileExists(packed));
    r = runTool(kPack, {data, data});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              console("wmpack: cannot open packed file \"" + data + "\": it is the data file\n"));
    // Swapped names must not replace the data with parity.
    const Bytes old = makeRandomBytes(60, 93);
    writeFile(packed, old);
    r = runTool(kPack, {data, packed});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, console("wmpack: cannot open packed file \"" + packed +
                             "\": it already holds data (--force replaces it)\n"));
    EXPECT_EQ(readFile(packed), old);
    r = runTool(kPack, {"--force", "--data-bytes", "32", data, packed});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, console("packed 2 records of 32 bytes\n"));
    r = runTool(kPack, {"--data-bytes", "32", data, "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), readFile(packed));
}

// A stop or a full file leaves whole packed records and the count of them.
TEST(Wmpack, StopsAndFullFilesLeaveWholeRecordsAndTheSummary)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: signals and file-size limits";
#else
    TempDir dir;
    const Bytes data = makeRandomBytes(120, 96);
    writeFile(dir.path("data.bin"), data);
    ASSERT_EQ(runTool(kPack, {dir.path("data.bin"), dir.path("all.bin")}).status, 0);
    const Bytes all = readFile(dir.path("all.bin"));
    const std::string packed = dir.path("packed.bin");
    {
        // Two records, then one byte of the third: once that byte is taken,
        // the first two are written and the run waits for the rest.
        FeedPipe feed(dir);
        ToolProcess tool(kPack, {feed.path(), packed});
        ASSERT_TRUE(feed.write(Bytes(data.begin(), data.begin() + 80)));
        ASSERT_TRUE(feed.waitUntilRead());
        ASSERT_TRUE(feed.write(Bytes(data.begin() + 80, data.begin() + 81)));
        ASSERT_TRUE(feed.waitUntilRead());
        tool.sendSignal(SIGHUP);
        const RunResult r = tool.finish();
        EXPECT_EQ(r.signal, SIGHUP);
        EXPECT_EQ(r.err, "wmpack: interrupted after 2 records\npacked 2 records of 40 bytes\n");
        EXPECT_EQ(readFile(packed), Bytes(all.begin(), all.begin() + 120));
    }
    RunOptions limited;
    limited.fileSizeLimit = 100;
    const RunResult r = runTool(kPack, {"--force", dir.path("data.bin"), packed}, limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "wmpack: error writing packed file \"" + packed +
                         "\": File too large\npacked 1 record of 40 bytes\n");
    EXPECT_EQ(readFile(packed), Bytes(all.begin(), all.begin() + 60));
#endif
}

// Console text that never arrives is a failure, in each program: the run's
// own work is done, but a script must not take the run for a success.
TEST(ConsoleText, AFailedWriteOfStandardOutputIsAnErrorInEveryProgram)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: /dev/full";
#else
    TempDir dir;
    writeFile(dir.path("src.yuv"), makeVideo(2, 0, 94));
    const Bytes data = makeRandomBytes(120, 95);
    writeFile(dir.path("wm.bin"), data);
    const std::string full = " > /dev/full";
    for (const auto& [program, command] : std::vector<std::pair<std::string, std::string>>{
             {"wmextract", shellQuote(kExtract) + " --help"},
             {"wmpack", shellQuote(kPack) + " --version"},
             {"wmstamp", shellQuote(kStamp) + " --help"},
             {"wmstamp", shellQuote(kStamp) + " " + shellQuote(dir.path("src.yuv")) + " " +
                             shellQuote(dir.path("wm.bin")) + " " +
                             shellQuote(dir.path("out.yuv"))}}) {
        const RunResult r = runTool("/bin/sh", {"-c", command + full});
        EXPECT_EQ(r.status, 5) << command;
        EXPECT_EQ(r.err, program + ": error writing standard output: No space left on device\n");
    }
    // The stamped video itself is whole.
    EXPECT_EQ(checkStampedVideo(makeVideo(2, 0, 94), data, readFile(dir.path("out.yuv"))), "");
    // A failed run keeps its own status and says nothing more.
    const RunResult r =
        runTool("/bin/sh", {"-c", shellQuote(kStamp) + " " + shellQuote(dir.path("missing.yuv")) +
                                      " wm.bin out.yuv" + full});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wmstamp: \"" + dir.path("missing.yuv") + "\": No such file or directory\n");
    // Payloads on standard output are the data output, said as such.
    const RunResult p =
        runTool("/bin/sh",
                {"-c", shellQuote(kExtract) + " " + shellQuote(dir.path("out.yuv")) + " -" + full});
    EXPECT_EQ(p.status, 5);
    EXPECT_EQ(p.err, "wmextract: error writing payload file \"-\": No space left on device\n"
                     "extracted 1 payload, smallest margin 36.50\n");
#endif
}
