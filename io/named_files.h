// The names the programs are given: "-" stands for standard input or
// output, anything else is a file opened with the platform's sharing rules.
#pragma once

#include <cstdio>
#include <initializer_list>

#include "stream_io.h"

bool isStandardStreamName(const char* name);

// Opens an input by name, or standard input, made ready for data, for "-".
// `owner` closes a file it opened. nullptr on failure, with errno set.
FILE* openInputName(const char* name, Stream& owner);

// Opens an output by name, or standard output, made ready for data, for
// "-"; never one of `inputs`, and never a standard output that was closed
// at start. nullptr on failure, with errno set.
FILE* openOutputName(const char* name, std::initializer_list<FILE*> inputs, Stream& owner);

// An open input and what a refusal says of it ("it is the video itself").
struct HeldFile {
    FILE* pFile;
    const char* refusal;
};

// Why `name` could not be opened, in words a user can act on: which of the
// run's own files it is, that another program holds it, or the system's
// reason.
const char* openFailureReason(const char* name, int err, std::initializer_list<HeldFile> inputs);

// Opens an output that the run fills from scratch (payloads, packed
// records, a report, a paired video) and empties it: never one of `inputs`
// (at most five),
// and never a file that already holds data unless `force`, since two names
// swapped on the command line would otherwise replace the data with what
// was read. nullptr on failure, with `reason` in words.
FILE* openFreshOutput(const char* name, bool force, std::initializer_list<HeldFile> inputs,
                      Stream& owner, const char*& reason);
