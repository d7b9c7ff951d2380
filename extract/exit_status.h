// The status a finished pass of wmextract ends with: a function of its
// counts alone.
#pragma once

#include "alignment.h"
#include "clock_check.h"
#include "tally.h"

// What --whole asks of a verification: every record of DATA shown, in
// step, none missing from either end.
struct WholeCheck {
    bool asked = false;
    int64_t records = 0; // in DATA, a short last one included
};

// Whether the frames showed every one of `whole.records` records in step.
bool showedWhole(const Tally& tally, const AlignmentTotals* timing, const WholeCheck& whole);

// `timing` is the alignment's totals where frames were matched by content
// (nullptr otherwise); `verify` tells the verify form from the extract form.
int exitStatus(const Tally& tally, const AlignmentTotals* timing, bool verify,
               const WholeCheck& whole = {});

// The clock form's status, as --verify's: 3 for frames uncorrectable or
// without a band, 4 out of step, else 0.
int clockExitStatus(const Tally& tally, const ClockTotals& totals);
