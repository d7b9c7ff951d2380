#include "paired_video.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <new>

#include "named_files.h"
#include "platform.h"
#include "video_options.h"

namespace {

constexpr const char* stampedFile = "stamped video file";

// A failed read of STAMPED, said, or statusStopped where a stop broke it.
int readFailure(const PairedVideo& pair, int err)
{
    if (stopSignalSeen() != 0)
        return statusStopped;
    return reportReason(5, "error reading stamped video file", pair.stamped.input.stream.name,
                        readFailureReason(pair.stamped.input, err));
}

// Whether frame k of STAMPED, at `frame`, carries `record` as stamping
// left it.
bool carriesRecord(const PairedVideo& pair, const Record& record, const uint8_t* frame)
{
    const FrameGeometry& g = pair.stamped.input.layout.geometry;
    const auto stride = static_cast<ptrdiff_t>(g.lumaRowBytes());
    const BandRows band = findBandRows(frame, stride, g.width, g.bitDepth, g.height, g.bandRows);
    Record payload{};
    (void)decodeBand(frame, stride, g.width, g.bitDepth, band, payload.data());
    return payload == record;
}

} // namespace

int openStamped(PairedVideo& pair, const char* name, FILE* pVideo, FILE* pData)
{
    NamedStream& stream = pair.stamped.input.stream;
    stream.name = name;
    if (isStandardStreamName(name) && (pVideo == stdin || pData == stdin))
        return reportReason(2, "cannot open stamped video file", name,
                            pVideo == stdin ? "standard input is already the video"
                                            : "standard input is already the watermark data file");
    stream.pFile = openInputName(name, pair.stampedOwner);
    if (stream.pFile == nullptr && stopSignalSeen() != 0)
        return statusStopped;
    if (stream.pFile == nullptr)
        return reportReason(2, "cannot open stamped video file", name,
                            openFailureReason(name, errno, {}));
    return 0;
}

int startPairing(PairedVideo& pair, const VideoOptions& options)
{
    StampedSource& stamped = pair.stamped;
    const char* name = stamped.input.stream.name;
    char reason[320];
    const Identified identified = startStamped(stamped, options, reason, sizeof reason);
    if (identified == Identified::failed)
        return readFailure(pair, errno);
    // A frame is paired with a frame of the same samples, or not at all. A
    // raw STAMPED is read at VIDEO's size; a YUV4MPEG2 one that contradicts
    // it is said in the same words, not as an option the user never gave.
    const FrameGeometry& s = stamped.input.layout.geometry;
    const FrameGeometry& v = pair.videoLayout.geometry;
    const bool sameSamples = s.width == v.width && s.height == v.height && s.bitDepth == v.bitDepth;
    if (identified == Identified::refused || (identified == Identified::option && sameSamples))
        return reportReason(2, "cannot open stamped video file", name, reason);
    if (!sameSamples) {
        std::snprintf(reason, sizeof reason, "it is %dx%d %s, and the video \"%s\" is %dx%d %s",
                      s.width, s.height, formatName(s.bitDepth), pair.videoName, v.width, v.height,
                      formatName(v.bitDepth));
        return reportReason(2, "cannot pair with stamped video file", name, reason);
    }
    try {
        holdFrames(stamped);
    } catch (const std::bad_alloc&) {
        std::snprintf(reason, sizeof reason, "not enough memory for %" PRId64 " of its frames",
                      stamped.seeking ? int64_t{1} : pipeWindowFrames);
        return reportReason(6, "cannot hold stamped video file", name, reason);
    }
    return 0;
}

bool startPairedVideo(PairedVideo& pair)
{
    if (!writeVideoHeader(pair.out.stream.pFile, pair.videoLayout))
        return false;
    pair.out.kept += pair.videoLayout.headerBytes;
    return true;
}

int pairFrame(PairedVideo& pair, FrameCheck& check, FrameVerdict& verdict)
{
    verdict.pair = choosePair(verdict.match, verdict.band, check.aligner != nullptr);
    const int64_t k = verdict.pair.source;
    StampedSource& stamped = pair.stamped;
    const char* name = stamped.input.stream.name;
    char reason[200];
    switch (fetchStamped(stamped, k, pair.frame)) {
    case StampedFetch::frame:
        break;
    case StampedFetch::failed:
        return readFailure(pair, errno);
    case StampedFetch::pastEnd:
        if (stamped.frameCount == 0)
            std::snprintf(reason, sizeof reason, "it holds no frame, so no frame %" PRId64, k);
        else
            std::snprintf(reason, sizeof reason,
                          "it holds frames 0-%" PRId64 ", so no frame %" PRId64,
                          stamped.frameCount - 1, k);
        printNow(stderr, "wmextract: cannot pair frame %" PRId64 " with %s \"%s\": %s\n",
                 verdict.frame, stampedFile, name, reason);
        return 5;
    case StampedFetch::behind: {
        int64_t from = 0, to = 0;
        heldFrames(stamped, from, to);
        printNow(stderr,
                 "wmextract: cannot pair frame %" PRId64 " with %s \"%s\": its frame %" PRId64
                 " has gone by (a pipe is read forward, keeping its last %" PRId64
                 " frames, now %" PRId64 "-%" PRId64 "); give it as a file\n",
                 verdict.frame, stampedFile, name, k, pipeWindowFrames, from, to);
        return 5;
    }
    }
    // Frame k carries record k, and past the data's end its last record.
    RecordStore& store = check.store;
    if (!store.complete && store.fill)
        store.fill(store, static_cast<size_t>(k) + 1);
    if (check.dataError != 0)
        return stopSignalSeen() != 0 ? statusStopped
                                     : reportFailure(5, "error reading watermark data file",
                                                     check.data->data.name, check.dataError);
    if (store.records.empty())
        return 0;
    const auto record = std::min(static_cast<size_t>(k), store.records.size() - 1);
    if (!carriesRecord(pair, store.records[record], pair.frame)) {
        printNow(stderr,
                 "wmextract: cannot pair frame %" PRId64 " with %s \"%s\": its frame %" PRId64
                 " does not carry record %" PRId64 " of \"%s\" (is it the video wmstamp wrote with "
                 "that data?)\n",
                 verdict.frame, stampedFile, name, k, static_cast<int64_t>(record),
                 check.data->data.name);
        return 5;
    }
    return 0;
}

bool writePairedFrame(PairedVideo& pair, const FrameVerdict& verdict)
{
    const auto bytes = static_cast<size_t>(pair.stamped.input.frameBytes);
    if (!writeVideoFrame(pair.out.stream.pFile, *pair.videoLine, pair.frame, bytes))
        return false;
    pair.out.kept += pair.videoLine->length + bytes;
    countPair(pair.tally, verdict.pair);
    return true;
}
