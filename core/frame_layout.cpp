#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "watermark.h"

uint64_t frameSize = 0;
uint8_t* frameBuf = nullptr;
uint8_t* pUPlane = nullptr;
uint8_t* pVPlane = nullptr;

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
    const int32_t bytes = lumaPlaneSize * 3 / 2;
    uint8_t* buf = allocateFrame(static_cast<size_t>(bytes));
    if (buf == nullptr)
        return false;
    frameSize = static_cast<uint64_t>(static_cast<int64_t>(bytes));
    frameBuf = buf;
    pUPlane = frameBuf + uPlaneOffset;
    pVPlane = frameBuf + vPlaneOffset;
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
