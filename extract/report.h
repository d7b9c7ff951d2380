// The per-frame report: a CSV line a frame, for programs, each ended by a
// line feed alone on every platform.
#pragma once

#include "frame_check.h"

// Writes the header line; false, with errno set, on failure.
bool startReport(const NamedStream& report);

// Writes the frame's line; false, with errno set, on failure.
bool writeReportLine(const NamedStream& report, const FrameCheck& check, const FrameVerdict& v);
