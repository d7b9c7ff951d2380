// What a pass of wmextract counts, frame by frame.
#pragma once

#include <cstdint>

#include "watermark.h"

struct Tally {
    int64_t frames = 0;
    int64_t differing = 0;
    int64_t bitErrors = 0;
    double smallestMargin = maxMargin;
    int64_t corrected = 0;     // frames whose payload the code corrected
    int64_t uncorrectable = 0; // frames beyond the code's reach
    int64_t recordsUsed = 0;   // by position: records compared with a frame
    int64_t noBand = 0;        // frames that do not look stamped
};
