// Opening the programs' files with the sharing rules the tools rely on:
// inputs shared with readers but not writers, the output exclusive and
// truncated only once nothing refuses it. One implementation per platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>

// Process-wide set-up before any file is touched: write errors are errors,
// not signals; standard input, output and error are open, so that no file
// the program opens can stand in for one of them; and the arguments are
// UTF-8 (on Windows they are taken anew from the UTF-16 command line).
void preparePlatform(int& argc, char**& argv);

// Whether a standard stream was closed when the program started (it has
// been reopened on the null device since, so writes to it would vanish).
bool wasClosedAtStart(FILE* pStream);

// Opens an existing file for binary reading. nullptr on failure, including
// a directory or a file another instance is writing (errno EAGAIN).
FILE* openInputFile(const char* name);

// Opens (creating if absent) a file for binary writing, as it is: the
// caller empties it with cutFileTo once it has something to write in its
// place. nullptr on failure, and then an existing file is left as it was: a
// directory, a file that is one of the `others` open streams by any path
// (errno EBUSY), or a file or named pipe another instance holds (EAGAIN).
FILE* openOutputFile(const char* name, std::initializer_list<FILE*> others);

// Whether `name` designates the file open as `pFile`, by any path.
bool namesOpenFile(const char* name, FILE* pFile);

// Whether an open file is a regular file with at least one byte in it.
// Asked of the file that was opened, never of its name: a file renamed over
// the name in between is not the one that would be emptied.
bool hasContent(FILE* pFile);

// Whether two streams are one file (or one pipe). Character devices never
// count: /dev/null may well be an input and the output at once.
bool isSameFile(FILE* pOne, FILE* pOther);

// The bytes left to read in a regular file, from the stream's position;
// false for pipes, devices and anything else that cannot seek.
bool bytesLeftInFile(FILE* pFile, uint64_t& bytes);

// A regular file's position, and a move back or forth to one, past 2 GiB
// and 4 GiB alike; false for pipes, devices and anything else that cannot
// seek, or on failure (errno set).
bool positionInFile(FILE* pFile, uint64_t& at);
bool moveToPosition(FILE* pFile, uint64_t at);

// Where an output's own bytes begin. A file the program opened starts at 0;
// standard output starts where the shell left it, after what it already
// holds, and in append mode at the file's end. Found by the first call,
// which is made before anything is written to it.
uint64_t outputStart(FILE* pFile);

// Cuts a regular file to `bytes` bytes past its start (outputStart), never
// below it, and leaves its offset there, after what the program kept; other
// files are left as they are. False, with errno set, on failure. The stream
// must hold nothing unwritten.
bool cutFileTo(FILE* pFile, uint64_t bytes);

// Waits until what was written to a regular file is on its disk. False,
// with errno set, when some of it may not be; true for other files.
bool syncToDisk(FILE* pFile);

// From here on, SIGINT, SIGTERM (and SIGHUP where there is one) only mark
// the run as stopped, and a blocked read or write returns early (within a
// second where the signal came just before it started to wait), so that
// the run can end at a frame boundary.
void catchStopSignals();

// The stop signal seen, or 0.
int stopSignalSeen();

// Ends the process by `sig` as if it had not been caught, so that the
// shell sees it.
[[noreturn]] void endBySignal(int sig);

// Moves a stream `bytes` forward, past 2 GiB and 4 GiB alike. False, with
// errno set, on failure.
bool skipForward(FILE* pFile, uint64_t bytes);

// Whether the read error just seen is a pipe whose writer disconnected,
// which ends the input like an end of file.
bool readEndedByDisconnect();

// The reason for a failed call, worded for the platform.
const char* describeError(int err);

// Whether a stream is a terminal, where a progress line belongs.
bool isTerminal(FILE* pStream);

// Standard input or output carrying binary data rather than text: binary
// mode, blocking transfers, and a large pipe buffer where it is a pipe.
void useForData(FILE* pStream);

#ifdef _WIN32
// The UTF-16 name a file is opened by: in the absolute \\?\ form where its
// full path is too long for the plain calls, however short the name typed
// (a relative name in a deep folder). nullptr for a name that is not UTF-8.
const wchar_t* wideName(const char* name);
#endif
