// wmextract --clock, frame by frame: each frame's clock record decoded
// with its code, followed against the ones before, said when it is not in
// step, and written as a report line; then the summary line.
#pragma once

#include <cstdint>

#include "clock_check.h"
#include "frame_check.h"

struct ClockPass {
    ClockSequence sequence;
    LatencyStats latency;
};

// Checks the frame whose band rows start frameBuf and whose last byte was
// read at `arrivedNs` (wall clock), counts it in check.tally, says what
// breaks the step and writes its report line. False, with errno set, when
// the report line could not be written.
bool passClockFrame(FrameCheck& check, int64_t arrivedNs);

// Writes the report's header line; false, with errno set, on failure.
bool startClockReport(PieceOutput& report);

// The summary line of the frames checked so far.
void sayClockSummary(const FrameCheck& check);
