// The per-frame report: a CSV line a frame, for programs, each ended by a
// line feed alone on every platform.
#pragma once

#include "frame_check.h"

// Writes the header line, with the column `paired` where frames are
// paired; false, with errno set, on failure.
bool startReport(PieceOutput& report, bool paired = false);

// Writes the frame's line, whole, at once; false, with errno set, on
// failure.
bool writeReportLine(PieceOutput& report, const FrameCheck& check, const FrameVerdict& v);
