// wmstamp: stamps a 60-byte payload a frame into raw 1920x1080 YUV 4:2:0
// video, streaming one frame at a time from the source to the output.
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "payload_reader.h"
#include "platform.h"
#include "stream_io.h"
#include "watermark.h"

namespace {

constexpr const char* inputReadError = "Error reading input file \"%s\": %s\n";
constexpr const char* wmReadError = "Error reading watermark data file \"%s\": %s\n";
constexpr const char* outputWriteError = "Error writing output file \"%s\": %s\n";

int reportIoError(const char* format, const char* name, int err)
{
    printNow(stdout, format, name, ioReason(err));
    return 5;
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
        if (frame == BlockRead::end)
            return 0;
        const PayloadRead payload = readNextPayload(wm, markDat.data());
        if (payload == PayloadRead::failed)
            return reportIoError(wmReadError, wm.data.name, errno);
        wmData = markDat;
        stampWatermark(wmData.data());
        if (payload == PayloadRead::ranOut)
            printNow(stdout, ranOutMessage, wm.data.name, wm.wholeRecords);
        if (!writeBlock(out.pFile, frameBuf, frameSize))
            return reportIoError(outputWriteError, out.name, errno);
        ++frameCount;
        if (frameCount % 10 == 0)
            printNow(stdout, "frame# %" PRId64 "        \r", frameCount);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int64_t frameCount = 0;
    preparePlatform(argc, argv);
    printNow(stdout, "Grelmo Video Watermark Insertion Tool (10-29-2014)\n");
    if (argc != 4) {
        printNow(stdout, "Adds Grelmo watermark to a given.yuv file\n");
        printNow(stdout, "Parameter 1: source filename with .yuv extension\n");
        printNow(stdout, "Parameter 2: name of binary data file with watermark data, \n");
        printNow(stdout, "      60 bytes per line\n");
        printNow(stdout, "Parameter 3: name of output file, with .yuv extension\n");
        return 1;
    }

    // The names are used where they stand: whole at any length, and with
    // nothing to allocate before the frame buffer.
    const char* inFileName = argv[1];
    const Stream pInFile(openInputFile(inFileName));
    if (!pInFile) {
        printNow(stdout, "Input file \"%s\" not found\n", inFileName);
        return 2;
    }
    const char* inWmName = argv[2];
    const Stream pWmFile(openInputFile(inWmName));
    if (!pWmFile) {
        printNow(stdout, "Watermark data file \"%s\" not found\n", inWmName);
        return 3;
    }
    // Standard output carries the messages, so the video cannot go there.
    const char* outFileName = argv[3];
    Stream pOutFile(openOutputFile(outFileName, {pInFile.get(), pWmFile.get(), stdout}));
    if (!pOutFile) {
        printNow(stdout, "Output file \"%s\" cannot be opened for writing", outFileName);
        return 4;
    }

    if (!setUpFrameBuffer()) {
        printNow(stdout, "Cannot allocate the frame buffer\n");
        return 6;
    }
    PayloadReader wm;
    wm.data = {pWmFile.get(), inWmName};
    int status =
        streamFrames({pInFile.get(), inFileName}, wm, {pOutFile.get(), outFileName}, frameCount);
    if (status == 0) {
        printNow(stdout, "Reached end of input file\n");
        if (!closeOutputStream(pOutFile.release()))
            status = reportIoError(outputWriteError, outFileName, errno);
    }
    if (status == 0)
        printNow(stdout, "wrote %" PRId64 " frames\n", frameCount);
    releaseFrameBuffer();
    return status;
}
