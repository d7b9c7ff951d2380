// The records of the watermark data, read into a store for matching: all of
// a regular file at once, a pipe or device as far as the frames need.
#pragma once

#include <cstdint>

#include "alignment.h"
#include "payload_reader.h"

// Sets `store` to read from `reader`, packing each record with the payload
// code when fecDataBytes is not 0 (DATA then holds the data bytes alone).
// `readError` becomes errno when a read fails; the store ends there. A
// regular file is read whole here, and std::bad_alloc thrown when its
// records do not fit in memory.
void attachData(RecordStore& store, PayloadReader& reader, int fecDataBytes, int& readError);
