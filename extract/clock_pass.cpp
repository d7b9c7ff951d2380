#include "clock_pass.h"

#include <cinttypes>
#include <cstdio>

#include "exit_status.h"
#include "platform.h"

namespace {

// One frame, as found.
struct ClockVerdict {
    int64_t frame = 0;
    int64_t arrivedNs = 0;
    ClockRead read = ClockRead::uncorrectable;
    bool band = true; // a frame with no record still looks stamped
    ClockRecord record;
    ClockEvent event;
};

const char* stepName(const ClockVerdict& v)
{
    if (v.read != ClockRead::ok)
        return v.band ? "uncorrectable" : "no band";
    switch (v.event.step) {
    case ClockStep::inStep:
        return "in step";
    case ClockStep::starts:
        return "starts";
    case ClockStep::skips:
        return "after missing";
    case ClockStep::repeats:
        return "repeat";
    case ClockStep::outOfOrder:
        return "out of order";
    case ClockStep::restarts:
        break;
    }
    return "restart";
}

void sayClockFrame(const ClockVerdict& v)
{
    if (v.read != ClockRead::ok) {
        if (!v.band)
            printNow(stderr, "frame %" PRId64 ": no band\n", v.frame);
        else if (v.read == ClockRead::notClock)
            printNow(stderr, "frame %" PRId64 ": not a clock record\n", v.frame);
        else
            printNow(stderr, "frame %" PRId64 ": uncorrectable (more than %d wrong bytes)\n",
                     v.frame, (static_cast<int>(payloadSize) - clockDataBytes) / 2);
        return;
    }
    const ClockEvent& e = v.event;
    switch (e.step) {
    case ClockStep::starts:
        printNow(stderr, "starts at counter %" PRIu64 "\n", v.record.counter);
        break;
    case ClockStep::skips:
        if (e.missingFrom == e.missingTo)
            printNow(stderr, "counter %" PRIu64 " missing before frame %" PRId64 "\n",
                     e.missingFrom, v.frame);
        else
            printNow(stderr, "counters %" PRIu64 "-%" PRIu64 " missing before frame %" PRId64 "\n",
                     e.missingFrom, e.missingTo, v.frame);
        break;
    case ClockStep::repeats:
        printNow(stderr, "frame %" PRId64 " repeats counter %" PRIu64 "\n", v.frame,
                 v.record.counter);
        break;
    case ClockStep::outOfOrder:
        printNow(stderr,
                 "frame %" PRId64 " is out of order: counter %" PRIu64 " after counter %" PRIu64
                 "\n",
                 v.frame, v.record.counter, e.lastCounter);
        break;
    case ClockStep::restarts:
        printNow(stderr,
                 "frame %" PRId64 ": new run %016" PRIx64 " at counter %" PRIu64
                 " (the source restarted)\n",
                 v.frame, v.record.run, v.record.counter);
        break;
    case ClockStep::inStep:
        break;
    }
}

bool writeClockReportLine(PieceOutput& report, const ClockVerdict& v)
{
    // Formatted first, then written in one piece, as its frame is checked.
    char line[160];
    int length = 0;
    if (v.read != ClockRead::ok)
        length = std::snprintf(line, sizeof line, "%" PRId64 ",,,,%" PRId64 ",,%s\n", v.frame,
                               v.arrivedNs, stepName(v));
    else
        length = std::snprintf(
            line, sizeof line,
            "%" PRId64 ",%016" PRIx64 ",%" PRIu64 ",%" PRId64 ",%" PRId64 ",%.3f,%s\n", v.frame,
            v.record.run, v.record.counter, v.record.stampedNs, v.arrivedNs,
            static_cast<double>(v.arrivedNs - v.record.stampedNs) / 1e6, stepName(v));
    return writePiece(report, line, static_cast<size_t>(length));
}

} // namespace

bool passClockFrame(FrameCheck& check, int64_t arrivedNs)
{
    ClockPass& pass = *check.clock;
    Tally& tally = check.tally;
    ClockVerdict v;
    v.frame = tally.frames++;
    v.arrivedNs = arrivedNs;
    Record word{};
    BandRows band;
    decodeFrameBand(band, word.data());
    int corrected = 0;
    v.read = readClockRecord(word.data(), v.record, corrected);
    tally.corrected += corrected > 0 ? 1 : 0;
    if (v.read == ClockRead::ok) {
        v.event = followClock(pass.sequence, v.record);
        addLatency(pass.latency, arrivedNs - v.record.stampedNs);
    } else {
        // A record its code vouches for is stamped; without one, the band
        // tells an unreadable record from a picture with none.
        v.band = v.read != ClockRead::flat && looksStamped(check, band);
        tally.noBand += v.band ? 0 : 1;
        ++tally.uncorrectable;
        noteUnreadClock(pass.sequence);
    }
    sayClockFrame(v);
    return check.report.stream.pFile == nullptr || writeClockReportLine(check.report, v);
}

bool startClockReport(PieceOutput& report)
{
    static const char header[] = "frame,run,counter,stamped_ns,arrived_ns,latency_ms,step\n";
    return writePiece(report, header, sizeof header - 1);
}

void sayClockSummary(const FrameCheck& check)
{
    const Tally& tally = check.tally;
    const ClockPass& pass = *check.clock;
    const ClockTotals& t = pass.sequence.totals;
    char latency[160] = "latency ms min -, median -, p95 -, max -";
    const LatencyStats& l = pass.latency;
    if (l.count > 0)
        std::snprintf(
            latency, sizeof latency, "latency ms min %.2f, median %.2f, p95 %.2f, max %.2f",
            static_cast<double>(l.least) / 1e6, static_cast<double>(latencyQuantile(l, 0.5)) / 1e6,
            static_cast<double>(latencyQuantile(l, 0.95)) / 1e6,
            static_cast<double>(l.largest) / 1e6);
    printNow(stderr,
             "checked %" PRId64 " %s, %" PRId64 " missing, %" PRId64 " repeated, %" PRId64
             " uncorrectable; %s; %" PRId64 " out of order, %" PRId64 " %s, %" PRId64
             " corrected\n",
             tally.frames, plural(tally.frames, "frame", "frames"), t.missing, t.repeated,
             tally.uncorrectable, latency, t.outOfOrder, t.restarts,
             plural(t.restarts, "restart", "restarts"), tally.corrected);
}
