// What wmextract finds in each decoded frame: its payload corrected with
// the code, the record of the data it carries (by content, or by
// position), its bit errors and whether it carries a band at all. Nothing
// here says anything: the verdict goes to the messages and the report.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alignment.h"
#include "arguments.h"
#include "packing_check.h"
#include "pairing.h"
#include "payload_reader.h"
#include "stream_io.h"
#include "tally.h"
#include "watermark.h"

struct ClockPass;
struct PairedVideo;

struct FrameCheck {
    const ExtractArgs* args = nullptr;
    const char* videoName = "";
    PayloadReader* data = nullptr; // the verify form's
    RecordStore store;
    int dataError = 0;               // errno of a failed read of DATA
    FrameAligner* aligner = nullptr; // nullptr: frame k is compared with record k
    PieceOutput payloads;            // the extract form's output
    PieceOutput report;              // --report, or no stream
    bool ranOutSaid = false;
    PackingCheck packing; // with --fec: whether K fits the payloads
    bool refused = false; // the payloads were packed with another K
    Tally tally;
    ClockPass* clock = nullptr;     // --clock: frames carry clock records
    PairedVideo* pairing = nullptr; // --pair: each frame's source frame is written
};

// One frame, as found.
struct FrameVerdict {
    int64_t frame = 0;
    Record payload{}; // as read, then as corrected
    double margin = 0;
    FrameMatch match;    // the verify form's record; step unidentified when none
    int corrected = 0;   // bytes the code changed, -1 beyond its reach, 0 without it
    int bits = 0;        // bit errors against the matched record
    bool band = true;    // looks stamped, or its record vouches for it
    bool ranOut = false; // the first frame past the data's whole records
    PairChoice pair;     // --pair: the stamped frame it is paired with
};

// What a pass returns when a stop signal ended it: nothing to say but the
// summary, and the program then ends by the signal.
constexpr int statusStopped = -1;

// Checks the frame whose band rows start frameBuf and counts it in the
// tally. 0; the status of a failure, said (3 with `refused` set where the
// payloads prove to be packed with another K than --fec's); or
// statusStopped, when a stop broke a read of the data (the frame is then
// not counted).
int checkFrame(FrameCheck& check, FrameVerdict& verdict);

// Decodes the band of the frame (or band rows) at the start of frameBuf
// into `payload`, with the rows it was found on; returns its margin.
double decodeFrameBand(BandRows& band, uint8_t* payload);

// Whether the frame in frameBuf looks stamped: its band rows, and, in a
// whole frame, chroma row 0.
bool looksStamped(const FrameCheck& check, BandRows band);

int reportReason(int status, const char* what, const char* name, const char* reason);
int reportFailure(int status, const char* what, const char* name, int err);
