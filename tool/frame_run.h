// One wmstamp run as the two ways of moving frames (streaming them, or
// copying the file and stamping in place) share it: the streams, the count,
// and what each frame says on the console.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "payload_reader.h"
#include "stream_io.h"
#include "video_input.h"
#include "watermark.h"

struct FrameRun {
    VideoInput in; // its layout is the output's: raw, or YUV4MPEG2 with its header
    PayloadReader wm;
    NamedStream out;
    FILE* pConsole = stdout;
    int64_t frameCount = 0;
    std::array<uint8_t, payloadSize> markDat{}; // as the last record read left it
    std::array<uint8_t, payloadSize> wmData{};  // the payload being stamped
    bool payloadAhead = false;                  // wmData already holds the next frame's
    bool outputStarted = false;                 // an existing output has been emptied
    uint64_t keptBytes = 0;      // what was written whole, from the output's start: the
                                 // header, then whole frames with their FRAME lines
    uint64_t lastFrameStart = 0; // where the last whole frame (its FRAME line) starts
    int stoppedBy = 0;           // the signal that ended the run early
    bool clock = false;          // --clock: payloads are clock records
    uint64_t clockRun = 0;       // the clock records' run identifier
};

constexpr int statusOk = 0;
constexpr int statusIoError = 5;

// The next frame's payload in run.wmData, saying once that the data ran
// out. statusIoError on a read error, said.
int nextPayload(FrameRun& run);

// In the clock form, the frame's record in run.wmData: its counter and the
// time now. Called just before the frame's stamped bytes are written, on
// every path, so that a live source is stamped as its frames pass.
void takeStampTime(FrameRun& run);

// A run identifier for the clock records: random, so that a reader can
// tell a restarted source from the one it was following.
uint64_t newClockRun();

// Empties an existing output the first time a frame is about to be
// written (a run that fails before that leaves it as it was), and writes a
// YUV4MPEG2 output's stream header. A stop that breaks the header's write
// is no failure: run.stoppedBy is then set.
int startOutput(FrameRun& run);

// Counts a frame handed to the output whole, `bytes` with its FRAME line,
// with the progress line.
void countFrame(FrameRun& run, uint64_t bytes);

// Whether a stop signal has come; the run then ends at this frame boundary.
bool stopRequested(FrameRun& run);

// Cuts the output back to its whole stamped frames after a failure or a
// stop (a pipe cannot be cut: what went is gone). After a failure only the
// frames known to be on disk are kept; where even the cut fails, standard
// error says what the output holds.
void keepWholeFrames(FrameRun& run, bool failed);

// Messages for failures of the source, the data and the output; each
// returns statusIoError.
int inputError(const FrameRun& run, int err);
int outputError(const FrameRun& run, int err);

// Streams frames from the source's current position to the output's: read
// (with its FRAME line), stamp, write, count, until a read delivers less
// than a whole frame.
int streamFrames(FrameRun& run);

// Clones the source into the output where both are regular files on a
// file system that shares blocks, and stamps each cloned frame in place
// (after its FRAME line in a YUV4MPEG2 stream, whose header and FRAME lines
// come with the clone); elsewhere splices each frame through a pipe.
// Sets `streamRest` where streaming must take over (nothing copied by the
// call that refused); the streams are then positioned for it.
int copyFrames(FrameRun& run, bool& streamRest);
