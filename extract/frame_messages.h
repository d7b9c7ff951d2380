// What wmextract says, on standard error: each frame's verdict in words as
// it is found, and the summary line at the end of the pass.
#pragma once

#include "frame_check.h"

void sayFrame(const FrameCheck& check, const FrameVerdict& verdict);
void saySummary(const FrameCheck& check);
// The summary line alone, as --every prints it while the pass goes on.
void saySummaryLine(const FrameCheck& check);
