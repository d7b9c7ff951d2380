// wmstamp: stamps a 60-byte payload a frame into raw 1920x1080 YUV 4:2:0
// video, streaming one frame at a time from the source to the output.
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "named_files.h"
#include "payload_reader.h"
#include "platform.h"
#include "stream_io.h"
#include "watermark.h"

namespace {

constexpr const char* inputReadError = "Error reading input file \"%s\": %s\n";
constexpr const char* wmReadError = "Error reading watermark data file \"%s\": %s\n";
constexpr const char* outputWriteError = "Error writing output file \"%s\": %s\n";

// Messages go to standard output, as they always have, unless the video
// itself goes there.
FILE* pConsole = stdout;

int reportIoError(const char* format, const char* name, int err)
{
    printNow(pConsole, format, name, ioReason(err));
    return 5;
}

// The fixed messages say what failed; this line on standard error says why.
void explain(const char* name, const char* reason)
{
    printNow(stderr, "wmstamp: \"%s\": %s\n", name, reason);
}

// The frame loop: read, stamp, write, count, until a read of the source
// delivers less than a whole frame.
int streamFrames(const NamedStream& in, PayloadReader& wm, const NamedStream& out,
                 int64_t& frameCount)
{
    std::array<uint8_t, payloadSize> markDat{};
    std::array<uint8_t, payloadSize> wmData{};
    for (;;) {
        size_t got = 0;
        const BlockRead frame = readBlock(in.pFile, frameBuf, frameSize, got);
        if (frame == BlockRead::failed)
            return reportIoError(inputReadError, in.name, errno);
        if (frame == BlockRead::end) {
            if (got > 0)
                printNow(stderr, "wmstamp: ignored an incomplete last frame of %zu %s\n", got,
                         got == 1 ? "byte" : "bytes");
            return 0;
        }
        const PayloadRead payload = readNextPayload(wm, markDat.data());
        if (payload == PayloadRead::failed)
            return reportIoError(wmReadError, wm.data.name, errno);
        wmData = markDat;
        stampWatermark(wmData.data());
        if (payload == PayloadRead::ranOut)
            printRanOut(pConsole, nullptr, wm);
        if (!writeBlock(out.pFile, frameBuf, frameSize))
            return reportIoError(outputWriteError, out.name, errno);
        ++frameCount;
        if (frameCount % 10 == 0)
            printNow(pConsole, "frame# %" PRId64 "        \r", frameCount);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int64_t frameCount = 0;
    preparePlatform(argc, argv);
    if (argc == 4 && isStandardStreamName(argv[3]))
        pConsole = stderr;
    printNow(pConsole, "Grelmo Video Watermark Insertion Tool (10-29-2014)\n");
    if (argc != 4) {
        printNow(pConsole, "Adds Grelmo watermark to a given.yuv file\n");
        printNow(pConsole, "Parameter 1: source filename with .yuv extension\n");
        printNow(pConsole, "Parameter 2: name of binary data file with watermark data, \n");
        printNow(pConsole, "      60 bytes per line\n");
        printNow(pConsole, "Parameter 3: name of output file, with .yuv extension\n");
        return 1;
    }

    // The names are used where they stand: whole at any length, and with
    // nothing to allocate before the frame buffer. "-" is a standard stream.
    const char* inFileName = argv[1];
    Stream inOwner;
    FILE* pInFile = openInputName(inFileName, inOwner);
    if (pInFile == nullptr) {
        printNow(pConsole, "Input file \"%s\" not found\n", inFileName);
        explain(inFileName, openFailureReason(inFileName, errno, {}));
        return 2;
    }
    const char* inWmName = argv[2];
    Stream wmOwner;
    const bool stdinTaken = isStandardStreamName(inWmName) && pInFile == stdin;
    FILE* pWmFile = stdinTaken ? nullptr : openInputName(inWmName, wmOwner);
    if (pWmFile == nullptr) {
        printNow(pConsole, "Watermark data file \"%s\" not found\n", inWmName);
        explain(inWmName, stdinTaken ? "standard input is already the source video"
                                     : openFailureReason(inWmName, errno, {}));
        return 3;
    }
    // Standard output carries the messages, so the video cannot go there
    // unless it is named as "-".
    const char* outFileName = argv[3];
    Stream outOwner;
    FILE* pOutFile = pConsole == stderr
                         ? openOutputName(outFileName, {pInFile, pWmFile}, outOwner)
                         : openOutputName(outFileName, {pInFile, pWmFile, stdout}, outOwner);
    if (pOutFile == nullptr) {
        const int err = errno;
        printNow(pConsole, "Output file \"%s\" cannot be opened for writing", outFileName);
        explain(outFileName, openFailureReason(outFileName, err,
                                               {{pInFile, "it is the source video"},
                                                {pWmFile, "it is the watermark data file"},
                                                {stdout, "it is standard output"}}));
        return 4;
    }

    if (!setUpFrameBuffer()) {
        printNow(pConsole, "Cannot allocate the frame buffer\n");
        return 6;
    }
    PayloadReader wm;
    wm.data = {pWmFile, inWmName};
    int status = streamFrames({pInFile, inFileName}, wm, {pOutFile, outFileName}, frameCount);
    if (status == 0) {
        printNow(pConsole, "Reached end of input file\n");
        outOwner.release();
        if (!closeOutputStream(pOutFile))
            status = reportIoError(outputWriteError, outFileName, errno);
    }
    if (status == 0)
        printNow(pConsole, "wrote %" PRId64 " frames\n", frameCount);
    releaseFrameBuffer();
    return status;
}
