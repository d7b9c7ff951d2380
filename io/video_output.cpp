#include "video_output.h"

bool writeVideoHeader(FILE* pFile, const VideoLayout& layout)
{
    return writeBlock(pFile, reinterpret_cast<const uint8_t*>(layout.header.data()),
                      layout.headerBytes);
}

bool writeVideoFrame(FILE* pFile, const FrameLine& line, const uint8_t* frame, size_t bytes)
{
    return writeBlock(pFile, reinterpret_cast<const uint8_t*>(line.text.data()), line.length) &&
           writeBlock(pFile, frame, bytes);
}
