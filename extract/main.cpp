// wmextract: reads the watermark band back from raw 1920x1080 YUV 4:2:0
// video, writing each frame's payload or checking it against the data that
// was stamped.
#include <array>
#include <bitset>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "arguments.h"
#include "named_files.h"
#include "payload_reader.h"
#include "platform.h"
#include "reed_solomon.h"
#include "stream_io.h"
#include "video_reader.h"
#include "watermark.h"

namespace {

constexpr const char* usageText =
    "usage: wmextract [--band] [--fec K] [--force] VIDEO PAYLOADS\n"
    "       wmextract [--band] [--fec K] --verify DATA VIDEO\n"
    "       wmextract --help | --version\n"
    "Reads the watermark band of every whole frame of VIDEO (raw 1920x1080\n"
    "YUV 4:2:0). The first form writes each frame's 60-byte payload to\n"
    "PAYLOADS, which is created only once VIDEO has a whole frame; a PAYLOADS\n"
    "that already holds data is replaced only with --force. The second\n"
    "compares each frame's payload with the record that wmstamp stamps from\n"
    "the watermark data file DATA, names every frame that differs and ends\n"
    "with status 3 if any does. With --band, VIDEO holds only the band: luma\n"
    "rows 0 and 1, 3840 bytes a frame. With --fec K, payloads are wmpack's\n"
    "records: each is corrected with its code, PAYLOADS gets the K data bytes\n"
    "and DATA holds K-byte records (wmpack's input). '-' is standard input\n"
    "for VIDEO or DATA and standard output for PAYLOADS.\n"
    "Exit status: 0 success, 1 usage, 2 a file cannot be opened, 3 a frame\n"
    "differs or VIDEO has no whole frame, 5 a read or write error, 6 no\n"
    "memory for a frame.\n";

int reportReason(int status, const char* what, const char* name, const char* reason)
{
    printNow(stderr, "wmextract: %s \"%s\": %s\n", what, name, reason);
    return status;
}

int reportFailure(int status, const char* what, const char* name, int err)
{
    return reportReason(status, what, name, ioReason(err));
}

// "1 frame", "2 frames".
const char* plural(int64_t count, const char* one, const char* many)
{
    return count == 1 ? one : many;
}

struct Tally {
    int64_t frames = 0;
    int64_t differing = 0;
    int64_t bitErrors = 0;
    double smallestMargin = maxMargin;
    int64_t corrected = 0;     // frames whose payload the code corrected
    int64_t uncorrectable = 0; // frames beyond the code's reach
};

// What the code did, for the end of the summary line; empty without --fec.
struct CodeCounts {
    char text[80] = "";
};
CodeCounts codeCounts(const ExtractArgs& args, const Tally& tally)
{
    CodeCounts counts;
    if (args.fecDataBytes != 0)
        std::snprintf(counts.text, sizeof counts.text,
                      "; %" PRId64 " corrected, %" PRId64 " uncorrectable", tally.corrected,
                      tally.uncorrectable);
    return counts;
}

// Corrects a payload of wmpack's with its code, saying so for the frame.
// False when it is beyond reach; the payload is then left as read.
bool correctPayload(uint8_t payload[payloadSize], int dataBytes, Tally& tally)
{
    const int changed = rsDecode(payload, dataBytes);
    if (changed < 0) {
        ++tally.uncorrectable;
        const int limit = (static_cast<int>(payloadSize) - dataBytes) / 2;
        printNow(stderr, "frame %" PRId64 ": uncorrectable (more than %d wrong %s)\n", tally.frames,
                 limit, plural(limit, "byte", "bytes"));
        return false;
    }
    if (changed > 0) {
        ++tally.corrected;
        printNow(stderr, "frame %" PRId64 ": corrected %d %s\n", tally.frames, changed,
                 plural(changed, "byte", "bytes"));
    }
    return true;
}

// Decodes the frame in frameBuf and verifies it against `data`, or writes
// its payload to `payloads`. markDat keeps what the previous frame's record
// left, as wmstamp's does.
int handleFrame(PayloadReader* data, uint8_t markDat[payloadSize], const NamedStream& payloads,
                int fecDataBytes, Tally& tally)
{
    std::array<uint8_t, payloadSize> payload{};
    const double margin =
        decodeBandRows(frameBuf, frameBuf + frameWidth, payloadSize, payload.data());
    if (margin < tally.smallestMargin)
        tally.smallestMargin = margin;
    const size_t recordSize = fecDataBytes == 0 ? payloadSize : static_cast<size_t>(fecDataBytes);
    // The data is read first, so that its notices come before the frame's.
    if (data != nullptr) {
        const PayloadRead expected = readNextPayload(*data, markDat);
        if (expected == PayloadRead::failed)
            return reportFailure(5, "error reading watermark data file", data->data.name, errno);
        if (expected == PayloadRead::ranOut)
            printRanOut(stderr, "wmextract", *data);
    }
    const bool correctable =
        fecDataBytes == 0 || correctPayload(payload.data(), fecDataBytes, tally);
    if (data == nullptr) {
        if (!writeBlock(payloads.pFile, payload.data(), recordSize))
            return reportFailure(5, "error writing payload file", payloads.name, errno);
        return 0;
    }
    int bits = 0;
    for (size_t i = 0; i < recordSize; ++i)
        bits += static_cast<int>(std::bitset<8>(payload[i] ^ markDat[i]).count());
    if (!correctable || bits > 0)
        ++tally.differing;
    if (bits > 0) {
        tally.bitErrors += bits;
        printNow(stderr, "frame %" PRId64 ": %d bit %s (margin %.2f)\n", tally.frames, bits,
                 plural(bits, "error", "errors"), margin);
    }
    return 0;
}

// The rest of the pass, from a first whole frame already in frameBuf.
int readBands(VideoReader& video, PayloadReader* data, const NamedStream& payloads,
              int fecDataBytes, Tally& tally)
{
    const bool showProgress = isTerminal(stderr);
    std::array<uint8_t, payloadSize> markDat{};
    BlockRead read = BlockRead::whole;
    while (read == BlockRead::whole) {
        if (const int status = handleFrame(data, markDat.data(), payloads, fecDataBytes, tally))
            return status;
        ++tally.frames;
        if (showProgress && tally.frames % 10 == 0)
            printNow(stderr, "frame# %" PRId64 "        \r", tally.frames);
        read = readBand(video);
    }
    if (read == BlockRead::failed)
        return reportFailure(5, "error reading video file", video.stream.name, errno);
    return 0;
}

// Says what the pass left aside, so that a verdict on part of a video does
// not pass for one on all of it.
void reportLeftovers(const VideoReader& video, PayloadReader* data)
{
    if (video.ignoredBytes > 0)
        reportIgnoredBytes("wmextract", video.ignoredBytes);
    int64_t unused = 0;
    if (data != nullptr && countUnusedRecords(*data, unused) && unused > 0)
        printNow(stderr, "wmextract: %" PRId64 " %s of \"%s\" %s not used\n", unused,
                 plural(unused, "record", "records"), data->data.name,
                 plural(unused, "was", "were"));
}

} // namespace

int main(int argc, char** argv)
{
    preparePlatform(argc, argv);
    ExtractArgs args;
    if (!parseExtractArgs(argc, argv, args)) {
        std::fputs(usageText, stderr);
        return 1;
    }
    if (args.form == ExtractForm::help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (args.form == ExtractForm::version) {
        std::printf("wmextract %s\n", WM_VERSION);
        return 0;
    }
    const bool verify = args.form == ExtractForm::verify;
    const bool extract = !verify;

    VideoReader video;
    video.stream.name = args.video;
    Stream videoOwner;
    video.stream.pFile = openInputName(video.stream.name, videoOwner);
    if (video.stream.pFile == nullptr)
        return reportReason(2, "cannot open video file", video.stream.name,
                            openFailureReason(video.stream.name, errno, {}));

    PayloadReader data;
    Stream dataOwner;
    if (verify) {
        data.data.name = args.data;
        if (args.fecDataBytes != 0)
            data.recordSize = static_cast<size_t>(args.fecDataBytes);
        if (isStandardStreamName(data.data.name) && video.stream.pFile == stdin)
            return reportReason(2, "cannot open watermark data file", data.data.name,
                                "standard input is already the video");
        data.data.pFile = openInputName(data.data.name, dataOwner);
        if (data.data.pFile == nullptr)
            return reportReason(2, "cannot open watermark data file", data.data.name,
                                openFailureReason(data.data.name, errno, {}));
    }

    if (!setUpFrameBuffer()) {
        printNow(stderr, "wmextract: cannot allocate the frame buffer\n");
        return 6;
    }
    // PAYLOADS is created only once VIDEO proves to be video: swapping the
    // two forms' arguments must not empty a stamped video.
    startReading(video, args.bandOnly);
    const BlockRead first = readBand(video);
    if (first != BlockRead::whole) {
        const int err = errno; // free may change it
        releaseFrameBuffer();
        if (first == BlockRead::failed)
            return reportFailure(5, "error reading video file", video.stream.name, err);
        reportLeftovers(video, nullptr);
        printNow(stderr, "wmextract: no whole frame to %s in \"%s\"\n",
                 verify ? "verify" : "extract", video.stream.name);
        return 3;
    }
    NamedStream payloads;
    Stream payloadOwner;
    if (extract) {
        payloads.name = args.payloads;
        const char* reason = nullptr;
        payloads.pFile =
            openFreshOutput(payloads.name, args.force,
                            {video.stream.pFile, "it is the video itself"}, payloadOwner, reason);
        if (payloads.pFile == nullptr) {
            releaseFrameBuffer();
            return reportReason(2, "cannot open payload file", payloads.name, reason);
        }
    }

    Tally tally;
    const int status =
        readBands(video, verify ? &data : nullptr, payloads, args.fecDataBytes, tally);
    releaseFrameBuffer();
    if (status != 0)
        return status;
    reportLeftovers(video, verify ? &data : nullptr);

    if (extract) {
        payloadOwner.release();
        if (!closeOutputStream(payloads.pFile))
            return reportFailure(5, "error writing payload file", payloads.name, errno);
        printNow(stderr, "extracted %" PRId64 " %s, smallest margin %.2f%s\n", tally.frames,
                 plural(tally.frames, "payload", "payloads"), tally.smallestMargin,
                 codeCounts(args, tally).text);
        return 0;
    }
    printNow(stderr,
             "checked %" PRId64 " %s, %" PRId64 " differ, %" PRId64
             " bit %s, smallest margin %.2f%s\n",
             tally.frames, plural(tally.frames, "frame", "frames"), tally.differing,
             tally.bitErrors, plural(tally.bitErrors, "error", "errors"), tally.smallestMargin,
             codeCounts(args, tally).text);
    return tally.differing > 0 ? 3 : 0;
}
