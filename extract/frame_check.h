// What wmextract does with each decoded frame: correct it with the payload
// code, match it to a record of the data (by content, or by position), say
// what it finds, and write the payload and the report line.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alignment.h"
#include "arguments.h"
#include "payload_reader.h"
#include "stream_io.h"

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

struct FrameCheck {
    const ExtractArgs* args = nullptr;
    const char* videoName = "";
    PayloadReader* data = nullptr; // the verify form's
    RecordStore store;
    int dataError = 0;               // errno of a failed read of DATA
    FrameAligner* aligner = nullptr; // nullptr: frame k is compared with record k
    NamedStream payloads;            // the extract form's output
    NamedStream report;              // --report, or no stream
    bool ranOutSaid = false;
    Tally tally;
};

// Writes the report's header line; false, with errno set, on failure.
bool startReport(const FrameCheck& check);

// Checks the frame whose band rows start frameBuf. 0, or the status of a
// failure, said.
int checkFrame(FrameCheck& check);

// The summary line at the end of the pass, and the exit status it implies.
int finishCheck(const FrameCheck& check);

int reportReason(int status, const char* what, const char* name, const char* reason);
int reportFailure(int status, const char* what, const char* name, int err);
