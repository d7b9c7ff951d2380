#include <cstdlib>

#include "watermark.h"

uint64_t frameSize = 0;
uint8_t* frameBuf = nullptr;
uint8_t* pUPlane = nullptr;
uint8_t* pVPlane = nullptr;

bool setUpFrameBuffer()
{
    const int32_t bytes = lumaPlaneSize * 3 / 2;
    auto* buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
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
