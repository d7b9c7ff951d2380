// Which frame of the stamped source each decoded frame is paired with, for
// quality metrics that compare frame n with frame n: the one whose record
// it carries where its content names one, the one the order of the frames
// puts there otherwise. Pure logic; no I/O.
#pragma once

#include <cstdint>

#include "alignment.h"

enum class PairedBy {
    none,     // no pairing asked for
    record,   // the frame's own record, which no other record of DATA shares
    expected, // where the order puts the frame: its content cannot tell
};

struct PairChoice {
    int64_t source = -1; // the frame of the stamped source
    PairedBy by = PairedBy::none;
};

// The stamped frame for a decoded frame matched as `match`. `band`: the
// frame looks stamped, or its record vouches for it. `byContent`: frames
// were matched by content (false: by position, where every pair is the
// order's). An unidentified frame, one with no band and one past the
// data's end take the frame the order expects; a frame whose record's
// content stands elsewhere in DATA too keeps the record the order chose
// among those, and both count as paired by expectation.
PairChoice choosePair(const FrameMatch& match, bool band, bool byContent);

// The column the report gives a pair.
const char* pairedByName(PairedBy by);

// What the pairs of a pass add up to.
struct PairTally {
    int64_t frames = 0;        // frames written to the paired video
    int64_t byExpectation = 0; // of which paired where the order puts them
};

void countPair(PairTally& tally, const PairChoice& choice);
