#include "exit_status.h"

int exitStatus(const Tally& tally, const AlignmentTotals* timing, bool verify)
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
    const bool timingChanged = timing != nullptr && (timing->missing > 0 || timing->repeated > 0 ||
                                                     timing->outOfOrder > 0);
    return timingChanged ? 4 : 0;
}
