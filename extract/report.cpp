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

bool startReport(const NamedStream& report)
{
    return std::fputs("frame,record,bit_errors,margin,next_bits,step,ambiguous\n", report.pFile) >=
           0;
}

bool writeReportLine(const NamedStream& report, const FrameCheck& check, const FrameVerdict& v)
{
    // The record columns stay empty where there is no record.
    const FrameMatch& m = v.match;
    int written = 0;
    if (check.data == nullptr)
        written = std::fprintf(report.pFile, "%" PRId64 ",,,%.2f,,%s,\n", v.frame, v.margin,
                               v.band ? "" : "no band");
    else if (m.step == Step::unidentified || !v.band)
        written =
            std::fprintf(report.pFile, "%" PRId64 ",,,%.2f,%d,%s,%d\n", v.frame, v.margin,
                         m.nextBits, v.band ? "unidentified" : "no band", m.ambiguous ? 1 : 0);
    else
        written = std::fprintf(report.pFile, "%" PRId64 ",%" PRId64 ",%d,%.2f,%d,%s,%d\n", v.frame,
                               m.record, v.bits, v.margin, m.nextBits, stepName(m.step),
                               m.ambiguous ? 1 : 0);
    return written > 0;
}
