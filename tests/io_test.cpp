// The checked stream I/O both programs rely on to report a lost byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define closeDescriptor _close
#define descriptorOf _fileno
#else
#include <unistd.h>
#define closeDescriptor close
#define descriptorOf fileno
#endif

#include "stream_io.h"
#include "tool_runner.h"

TEST(StreamIo, ClosingAnOutputReportsEveryLostByte)
{
    TempDir dir;
    const std::string path = dir.path("f.bin");
    writeFile(path, Bytes(10, 1));
    const uint8_t bytes[4] = {1, 2, 3, 4};

    // A write that failed earlier leaves only the stream's error flag: the
    // flush at close has nothing left to fail on.
    FILE* pFile = std::fopen(path.c_str(), "rb");
    ASSERT_NE(pFile, nullptr);
    EXPECT_FALSE(writeBlock(pFile, bytes, sizeof bytes));
    EXPECT_FALSE(closeOutputStream(pFile));

    // Everything flushed, but the close itself fails.
    pFile = std::fopen(path.c_str(), "wb");
    ASSERT_NE(pFile, nullptr);
    ASSERT_TRUE(writeBlock(pFile, bytes, sizeof bytes));
    ASSERT_EQ(std::fflush(pFile), 0);
    closeDescriptor(descriptorOf(pFile));
    EXPECT_FALSE(closeOutputStream(pFile));
    EXPECT_EQ(errno, EBADF);

    // And a clean one is clean.
    pFile = std::fopen(path.c_str(), "wb");
    ASSERT_NE(pFile, nullptr);
    ASSERT_TRUE(writeBlock(pFile, bytes, sizeof bytes));
    EXPECT_TRUE(closeOutputStream(pFile));
    EXPECT_EQ(readFile(path), Bytes(bytes, bytes + 4));
}
