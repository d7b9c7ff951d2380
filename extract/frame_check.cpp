#include "frame_check.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>

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

namespace {

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

const char* stepName(Step step)
{
    switch (step) {
    case Step::inStep:
        return "in step";
    case Step::starts:
        return "starts";
    case Step::skips:
        return "after missing";
    case Step::repeats:
        return "repeat";
    case Step::outOfOrder:
        return "out of order";
    case Step::unidentified:
        break;
    }
    return "unidentified";
}

// Says in words how the frame stands to the one before it.
void sayStep(const FrameCheck& check, int64_t frame, const FrameMatch& m)
{
    switch (m.step) {
    case Step::starts:
        printNow(stderr, "starts at record %" PRId64 "\n", m.record);
        break;
    case Step::skips:
        if (m.missingFrom == m.missingTo)
            printNow(stderr,
                     "record %" PRId64 " missing between frames %" PRId64 " and %" PRId64 "\n",
                     m.missingFrom, m.previousFrame, frame);
        else
            printNow(stderr,
                     "records %" PRId64 "-%" PRId64 " missing between frames %" PRId64
                     " and %" PRId64 "\n",
                     m.missingFrom, m.missingTo, m.previousFrame, frame);
        break;
    case Step::repeats:
        printNow(stderr, "frame %" PRId64 " repeats record %" PRId64 "\n", frame, m.record);
        break;
    case Step::outOfOrder:
        printNow(stderr,
                 "frame %" PRId64 " is out of order: record %" PRId64 " after record %" PRId64 "\n",
                 frame, m.record, check.aligner->totals().lastRecord);
        break;
    case Step::inStep:
    case Step::unidentified:
        break;
    }
}

// One CSV line; the record columns stay empty where there is no record.
bool writeReportLine(const FrameCheck& check, int64_t frame, const FrameMatch* m, int bits,
                     double margin, bool band)
{
    if (check.report.pFile == nullptr)
        return true;
    int written = 0;
    if (m == nullptr)
        written = std::fprintf(check.report.pFile, "%" PRId64 ",,,%.2f,,%s,\n", frame, margin,
                               band ? "" : "no band");
    else if (m->step == Step::unidentified || !band)
        written =
            std::fprintf(check.report.pFile, "%" PRId64 ",,,%.2f,%d,%s,%d\n", frame, margin,
                         m->nextBits, band ? "unidentified" : "no band", m->ambiguous ? 1 : 0);
    else
        written = std::fprintf(check.report.pFile, "%" PRId64 ",%" PRId64 ",%d,%.2f,%d,%s,%d\n",
                               frame, m->record, bits, margin, m->nextBits, stepName(m->step),
                               m->ambiguous ? 1 : 0);
    return written > 0;
}

// Whether the frame in frameBuf looks stamped: its band rows, and, in a
// whole frame, chroma row 0.
bool looksStamped(const FrameCheck& check)
{
    return looksLikeBand(frameBuf, frameBuf + frameWidth, payloadSize) &&
           (check.args->bandOnly ||
            chromaRowsNeutral(pUPlane, pVPlane, static_cast<size_t>(frameGeometry.width / 2)));
}

void sayNoBand(Tally& tally, int64_t frame)
{
    ++tally.noBand;
    printNow(stderr, "frame %" PRId64 ": no band\n", frame);
}

} // namespace

bool startReport(const FrameCheck& check)
{
    return check.report.pFile == nullptr ||
           std::fputs("frame,record,bit_errors,margin,next_bits,step,ambiguous\n",
                      check.report.pFile) >= 0;
}

int checkFrame(FrameCheck& check)
{
    Tally& tally = check.tally;
    const int64_t frame = tally.frames;
    Record payload{};
    const double margin =
        decodeBandRows(frameBuf, frameBuf + frameWidth, payloadSize, payload.data());
    tally.smallestMargin = std::min(tally.smallestMargin, margin);

    // Which record the frame carries comes first, and what is said of it.
    FrameMatch match;
    RecordStore& store = check.store;
    if (check.data != nullptr && check.aligner != nullptr) {
        match = check.aligner->match(payload.data());
        sayStep(check, frame, match);
    } else if (check.data != nullptr) {
        if (!store.complete && store.fill)
            store.fill(store, static_cast<size_t>(frame) + 1);
        match.record = std::min<int64_t>(frame, static_cast<int64_t>(store.records.size()) - 1);
        match.step = Step::inStep;
        match.pastEnd = frame >= check.data->wholeRecords;
        tally.recordsUsed = match.record + 1;
    }
    if (check.dataError != 0)
        return reportFailure(5, "error reading watermark data file", check.data->data.name,
                             check.dataError);
    // The notice comes with the first frame that has no whole record of its
    // own: the padded short one, or the last one again.
    const bool beyondWhole = match.step != Step::unidentified && check.data != nullptr &&
                             (match.pastEnd || match.record >= check.data->wholeRecords);
    if (beyondWhole && !check.ranOutSaid) {
        printRanOut(stderr, "wmextract", *check.data);
        check.ranOutSaid = true;
    }

    const int dataBytes = check.args->fecDataBytes;
    const bool correctable = dataBytes == 0 || correctPayload(payload.data(), dataBytes, tally);
    const size_t recordSize = dataBytes == 0 ? payloadSize : static_cast<size_t>(dataBytes);
    if (check.data == nullptr) {
        const bool band = looksStamped(check);
        if (!band)
            sayNoBand(tally, frame);
        if (!writeBlock(check.payloads.pFile, payload.data(), recordSize))
            return reportFailure(5, "error writing payload file", check.payloads.name, errno);
        if (!writeReportLine(check, frame, nullptr, 0, margin, band))
            return reportFailure(5, "error writing report file", check.report.name, errno);
        return 0;
    }

    const bool identified = match.step != Step::unidentified;
    const int bits =
        identified
            ? bitDistance(payload.data(), store.records[static_cast<size_t>(match.record)].data(),
                          recordSize)
            : 0;
    if (!identified || !correctable || bits > 0)
        ++tally.differing;
    tally.bitErrors += bits;
    // A frame its record vouches for is stamped, whatever it looks like.
    const bool noBand = (!identified || bits > 0) && !looksStamped(check);
    if (noBand)
        sayNoBand(tally, frame);
    else if (!identified)
        printNow(stderr,
                 "frame %" PRId64 ": unidentified (nearest record %" PRId64
                 " at %d bits, next %d)\n",
                 frame, match.record, match.bitErrors, match.nextBits);
    else if (bits > 0 && check.aligner != nullptr)
        printNow(stderr, "frame %" PRId64 ": record %" PRId64 ", %d bit %s (margin %.2f)\n", frame,
                 match.record, bits, plural(bits, "error", "errors"), margin);
    else if (bits > 0)
        printNow(stderr, "frame %" PRId64 ": %d bit %s (margin %.2f)\n", frame, bits,
                 plural(bits, "error", "errors"), margin);
    if (!writeReportLine(check, frame, &match, bits, margin, !noBand))
        return reportFailure(5, "error writing report file", check.report.name, errno);
    return 0;
}

int finishCheck(const FrameCheck& check)
{
    const Tally& tally = check.tally;
    const bool noBandAtAll = tally.noBand == tally.frames;
    if (noBandAtAll)
        printNow(stderr, "wmextract: no watermark band found in \"%s\"\n", check.videoName);
    char code[80] = "";
    if (check.args->fecDataBytes != 0)
        std::snprintf(code, sizeof code, "; %" PRId64 " corrected, %" PRId64 " uncorrectable",
                      tally.corrected, tally.uncorrectable);
    if (check.data == nullptr) {
        printNow(stderr, "extracted %" PRId64 " %s, smallest margin %.2f%s\n", tally.frames,
                 plural(tally.frames, "payload", "payloads"), tally.smallestMargin, code);
        return noBandAtAll ? 3 : 0;
    }
    char timing[160] = "";
    bool timingChanged = false;
    if (check.aligner != nullptr) {
        const AlignmentTotals& t = check.aligner->totals();
        timingChanged = t.missing > 0 || t.repeated > 0 || t.outOfOrder > 0;
        if (t.firstRecord < 0)
            std::snprintf(timing, sizeof timing, "; no record matched");
        else
            std::snprintf(timing, sizeof timing,
                          "; records %" PRId64 "-%" PRId64 ": %" PRId64 " matched, %" PRId64
                          " missing, %" PRId64 " repeated, %" PRId64 " out of order",
                          t.firstRecord, t.lastRecord, t.matched, t.missing, t.repeated,
                          t.outOfOrder);
    }
    printNow(stderr,
             "checked %" PRId64 " %s, %" PRId64 " differ, %" PRId64
             " bit %s, smallest margin %.2f%s%s\n",
             tally.frames, plural(tally.frames, "frame", "frames"), tally.differing,
             tally.bitErrors, plural(tally.bitErrors, "error", "errors"), tally.smallestMargin,
             timing, code);
    if (tally.differing > 0)
        return 3;
    return timingChanged ? 4 : 0;
}
