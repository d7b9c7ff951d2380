// wmstamp: stamps a 60-byte payload a frame into raw 1920x1080 YUV 4:2:0
// video, streaming one frame at a time from the source to the output.
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "payload_reader.h"
#include "platform.h"
#include "stream_io.h"
#include "watermark.h"

namespace {

int reportIoError(const char* format, const std::string& name, int err)
{
    printNow(stdout, format, name.c_str(), ioReason(err));
    return 5;
}

constexpr const char* inputReadError = "Error reading input file \"%s\": %s\n";
constexpr const char* wmReadError = "Error reading watermark data file \"%s\": %s\n";
constexpr const char* outputWriteError = "Error writing output file \"%s\": %s\n";

// The frame loop: read, stamp, write, count, until a read of the source
// delivers less than a whole frame. Closes the output on the normal way out.
int streamFrames(FILE* pInFile, const std::string& inFileName, PayloadReader& wm,
                 const std::string& inWmName, Stream& pOutFile, const std::string& outFileName,
                 int64_t& frameCount)
{
    std::array<uint8_t, payloadSize> markDat{};
    std::array<uint8_t, payloadSize> wmData{};
    for (;;) {
        const FrameRead frame = readFrame(pInFile);
        if (frame == FrameRead::failed)
            return reportIoError(inputReadError, inFileName, errno);
        if (frame == FrameRead::end) {
            printNow(stdout, "Reached end of input file\n");
            if (!closeOutputStream(pOutFile.release()))
                return reportIoError(outputWriteError, outFileName, errno);
            return 0;
        }
        const PayloadRead payload = readNextPayload(wm, markDat.data());
        if (payload == PayloadRead::failed)
            return reportIoError(wmReadError, inWmName, errno);
        wmData = markDat;
        stampWatermark(wmData.data());
        if (payload == PayloadRead::ranOut)
            printNow(stdout, ranOutMessage, inWmName.c_str(), wm.wholeRecords);
        errno = 0;
        if (std::fwrite(frameBuf, 1, frameSize, pOutFile.get()) != frameSize)
            return reportIoError(outputWriteError, outFileName, errno);
        ++frameCount;
        if (frameCount % 10 == 0)
            printNow(stdout, "frame# %" PRId64 "        \r", frameCount);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int64_t frameCount = 0;
    preparePlatform();
    printNow(stdout, "Grelmo Video Watermark Insertion Tool (10-29-2014)\n");
    if (argc != 4) {
        printNow(stdout, "Adds Grelmo watermark to a given.yuv file\n");
        printNow(stdout, "Parameter 1: source filename with .yuv extension\n");
        printNow(stdout, "Parameter 2: name of binary data file with watermark data, \n");
        printNow(stdout, "      60 bytes per line\n");
        printNow(stdout, "Parameter 3: name of output file, with .yuv extension\n");
        return 1;
    }

    const std::string inFileName = argv[1];
    const Stream pInFile(openInputFile(inFileName.c_str()));
    if (!pInFile) {
        printNow(stdout, "Input file \"%s\" not found\n", inFileName.c_str());
        return 2;
    }
    const std::string inWmName = argv[2];
    const Stream pWmFile(openInputFile(inWmName.c_str()));
    if (!pWmFile) {
        printNow(stdout, "Watermark data file \"%s\" not found\n", inWmName.c_str());
        return 3;
    }
    const std::string outFileName = argv[3];
    Stream pOutFile(openOutputFile(outFileName.c_str(), pInFile.get(), pWmFile.get()));
    if (!pOutFile) {
        printNow(stdout, "Output file \"%s\" cannot be opened for writing", outFileName.c_str());
        return 4;
    }

    if (!setUpFrameBuffer()) {
        printNow(stdout, "Cannot allocate the frame buffer\n");
        return 6;
    }
    PayloadReader wm;
    wm.pFile = pWmFile.get();
    const int status =
        streamFrames(pInFile.get(), inFileName, wm, inWmName, pOutFile, outFileName, frameCount);
    if (status == 0)
        printNow(stdout, "wrote %" PRId64 " frames\n", frameCount);
    releaseFrameBuffer();
    return status;
}
