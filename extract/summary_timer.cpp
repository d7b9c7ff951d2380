#include "summary_timer.h"

bool summaryDue(SummaryTimer& timer, int64_t nowNs)
{
    if (timer.periodNs <= 0)
        return false;
    if (!timer.started) {
        timer.started = true;
        timer.nextAt = nowNs + timer.periodNs;
        return false;
    }
    if (nowNs < timer.nextAt)
        return false;
    // Periods that passed with no frame (a stalled stream) give one line,
    // and the next comes a whole period later.
    timer.nextAt += timer.periodNs;
    if (timer.nextAt <= nowNs)
        timer.nextAt = nowNs + timer.periodNs;
    return true;
}
