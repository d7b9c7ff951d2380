// The band decoder on any rows at any size the tools take: the first four
// bytes choose the width, the depth, the rows looked at and the height; the
// rest are the rows' samples. The band's rows found are among those looked
// at, the margin is in range, and the payload read, stamped again into
// every row at that size, reads back as itself at the full margin (and,
// where symbols are wider than 4 samples, looks like a band).
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "watermark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int width =
        minFrameWidth + 2 * ((data[0] | data[1] << 8) % ((maxFrameWidth - minFrameWidth) / 2 + 1));
    const int bitDepth = (data[2] & 1) != 0 ? 10 : 8;
    const int rows = minBandRows + (data[2] >> 1) % (maxBandRows - minBandRows + 1);
    const int height = minFrameHeight + 2 * (data[3] * 8 % ((maxFrameHeight - minFrameHeight) / 2));
    const size_t rowBytes = static_cast<size_t>(width) * (bitDepth > 8 ? 2 : 1);
    std::vector<uint8_t> plane(rowBytes * static_cast<size_t>(rows));
    for (size_t i = 4; i < size && i - 4 < plane.size(); ++i)
        plane[i - 4] = data[i];
    const auto stride = static_cast<ptrdiff_t>(rowBytes);

    const BandRows band = findBandRows(plane.data(), stride, width, bitDepth, height, rows);
    if (band.found < 1 || band.found > rows || (band.sure && band.found != rows))
        std::abort();
    std::array<uint8_t, payloadSize> payload{}, again{};
    const double margin = decodeBand(plane.data(), stride, width, bitDepth, band, payload.data());
    if (!(margin >= 0.0 && margin <= maxMargin))
        std::abort();
    (void)looksLikeBand(plane.data(), stride, width, bitDepth, band);
    (void)chromaRowsNeutral(plane.data(), plane.data() + rowBytes / 2, width / 2, bitDepth);

    for (int r = 0; r < rows; ++r)
        encodeBandRow(payload.data(), payloadSize, plane.data() + r * stride, width, bitDepth);
    const BandRows stamped = findBandRows(plane.data(), stride, width, bitDepth, height, rows);
    if (stamped.found != rows ||
        decodeBand(plane.data(), stride, width, bitDepth, stamped, again.data()) != maxMargin ||
        again != payload)
        std::abort();
    if (width > 4 * bandSymbols && !looksLikeBand(plane.data(), stride, width, bitDepth, stamped))
        std::abort();
    return 0;
}
