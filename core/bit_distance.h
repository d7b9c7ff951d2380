// How far apart two payloads are: the bits in which they differ. No I/O.
#pragma once

#include <cstddef>
#include <cstdint>

#include "watermark.h"

// Bits in which the first `bytes` bytes of two payloads differ.
int bitDistance(const uint8_t* a, const uint8_t* b, size_t bytes = payloadSize);
