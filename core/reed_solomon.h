// A systematic Reed-Solomon code over GF(256) shortened to one 60-byte
// payload: `dataBytes` bytes of data, then 60 - dataBytes parity bytes.
// Field polynomial x^8 + x^4 + x^3 + x^2 + 1 (0x11d), generator roots
// alpha^0 .. alpha^(parity - 1). No I/O lives here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "watermark.h"

// The data sizes wmpack accepts: at least 2 parity bytes, at most 40.
constexpr int minDataBytes = 20;
constexpr int maxDataBytes = 58;

// Writes the 60 - dataBytes parity bytes of word[0 .. dataBytes) after
// them, into word[dataBytes .. 60). dataBytes from 1 to 59.
void rsEncode(uint8_t word[payloadSize], int dataBytes);

// How many syndromes, from S_0 on, are zero, up to 60 - minDataBytes. The
// codes are nested (a word packed with P parity bytes is a word of every
// code with fewer), so a clean word packed with P has at least P, and more
// only by chance, 1 in 256 for each. It stops at the first that is not
// zero: a damaged word costs one.
int rsZeroSyndromes(const uint8_t word[payloadSize]);

// Corrects `word` in place, taking the bytes at `erasures` (indices into
// the word, each at most once) as unknown. Returns the number of bytes it
// changed, or -1 when the word is beyond the code's reach (more than
// (parity - erasures) / 2 wrong bytes besides the erasures); the word is
// then left as it was.
int rsDecode(uint8_t word[payloadSize], int dataBytes, const int* erasures = nullptr,
             int erasureCount = 0);
