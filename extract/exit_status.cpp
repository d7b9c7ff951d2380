#include "exit_status.h"

bool showedWhole(const Tally& tally, const AlignmentTotals* timing, const WholeCheck& whole)
{
    if (timing == nullptr)
        return tally.recordsUsed >= whole.records;
    return timing->firstRecord == 0 && timing->lastRecord == whole.records - 1 &&
           timing->missing == 0 && timing->repeated == 0 && timing->outOfOrder == 0;
}

int exitStatus(const Tally& tally, const AlignmentTotals* timing, bool verify,
               const WholeCheck& whole)
{
    // No band in any frame is not a video this tool stamped.
    if (tally.noBand == tally.frames)
        return 3;
    // A payload beyond the code's reach is written as read: not what was
    // stamped, in either form.
    if (tally.uncorrectable > 0)
        return 3;
    if (!verify)
        return 0;
    if (tally.differing > 0)
        return 3;
    // A file cut short, or a later start, is not the whole of what was
    // stamped.
    if (whole.asked && !showedWhole(tally, timing, whole))
        return 3;
    const bool timingChanged = timing != nullptr && (timing->missing > 0 || timing->repeated > 0 ||
                                                     timing->outOfOrder > 0);
    return timingChanged ? 4 : 0;
}

int clockExitStatus(const Tally& tally, const ClockTotals& totals)
{
    // No band, or a record beyond its code, ends as the extract form does.
    const int status = exitStatus(tally, nullptr, false);
    return status != 0 ? status : clockInStep(totals) ? 0 : 4;
}
