#include "frame_messages.h"

#include <cinttypes>

#include "clock_pass.h"
#include "paired_video.h"

namespace {

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

void sayCorrection(const FrameCheck& check, const FrameVerdict& v)
{
    if (v.corrected < 0) {
        const int limit = (static_cast<int>(payloadSize) - check.args->fecDataBytes) / 2;
        printNow(stderr, "frame %" PRId64 ": uncorrectable (more than %d wrong %s)\n", v.frame,
                 limit, plural(limit, "byte", "bytes"));
    } else if (v.corrected > 0) {
        printNow(stderr, "frame %" PRId64 ": corrected %d %s\n", v.frame, v.corrected,
                 plural(v.corrected, "byte", "bytes"));
    }
}

} // namespace

void sayFrame(const FrameCheck& check, const FrameVerdict& v)
{
    const FrameMatch& m = v.match;
    // DATA from a pipe shows what it is like as it is read.
    if (check.data != nullptr)
        printDataNotices("wmextract", *check.data);
    if (check.aligner != nullptr)
        sayStep(check, v.frame, m);
    if (v.ranOut)
        printRanOut(stderr, "wmextract", *check.data);
    sayCorrection(check, v);
    if (!v.band)
        printNow(stderr, "frame %" PRId64 ": no band\n", v.frame);
    else if (check.data == nullptr)
        return;
    else if (m.step == Step::unidentified)
        printNow(stderr,
                 "frame %" PRId64 ": unidentified (nearest record %" PRId64
                 " at %d bits, next %d)\n",
                 v.frame, m.record, m.bitErrors, m.nextBits);
    else if (v.bits > 0 && check.aligner != nullptr)
        printNow(stderr, "frame %" PRId64 ": record %" PRId64 ", %d bit %s (margin %.2f)\n",
                 v.frame, m.record, v.bits, plural(v.bits, "error", "errors"), v.margin);
    else if (v.bits > 0)
        printNow(stderr, "frame %" PRId64 ": %d bit %s (margin %.2f)\n", v.frame, v.bits,
                 plural(v.bits, "error", "errors"), v.margin);
}

void saySummary(const FrameCheck& check)
{
    const Tally& tally = check.tally;
    if (tally.frames > 0 && tally.noBand == tally.frames)
        printNow(stderr, "wmextract: no watermark band found in \"%s\"\n", check.videoName);
    saySummaryLine(check);
}

void saySummaryLine(const FrameCheck& check)
{
    const Tally& tally = check.tally;
    if (check.clock != nullptr) {
        sayClockSummary(check);
        return;
    }
    char code[80] = "";
    if (check.args->fecDataBytes != 0)
        std::snprintf(code, sizeof code, "; %" PRId64 " corrected, %" PRId64 " uncorrectable",
                      tally.corrected, tally.uncorrectable);
    if (check.data == nullptr) {
        printNow(stderr, "extracted %" PRId64 " %s, smallest margin %.2f%s\n", tally.frames,
                 plural(tally.frames, "payload", "payloads"), tally.smallestMargin, code);
        return;
    }
    char timing[160] = "";
    if (check.aligner != nullptr) {
        const AlignmentTotals& t = check.aligner->totals();
        if (t.firstRecord < 0)
            std::snprintf(timing, sizeof timing, "; no record matched");
        else
            std::snprintf(timing, sizeof timing,
                          "; records %" PRId64 "-%" PRId64 ": %" PRId64 " matched, %" PRId64
                          " missing, %" PRId64 " repeated, %" PRId64 " out of order",
                          t.firstRecord, t.lastRecord, t.matched, t.missing, t.repeated,
                          t.outOfOrder);
    }
    char pairs[80] = "";
    if (check.pairing != nullptr) {
        const PairTally& p = check.pairing->tally;
        std::snprintf(pairs, sizeof pairs, "; paired %" PRId64 " %s, %" PRId64 " by expectation",
                      p.frames, plural(p.frames, "frame", "frames"), p.byExpectation);
    }
    printNow(stderr,
             "checked %" PRId64 " %s, %" PRId64 " differ, %" PRId64
             " bit %s, smallest margin %.2f%s%s%s\n",
             tally.frames, plural(tally.frames, "frame", "frames"), tally.differing,
             tally.bitErrors, plural(tally.bitErrors, "error", "errors"), tally.smallestMargin,
             timing, code, pairs);
}
