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

#ifdef _WIN32
#include <windows.h>

#include "platform.h"

// A short relative name in a deep folder has a full path too long for the
// plain calls: the long form is chosen by that path, not by what was typed.
TEST(Platform, TheLongNameFormFollowsTheFullPath)
{
    TempDir dir;
    std::wstring deep(dir.dir().begin(), dir.dir().end());
    while (deep.size() < 240) {
        deep += L"\\" + std::wstring(30, L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }
    wchar_t before[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, before);
    ASSERT_TRUE(SetCurrentDirectoryW(deep.c_str()));
    const std::wstring longForm = wideName("a-rather-long-file-name.yuv");
    const std::wstring shortForm = wideName("NUL");
    SetCurrentDirectoryW(before);
    EXPECT_EQ(longForm.rfind(L"\\\\?\\", 0), 0u);
    EXPECT_EQ(longForm.substr(longForm.size() - 27), L"a-rather-long-file-name.yuv");
    EXPECT_EQ(shortForm, L"NUL");
    EXPECT_EQ(std::wstring(wideName("short.yuv")), L"short.yuv");
}
#endif
