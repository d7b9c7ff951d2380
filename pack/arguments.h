// wmpack's command line, parsed without touching any file.
#pragma once

#include "command_line.h"

enum class PackForm {
    help,    // --help: the usage text on standard output
    version, // --version
    pack,    // [--data-bytes K] [--force] DATA PACKED
};

struct PackArgs {
    PackForm form = PackForm::pack;
    int dataBytes = 40;           // --data-bytes K: data bytes in each 60-byte record
    bool force = false;           // --force: PACKED may replace a file with data
    const char* data = nullptr;   // the records to protect
    const char* packed = nullptr; // the watermark data file written
};

// Options may stand before, between or after the names; "-" is a name.
// False on a usage error, with the reason in `error` where it is more than
// the wrong names.
bool parsePackArgs(int argc, const char* const* argv, PackArgs& args, UsageError& error);
