// Checked block I/O on stdio streams, shared by both programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

struct StreamCloser {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};
// Closes on every early way out; an output is closed with closeOutputStream.
using Stream = std::unique_ptr<FILE, StreamCloser>;

// An open stream and the name it was given on the command line, which every
// message about it quotes.
struct NamedStream {
    FILE* pFile = nullptr;
    const char* name = "";
};

// Flushes and closes an output stream. False, with errno set, when any
// buffered byte did not reach the file.
bool closeOutputStream(FILE* pFile);

// A program's last step, as in coreutils: standard output, unless the run
// closed it as its data output, is flushed and closed, so that console text
// that never arrived (a full disk, a reader gone) is an error rather than a
// success. Says so on standard error and returns 5 where `status` was 0;
// any other status is returned as it is.
int finishStandardOutput(const char* program, int status);

// Prints a message and flushes it, so that it shows at once on a terminal
// even without a line end.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void printNow(FILE* pStream, const char* format, ...);

// Says why a command line was refused, on standard error: the reason line
// where there is one, then `usage`.
struct UsageError;
void printUsageError(const char* program, const UsageError& error, const char* usage);

// The word for `count` things: "1 frame", "2 frames".
const char* plural(int64_t count, const char* one, const char* many);

// Says on standard error that an incomplete last frame of `bytes` bytes
// was left out.
void reportIgnoredBytes(const char* program, uint64_t bytes);

// The reason for a failed call, worded for a message.
const char* ioReason(int err);

enum class BlockRead {
    whole,  // the whole block is in the buffer
    end,    // the stream ended, possibly inside an incomplete block
    failed, // read error; errno tells why
};

// Reads one block of `bytes` bytes. `got` is the count stored, which is
// less than `bytes` only at the end or on an error.
BlockRead readBlock(FILE* pFile, uint8_t* buffer, size_t bytes, size_t& got);

// Writes one block; false, with errno set (0 for a short write without a
// reason), when it did not all go.
bool writeBlock(FILE* pFile, const uint8_t* buffer, size_t bytes);

// An output made of whole pieces (payload records, report lines), each
// written unbuffered as it is ready, so that a reader sees it at once
// (`tail -f`, a pipe) and a failure or a stop can cut the output back to
// the pieces that went whole: `kept` counts their bytes.
struct PieceOutput {
    NamedStream stream;
    uint64_t kept = 0;
};

// Makes a freshly opened output unbuffered; before anything is written.
void startPieces(PieceOutput& out);

// Writes one piece; false, with errno set, when it did not all go.
bool writePiece(PieceOutput& out, const void* piece, size_t bytes);

// Cuts a regular-file output back to its whole pieces, after a failure or a
// stop (what went into a pipe cannot be taken back). False, with errno set,
// when the cut failed.
bool keepWholePieces(PieceOutput& out);
