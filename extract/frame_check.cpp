#include "frame_check.h"

#include <algorithm>

#include "platform.h"
#include "reed_solomon.h"

int reportReason(int status, const char* what, const char* name, const char* reason)
{
    printNow(stderr, "wmextract: %s \"%s\": %s\n", what, name, reason);
    return status;
}

int reportFailure(int status, const char* what, const char* name, int err)
{
    return reportReason(status, what, name, ioReason(err));
}

double decodeFrameBand(BandRows& band, uint8_t* payload)
{
    const FrameGeometry& g = frameGeometry;
    const auto stride = static_cast<ptrdiff_t>(g.lumaRowBytes());
    band = findBandRows(frameBuf, stride, g.width, g.bitDepth, g.height, g.bandRows);
    return decodeBand(frameBuf, stride, g.width, g.bitDepth, band, payload);
}

bool looksStamped(const FrameCheck& check, BandRows band)
{
    const FrameGeometry& g = frameGeometry;
    return looksLikeBand(frameBuf, static_cast<ptrdiff_t>(g.lumaRowBytes()), g.width, g.bitDepth,
                         band) &&
           (check.args->bandOnly ||
            chromaAgreesWithBand(band, pUPlane, pVPlane, g.width / 2, g.bitDepth));
}

namespace {

// The record the frame is compared with by position: frame k with record k,
// the last one again once the data ran out.
FrameMatch matchByPosition(FrameCheck& check, int64_t frame)
{
    RecordStore& store = check.store;
    if (!store.complete && store.fill)
        store.fill(store, static_cast<size_t>(frame) + 1);
    FrameMatch match;
    match.record = std::min<int64_t>(frame, static_cast<int64_t>(store.records.size()) - 1);
    match.step = Step::inStep;
    match.pastEnd = frame >= check.data->wholeRecords;
    match.expected = frame;
    check.tally.recordsUsed = match.record + 1;
    return match;
}

} // namespace

int checkFrame(FrameCheck& check, FrameVerdict& verdict)
{
    Tally& tally = check.tally;
    verdict = FrameVerdict{};
    verdict.frame = tally.frames;
    BandRows band;
    verdict.margin = decodeFrameBand(band, verdict.payload.data());
    const int dataBytes = check.args->fecDataBytes;
    if (dataBytes != 0) {
        if (const int found = notePacking(check.packing, verdict.payload.data())) {
            check.refused = true;
            printNow(
                stderr,
                "wmextract: --fec %d: the payloads were packed with %d data bytes (--fec %d)\n",
                dataBytes, found, found);
            return 3;
        }
    }

    // Which record the frame carries comes first.
    FrameMatch& match = verdict.match;
    if (check.data != nullptr)
        match = check.aligner != nullptr ? check.aligner->match(verdict.payload.data())
                                         : matchByPosition(check, verdict.frame);
    if (check.dataError != 0)
        return stopSignalSeen() != 0 ? statusStopped
                                     : reportFailure(5, "error reading watermark data file",
                                                     check.data->data.name, check.dataError);
    tally.smallestMargin = std::min(tally.smallestMargin, verdict.margin);
    ++tally.frames;
    // The notice comes with the first frame that has no whole record of its
    // own: the padded short one, or the last one again.
    const bool beyondWhole = match.step != Step::unidentified && check.data != nullptr &&
                             (match.pastEnd || match.record >= check.data->wholeRecords);
    verdict.ranOut = beyondWhole && !check.ranOutSaid;
    check.ranOutSaid = check.ranOutSaid || beyondWhole;

    if (dataBytes != 0) {
        verdict.corrected = rsDecode(verdict.payload.data(), dataBytes);
        tally.corrected += verdict.corrected > 0 ? 1 : 0;
        tally.uncorrectable += verdict.corrected < 0 ? 1 : 0;
    }
    if (check.data == nullptr) {
        verdict.band = looksStamped(check, band);
        tally.noBand += verdict.band ? 0 : 1;
        return 0;
    }

    const bool identified = match.step != Step::unidentified;
    const size_t recordSize = dataBytes == 0 ? payloadSize : static_cast<size_t>(dataBytes);
    verdict.bits =
        identified
            ? bitDistance(verdict.payload.data(),
                          check.store.records[static_cast<size_t>(match.record)].data(), recordSize)
            : 0;
    if (!identified || verdict.corrected < 0 || verdict.bits > 0)
        ++tally.differing;
    tally.bitErrors += verdict.bits;
    // A frame its record vouches for is stamped, whatever it looks like.
    verdict.band = (identified && verdict.bits == 0) || looksStamped(check, band);
    tally.noBand += verdict.band ? 0 : 1;
    return 0;
}
