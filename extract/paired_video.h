// wmextract --pair: for every decoded frame, the frame of the stamped
// source that it shows, written to PAIRED in VIDEO's layout, so that a
// metric comparing frame n with frame n compares each frame with its own
// source.
#pragma once

#include <cstdint>
#include <cstdio>

#include "frame_check.h"
#include "pairing.h"
#include "stamped_source.h"
#include "video_output.h"

struct PairedVideo {
    StampedSource stamped;
    Stream stampedOwner;
    PieceOutput out;                      // PAIRED
    VideoLayout videoLayout;              // VIDEO's, which PAIRED repeats
    const FrameLine* videoLine = nullptr; // the decoded frame's FRAME line, passed on
    const char* videoName = "";
    PairTally tally;
    const uint8_t* frame = nullptr; // the stamped frame chosen for the decoded frame
};

// Opens STAMPED, an input as VIDEO and DATA are ("-" is standard input
// where neither of them is). 0, the status of a failure, said, or
// statusStopped where a stop broke the wait of a named pipe.
int openStamped(PairedVideo& pair, const char* name, FILE* pVideo, FILE* pData);

// Tells what STAMPED is, which must be video of VIDEO's size and sample
// format, and makes room for the frames it needs. 0, or the status of a
// failure, said (statusStopped where a stop broke a read).
int startPairing(PairedVideo& pair, const VideoOptions& options);

// Writes PAIRED's stream header once it is open; false, with errno set,
// on failure.
bool startPairedVideo(PairedVideo& pair);

// Chooses the stamped frame for the decoded frame just checked, notes the
// choice in `verdict` and reads the frame, which must carry its record.
// 0, or the status of a failure, said (statusStopped where a stop broke a
// read).
int pairFrame(PairedVideo& pair, FrameCheck& check, FrameVerdict& verdict);

// Writes the chosen frame, whole, with the decoded frame's FRAME line;
// false, with errno set, on failure.
bool writePairedFrame(PairedVideo& pair, const FrameVerdict& verdict);
