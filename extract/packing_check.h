// Whether the K of --fec is the one the payloads were packed with. A clean
// payload packed with K data bytes has 60 - K zero syndromes from S_0 on:
// more with a K that is too large, fewer with one too small, so a wrong K is
// found from the frames, without the data. Pure logic; no I/O.
#pragma once

#include <array>
#include <cstdint>

#include "reed_solomon.h"
#include "watermark.h"

struct PackingCheck {
    int dataBytes = 0;  // the K given
    int64_t frames = 0; // frames noted
    // Frames whose payload has exactly q zero syndromes from S_0 on, for q
    // from 2 (fewer says nothing: a damaged word, or chance).
    std::array<int64_t, payloadSize - minDataBytes + 1> words{};
};

// Evidence needed for another K: its frames' zero syndromes beyond (or short
// of) the given K's, added up, must reach this (a chance of 1 in 256 to this
// power for the right K), the frames must outnumber those that fit the given
// K, and be at least one in framesPerWord of all frames (damage aside,
// random payloads show a few by chance).
constexpr int64_t packingEvidence = 4;
constexpr int64_t framesPerWord = 64;

// Notes the payload of one frame as read (before correction). Returns the K
// the payloads were packed with once the frames show that it is not the
// given one; 0 while they do not.
int notePacking(PackingCheck& check, const uint8_t payload[payloadSize]);
