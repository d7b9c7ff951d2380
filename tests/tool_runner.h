// Runs the built programs as a user would, and makes and checks the files
// they work on. Process handling has one implementation per platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The built programs, where the build put them.
inline const std::string kStamp = WMSTAMP_PATH;
inline const std::string kExtract = WMEXTRACT_PATH;
inline const std::string kPack = WMPACK_PATH;

// wmstamp's fixed banner and usage text.
inline const std::string kBanner = "Grelmo Video Watermark Insertion Tool (10-29-2014)\n";
inline const std::string kUsage = "Adds Grelmo watermark to a given.yuv file\n"
                                  "Parameter 1: source filename with .yuv extension\n"
                                  "Parameter 2: name of binary data file with watermark data, \n"
                                  "      60 bytes per line\n"
                                  "Parameter 3: name of output file, with .yuv extension\n";

struct RunResult {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;  // the signal that killed it, if any
    std::string out; // all of standard output
    std::string err; // all of standard error
};

// What the child starts with; POSIX only, but for `input`.
struct RunOptions {
    unsigned long addressSpaceLimit = 0; // bytes; 0 for none
    unsigned long fileSizeLimit = 0;     // bytes; 0 for none
    bool closeStandardStreams = false;   // start with descriptors 0, 1 and 2 closed
    std::string input;                   // standard input from this path, not /dev/null
    bool nonBlockingInput = false;       // ... opened non-blocking
    bool terminalError = false;          // standard error on a pseudo-terminal
};

// A program started in the background, standard input empty; finish()
// collects it.
class ToolProcess {
  public:
    ToolProcess(const std::string& path, const std::vector<std::string>& args,
                const RunOptions& options = {});
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    RunResult finish();
#ifndef _WIN32
    void sendSignal(int sig);
    // Waits until the program is blocked opening a named pipe whose other
    // end nobody has opened yet; false after a minute without it.
    bool waitUntilWaitingForPipePartner();
#else
    // Ctrl-Break to the program's own process group; false where this
    // Windows cannot send console events (Wine without a console).
    bool sendBreak();
#endif

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

RunResult runTool(const std::string& path, const std::vector<std::string>& args,
                  const RunOptions& options = {});

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
};

// A named pipe that the test writes and a program reads: a FIFO on POSIX,
// a pipe server on Windows. A reader's open succeeds at once; its reads wait
// for write() and end at close().
class FeedPipe {
  public:
    explicit FeedPipe(const TempDir& dir);
    ~FeedPipe();
    FeedPipe(const FeedPipe&) = delete;
    FeedPipe& operator=(const FeedPipe&) = delete;
    const std::string& path() const { return path_; }
    bool write(const Bytes& bytes);
    // Waits until the reader has taken everything written so far, woken by
    // its reads rather than by a clock; false once a reader that still has
    // bytes to take has read nothing for a minute.
    bool waitUntilRead();
    void close();
    // Ends the feed as a pipe server that is done does: flushes, then
    // disconnects the reader (Windows) or closes (POSIX).
    void disconnect();
#ifndef _WIN32
    // The pipe's buffer as the kernel has it now.
    long bufferSize() const;
#endif

  private:
    std::string path_;
    intptr_t handle_ = -1;
    intptr_t watch_ = -1; // POSIX: an inotify descriptor, woken by each read
};

// Console text as the platform delivers it to a pipe: text mode on Windows
// turns each line feed into CR LF.
std::string console(const std::string& text);

// A word for /bin/sh, quoted whole (names with no single quote).
std::string shellQuote(const std::string& word);

// The null character device: /dev/null or NUL.
std::string nullDevice();

// Paths are UTF-8 on every platform.
void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);

// Deterministic filler: frames whose every sample differs from its
// neighbours, so a misplaced write shows.
Bytes makeVideo(int frames, size_t extraBytes, uint32_t seed);
Bytes makeRandomBytes(size_t count, uint32_t seed);

// Both rows of a band carrying `payload`, as wmstamp writes them at
// 1920x1080 into the 3,840 bytes of `band`: runs of 8 samples, most
// significant pair first, levels 16, 89, 162, 235.
void encodeRecord(const Bytes& payload, Bytes& band);

// The payload the watermark data must yield for frame n: record n while it
// lasts, a short last record padded with zeros, then the last one again.
Bytes expectedPayload(const Bytes& wmData, size_t frame);

// Empty when `out` is `src` stamped frame by frame with the payloads of
// `wmData`; otherwise a description of the first difference.
std::string checkStampedVideo(const Bytes& src, const Bytes& wmData, const Bytes& out);

// The shape of frames in a test: planar YUV 4:2:0, `bitDepth` 8 or 10 (two
// little-endian bytes a sample), the band in `bandRows` luma rows.
struct FrameShape {
    size_t width = 1920;
    size_t height = 1080;
    int bitDepth = 8;
    int bandRows = 2;
    size_t sampleBytes() const { return bitDepth > 8 ? 2 : 1; }
    size_t frameBytes() const { return width * height * 3 / 2 * sampleBytes(); }
};

// Stamps the frame at `frame` by the band rule as written here, on its own
// (not the tools' encoder): luma rows 0 to bandRows - 1 carry, at sample x,
// symbol floor((2x + 1) * 240 / (2 * width)) of `payload` (four a byte, most
// significant pair first) at level 16, 89, 162 or 235, four times that at
// 10 bits; chroma rows 0 to ceil(bandRows / 2) - 1 of both planes are 128
// (512 at 10 bits).
void stampByTheRule(uint8_t* frame, const FrameShape& shape, const Bytes& payload);

// The whole frames of raw `src` at `shape`, each stamped by the rule with
// its payload from `wmData`.
Bytes stampedByTheRule(const Bytes& src, const Bytes& wmData, const FrameShape& shape);

// A YUV4MPEG2 stream: the header line, then each frame of the raw `frames`
// after FRAME line n of `lines` (the last one again past their end); a
// last frame that is not whole is written as it is.
Bytes y4mStream(const std::string& header, const std::vector<std::string>& lines,
                const Bytes& frames, size_t frameBytes);

// The first indented command line of the README or the recipes page whose
// command (after any "mkdir ... && ") starts with `start`, without its
// indent; "" when none. Tests run recipes as users copy them.
std::string documentedCommand(const std::string& start);

// The indented lines of the README or the recipes page from the one that
// starts with `first` to the one that starts with `last`, without their
// indent, one a line; "" when there are none.
std::string documentedLines(const std::string& first, const std::string& last);

// POSIX-only checks are reported as skipped on Windows, never left out.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(why) GTEST_SKIP() << "POSIX only: " << why
#else
#define SKIP_ON_WINDOWS(why) (void)0
#endif
