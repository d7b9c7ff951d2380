// Checked block I/O on stdio streams, shared by every program that writes.
#pragma once

#include <cstdio>
#include <memory>

struct StreamCloser {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};
// Closes on every early way out; an output is closed with closeOutputStream.
using Stream = std::unique_ptr<FILE, StreamCloser>;

// Flushes and closes an output stream. False, with errno set, when any
// buffered byte did not reach the file.
bool closeOutputStream(FILE* pFile);

// Prints a message and flushes it, so that it shows at once on a terminal
// even without a line end.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void printNow(FILE* pStream, const char* format, ...);

// The reason for a failed call, worded for a message.
const char* ioReason(int err);

enum class FrameRead {
    whole,  // a whole frame is in frameBuf
    end,    // the stream ended, possibly inside an incomplete frame
    failed, // read error; errno tells why
};

// Reads the next frame into the frame buffer as one block.
FrameRead readFrame(FILE* pFile);
