// The band decoder on any two rows: a payload and a margin in range, and
// the payload it reads, stamped again, reads back as itself.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "watermark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::array<uint8_t, bandLength> rows{};
    std::memcpy(rows.data(), data, size < rows.size() ? size : rows.size());
    std::array<uint8_t, payloadSize> payload{}, again{};
    const double margin =
        decodeBandRows(rows.data(), rows.data() + frameWidth, payloadSize, payload.data());
    if (!(margin >= 0.0 && margin <= maxMargin))
        std::abort();
    (void)looksLikeBand(rows.data(), rows.data() + frameWidth, payloadSize);
    encodeBandRow(payload.data(), payloadSize, rows.data(), frameWidth);
    encodeBandRow(payload.data(), payloadSize, rows.data() + frameWidth, frameWidth);
    if (decodeBandRows(rows.data(), rows.data() + frameWidth, payloadSize, again.data()) !=
            maxMargin ||
        again != payload || !looksLikeBand(rows.data(), rows.data() + frameWidth, payloadSize))
        std::abort();
    return 0;
}
