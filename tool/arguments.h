// wmstamp's command line, parsed without touching any file.
#pragma once

#include "command_line.h"
#include "video_options.h"

enum class StampForm {
    help,    // --help: the usage text on standard output
    version, // --version
    stamp,   // SOURCE WATERMARK OUTPUT, or --clock SOURCE OUTPUT
};

struct StampArgs {
    StampForm form = StampForm::stamp;
    const char* source = nullptr; // the raw video read
    const char* data = nullptr;   // the watermark data file; nullptr with --clock
    const char* output = nullptr; // the stamped video written
    bool force = false;           // --force: OUTPUT may replace a file that is no video
    bool clock = false;           // --clock: each frame carries its counter and time, no data
    VideoOptions videoOptions;    // --size, --format, --band-rows
};

// Options may stand before, between or after the names; "-" is a name.
// False on a usage error, with the reason in `error` where it is more than
// the wrong names.
bool parseStampArgs(int argc, const char* const* argv, StampArgs& args, UsageError& error);
