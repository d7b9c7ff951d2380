// wmextract: reads the watermark band back from raw 1920x1080 YUV 4:2:0
// video, writing each frame's payload or checking it against the data that
// was stamped.
#include <array>
#include <bitset>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "payload_reader.h"
#include "platform.h"
#include "stream_io.h"
#include "watermark.h"

namespace {

constexpr const char* usageText =
    "usage: wmextract VIDEO PAYLOADS\n"
    "       wmextract --verify DATA VIDEO\n"
    "Reads the watermark band of every whole frame of VIDEO (raw 1920x1080\n"
    "YUV 4:2:0). The first form writes each frame's 60-byte payload to\n"
    "PAYLOADS. The second compares each frame's payload with the record that\n"
    "wmstamp stamps from the watermark data file DATA, names every frame that\n"
    "differs and ends with status 3 if any does. '-' is standard input for\n"
    "VIDEO and standard output for PAYLOADS.\n"
    "Exit status: 0 success, 1 usage, 2 a file cannot be opened, 3 a frame\n"
    "differs, 5 a read or write error, 6 no memory for a frame.\n";

int reportFailure(int status, const char* what, const std::string& name, int err)
{
    printNow(stderr, "wmextract: %s \"%s\": %s\n", what, name.c_str(), ioReason(err));
    return status;
}

struct Tally {
    int64_t frames = 0;
    int64_t differing = 0;
    int64_t bitErrors = 0;
    double smallestMargin = maxMargin;
};

// One pass over the video. With pDataFile set it verifies, otherwise it
// writes every payload to pPayloadFile.
int readBands(FILE* pVideoFile, const std::string& videoName, FILE* pDataFile,
              const std::string& dataName, FILE* pPayloadFile, const std::string& payloadName,
              Tally& tally)
{
    const bool showProgress = isTerminal(stderr);
    PayloadReader data;
    data.pFile = pDataFile;
    std::array<uint8_t, payloadSize> markDat{};
    std::array<uint8_t, payloadSize> payload{};
    for (;;) {
        const FrameRead frame = readFrame(pVideoFile);
        if (frame == FrameRead::failed)
            return reportFailure(5, "error reading video file", videoName, errno);
        if (frame == FrameRead::end)
            return 0;
        const double margin =
            decodeBandRows(frameBuf, frameBuf + frameWidth, payloadSize, payload.data());
        if (margin < tally.smallestMargin)
            tally.smallestMargin = margin;
        if (pDataFile != nullptr) {
            const PayloadRead expected = readNextPayload(data, markDat.data());
            if (expected == PayloadRead::failed)
                return reportFailure(5, "error reading watermark data file", dataName, errno);
            if (expected == PayloadRead::ranOut)
                printNow(stderr, ranOutMessage, dataName.c_str(), data.wholeRecords);
            int bits = 0;
            for (size_t i = 0; i < payloadSize; ++i)
                bits += static_cast<int>(std::bitset<8>(payload[i] ^ markDat[i]).count());
            if (bits > 0) {
                ++tally.differing;
                tally.bitErrors += bits;
                printNow(stderr, "frame %" PRId64 ": %d bit errors (margin %.2f)\n", tally.frames,
                         bits, margin);
            }
        } else {
            errno = 0;
            if (std::fwrite(payload.data(), 1, payloadSize, pPayloadFile) != payloadSize)
                return reportFailure(5, "error writing payload file", payloadName, errno);
        }
        ++tally.frames;
        if (showProgress && tally.frames % 10 == 0)
            printNow(stderr, "frame# %" PRId64 "        \r", tally.frames);
    }
}

// Opens an input by name, or standard input for "-".
FILE* openVideo(const std::string& name, Stream& owner)
{
    if (name == "-") {
        useBinaryMode(stdin);
        return stdin;
    }
    owner.reset(openInputFile(name.c_str()));
    return owner.get();
}

} // namespace

int main(int argc, char** argv)
{
    preparePlatform();
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usageText, stdout);
        return 0;
    }
    const bool verify = argc == 4 && std::strcmp(argv[1], "--verify") == 0;
    const bool extract =
        argc == 3 && std::strncmp(argv[1], "--", 2) != 0 && std::strncmp(argv[2], "--", 2) != 0;
    if (!verify && !extract) {
        std::fputs(usageText, stderr);
        return 1;
    }

    const std::string videoName = verify ? argv[3] : argv[1];
    Stream videoOwner;
    FILE* pVideoFile = openVideo(videoName, videoOwner);
    if (pVideoFile == nullptr)
        return reportFailure(2, "cannot open video file", videoName, errno);

    std::string dataName;
    Stream pDataFile;
    std::string payloadName;
    Stream payloadOwner;
    FILE* pPayloadFile = nullptr;
    if (verify) {
        dataName = argv[2];
        pDataFile.reset(openInputFile(dataName.c_str()));
        if (!pDataFile)
            return reportFailure(2, "cannot open watermark data file", dataName, errno);
    } else if ((payloadName = argv[2]) == "-") {
        useBinaryMode(stdout);
        pPayloadFile = stdout;
    } else {
        payloadOwner.reset(openOutputFile(payloadName.c_str(), pVideoFile, nullptr));
        pPayloadFile = payloadOwner.get();
        if (pPayloadFile == nullptr)
            return reportFailure(2, "cannot open payload file", payloadName, errno);
    }

    if (!setUpFrameBuffer()) {
        printNow(stderr, "wmextract: cannot allocate the frame buffer\n");
        return 6;
    }
    Tally tally;
    int status = readBands(pVideoFile, videoName, pDataFile.get(), dataName, pPayloadFile,
                           payloadName, tally);
    releaseFrameBuffer();
    if (status != 0)
        return status;

    if (!verify) {
        payloadOwner.release();
        if (!closeOutputStream(pPayloadFile))
            return reportFailure(5, "error writing payload file", payloadName, errno);
        printNow(stderr, "extracted %" PRId64 " payloads", tally.frames);
        if (tally.frames > 0)
            printNow(stderr, ", smallest margin %.2f", tally.smallestMargin);
        printNow(stderr, "\n");
        return 0;
    }
    if (tally.frames == 0) {
        // An empty video proves nothing about the watermark.
        printNow(stderr, "wmextract: no whole frame to verify in \"%s\"\n", videoName.c_str());
        return 3;
    }
    printNow(stderr,
             "checked %" PRId64 " frames, %" PRId64 " differ, %" PRId64
             " bit errors, smallest margin %.2f\n",
             tally.frames, tally.differing, tally.bitErrors, tally.smallestMargin);
    return tally.differing > 0 ? 3 : 0;
}
