// Opening the three files with the sharing rules the tool relies on:
// inputs shared with readers but not writers, the output exclusive and
// truncated only once nothing refuses it. One implementation per platform.
#pragma once

#include <cstdio>

// Process-wide set-up before any file is touched.
void preparePlatform();

// Opens an existing file for binary reading. nullptr on failure, including
// a directory or a file another instance is writing.
FILE* openInputFile(const char* name);

// Opens (creating if absent) a file for binary writing and empties it.
// nullptr on failure, and then an existing file is left as it was: a
// directory, a file that is either open input by any path, or a file another
// instance holds.
FILE* openOutputFile(const char* name, FILE* pInFile, FILE* pWmFile);

// Whether a stream is a terminal, where a progress line belongs.
bool isTerminal(FILE* pStream);

// Standard input or output carrying binary data rather than text.
void useBinaryMode(FILE* pStream);
