// wmextract's command line, parsed without touching any file.
#pragma once

#include <cstdint>

#include "command_line.h"
#include "video_options.h"

enum class ExtractForm {
    help,    // --help: the usage text on standard output
    version, // --version
    extract, // VIDEO PAYLOADS
    verify,  // --verify DATA VIDEO
    clock,   // --clock VIDEO
};

struct ExtractArgs {
    ExtractForm form = ExtractForm::extract;
    bool bandOnly = false;          // --band: VIDEO holds only the band rows
    bool force = false;             // --force: PAYLOADS may replace a file with data
    int fecDataBytes = 0;           // --fec K: payloads carry K data bytes and a code; 0 without
    bool byPosition = false;        // --by-position: frame k is compared with record k
    bool whole = false;             // --whole: every record of DATA must be shown, in step
    const char* report = nullptr;   // --report FILE: a CSV line for every frame
    int64_t everyMs = 0;            // --every S: a running summary line every S seconds; 0 without
    const char* video = nullptr;    // every form that reads
    const char* payloads = nullptr; // the extract form's output
    const char* data = nullptr;     // the verify form's watermark data
    VideoOptions videoOptions;      // --size, --format, --band-rows
    const char* stamped = nullptr;  // --pair: the stamped source, frame k carrying record k
    const char* paired = nullptr;   // --pair: the source frame of every frame of VIDEO
};

// Options may stand in any order before, between or after the names; "-"
// is a name. False on a usage error, with the reason in `error` where it is
// more than the wrong names.
bool parseExtractArgs(int argc, const char* const* argv, ExtractArgs& args, UsageError& error);
