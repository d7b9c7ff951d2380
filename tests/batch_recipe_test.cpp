// The documented recipe for stamping a folder of clips with GNU parallel, run
// as written there on three tiny clips.
#include <gtest/gtest.h>

#include <string>

#include "tool_runner.h"

TEST(BatchRecipe, StampsEveryClipWithItsOwnPayloads)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: GNU parallel";
#else
    if (runTool("/bin/sh", {"-c", "command -v parallel >/dev/null"}).status != 0)
        GTEST_SKIP() << "GNU parallel is not installed (Debian: parallel; CI installs it)";
    const std::string recipe = documentedCommand("parallel ");
    ASSERT_FALSE(recipe.empty()) << "no recipe line in README.md or doc/recipes.md";
    TempDir dir;
    ASSERT_EQ(runTool("/bin/sh", {"-c", "mkdir " + shellQuote(dir.path("clips")) + " " +
                                            shellQuote(dir.path("stamped"))})
                  .status,
              0);
    const std::vector<std::string> names = {"a", "b c", "d"};
    std::vector<Bytes> videos, payloads;
    for (size_t i = 0; i < names.size(); ++i) {
        videos.push_back(makeVideo(static_cast<int>(i) + 1, 0, 60 + static_cast<uint32_t>(i)));
        payloads.push_back(makeRandomBytes(60 * (i + 1), 70 + static_cast<uint32_t>(i)));
        writeFile(dir.path("clips/" + names[i] + ".yuv"), videos[i]);
        writeFile(dir.path("clips/" + names[i] + ".bin"), payloads[i]);
    }
    const std::string bin = kStamp.substr(0, kStamp.rfind('/'));
    const RunResult r =
        runTool("/bin/sh", {"-c", "cd " + shellQuote(dir.dir()) + " && PATH=" + shellQuote(bin) +
                                      ":$PATH && " + recipe});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(checkStampedVideo(videos[i], payloads[i],
                                    readFile(dir.path("stamped/" + names[i] + ".yuv"))),
                  "")
            << names[i];
#endif
}
