// The status a finished pass of wmextract ends with: a function of its
// counts alone.
#pragma once

#include "alignment.h"
#include "tally.h"

// `timing` is the alignment's totals where frames were matched by content
// (nullptr otherwise); `verify` tells the verify form from the extract form.
int exitStatus(const Tally& tally, const AlignmentTotals* timing, bool verify);
