#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "watermark.h"

uint64_t frameSize = 0;
uint8_t* frameBuf = nullptr;
uint8_t* pUPlane = nullptr;
uint8_t* pVPlane = nullptr;
FrameGeometry frameGeometry{};

namespace {

// The one frame allocation of the run. On Linux it is aligned to and
// rounded up to whole 2 MiB pages and advised for transparent huge pages:
// a frame spans 760 small pages, and their TLB misses cost more than the
// copying itself. Plain malloc wherever that cannot be had; free releases
// either.
uint8_t* allocateFrame(size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr size_t hugePage = size_t{2} << 20;
    const size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    if (void* buf = std::aligned_alloc(hugePage, rounded)) {
        (void)madvise(buf, rounded, MADV_HUGEPAGE);
        return static_cast<uint8_t*>(buf);
    }
#endif
    return static_cast<uint8_t*>(std::malloc(bytes));
}

} // namespace

bool setUpFrameBuffer()
{
    return setUpFrameBuffer(builtInGeometry);
}

bool setUpFrameBuffer(const FrameGeometry& geometry)
{
    const uint64_t bytes = geometry.frameBytes();
    uint8_t* buf = allocateFrame(static_cast<size_t>(bytes));
    if (buf == nullptr)
        return false;
    frameGeometry = geometry;
    frameSize = bytes;
    frameBuf = buf;
    pUPlane = frameBuf + geometry.uOffset();
    pVPlane = frameBuf + geometry.vOffset();
    return true;
}

void releaseFrameBuffer()
{
    std::free(frameBuf);
    frameBuf = nullptr;
    pUPlane = nullptr;
    pVPlane = nullptr;
    frameSize = 0;
}

const char* geometryProblem(const FrameGeometry& g)
{
    if (g.width % 2 != 0 || g.height % 2 != 0)
        return "width and height must be even";
    if (g.width < minFrameWidth || g.width > maxFrameWidth)
        return "width must be 320 to 8192";
    if (g.height < minFrameHeight || g.height > maxFrameHeight)
        return "height must be 180 to 4320";
    if (g.bitDepth != 8 && g.bitDepth != 10)
        return "samples must be 8 or 10 bits";
    if (g.bandRows < minBandRows || g.bandRows > maxBandRows)
        return "band rows must be 2 to 16";
    return nullptr;
}

std::array<FrameSpan, 3> stampedSpans(const FrameGeometry& g)
{
    return {FrameSpan{0, g.bandBytes()}, FrameSpan{g.uOffset(), g.neutralBytes()},
            FrameSpan{g.vOffset(), g.neutralBytes()}};
}
