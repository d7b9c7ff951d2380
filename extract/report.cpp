#include "report.h"

#include <cinttypes>

namespace {

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

} // namespace

bool startReport(PieceOutput& report, bool paired)
{
    static const char header[] = "frame,record,bit_errors,margin,next_bits,step,ambiguous\n";
    static const char pairedHeader[] =
        "frame,record,bit_errors,margin,next_bits,step,ambiguous,paired\n";
    return paired ? writePiece(report, pairedHeader, sizeof pairedHeader - 1)
                  : writePiece(report, header, sizeof header - 1);
}

bool writeReportLine(PieceOutput& report, const FrameCheck& check, const FrameVerdict& v)
{
    // Formatted first, then written in one piece: a line reaches the file
    // whole, as its frame is checked. The record columns stay empty where
    // there is no record.
    const FrameMatch& m = v.match;
    char line[160];
    int length = 0;
    if (check.data == nullptr)
        length = std::snprintf(line, sizeof line, "%" PRId64 ",,,%.2f,,%s,\n", v.frame, v.margin,
                               v.band ? "" : "no band");
    else if (m.step == Step::unidentified || !v.band)
        length =
            std::snprintf(line, sizeof line, "%" PRId64 ",,,%.2f,%d,%s,%d\n", v.frame, v.margin,
                          m.nextBits, v.band ? "unidentified" : "no band", m.ambiguous ? 1 : 0);
    else
        length = std::snprintf(line, sizeof line, "%" PRId64 ",%" PRId64 ",%d,%.2f,%d,%s,%d\n",
                               v.frame, m.record, v.bits, v.margin, m.nextBits, stepName(m.step),
                               m.ambiguous ? 1 : 0);
    // A paired frame's line ends with how its source frame was chosen.
    if (v.pair.by != PairedBy::none && length > 0)
        length = std::snprintf(line + length - 1, sizeof line - static_cast<size_t>(length) + 1,
                               ",%s\n", pairedByName(v.pair.by)) +
                 length - 1;
    return writePiece(report, line, static_cast<size_t>(length));
}
