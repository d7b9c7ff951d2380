// When --every's running summary line is due: every period of a steady
// clock from the first frame, without a burst of lines after a stall.
// Pure: the time comes in.
#pragma once

#include <cstdint>

struct SummaryTimer {
    int64_t periodNs = 0; // 0: no running summary
    int64_t nextAt = 0;
    bool started = false;
};

// Whether a line is due at `nowNs`; the first call starts the period.
bool summaryDue(SummaryTimer& timer, int64_t nowNs);
