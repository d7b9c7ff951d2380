#include "video_options.h"

#include <cstdio>
#include <cstring>

bool takeSize(CommandLine& line, const char* value, VideoOptions& options)
{
    // W and H in decimal, an "x" between; limits and evenness as geometry
    // has them.
    const char* cross = std::strchr(value, 'x');
    char width[8] = "";
    FrameGeometry g;
    if (cross == nullptr || cross - value >= static_cast<ptrdiff_t>(sizeof width))
        return line.refuse("the size is WxH, such as 1280x720");
    std::memcpy(width, value, static_cast<size_t>(cross - value));
    int w = 0, h = 0;
    if (!parseWholeNumber(width, 1, 99999, w) || !parseWholeNumber(cross + 1, 1, 99999, h))
        return line.refuse("the size is WxH, such as 1280x720");
    g.width = w;
    g.height = h;
    g.bandRows = bandRowsFor(h);
    if (const char* problem = geometryProblem(g))
        return line.refuse(problem);
    options.width = w;
    options.height = h;
    return true;
}

bool takeFormat(CommandLine& line, const char* value, VideoOptions& options)
{
    for (int bitDepth : {8, 10}) {
        if (std::strcmp(value, formatName(bitDepth)) == 0) {
            options.bitDepth = bitDepth;
            return true;
        }
    }
    return line.refuse("FORMAT is yuv420p or yuv420p10le");
}

bool takeBandRows(CommandLine& line, const char* value, VideoOptions& options)
{
    if (!parseWholeNumber(value, minBandRows, maxBandRows, options.bandRows))
        return line.refuse("R is 2 to 16");
    return true;
}

const char* formatName(int bitDepth)
{
    return bitDepth > 8 ? "yuv420p10le" : "yuv420p";
}

FrameGeometry rawGeometry(const VideoOptions& options)
{
    FrameGeometry g = builtInGeometry;
    if (options.width != 0) {
        g.width = options.width;
        g.height = options.height;
    }
    if (options.bitDepth != 0)
        g.bitDepth = options.bitDepth;
    g.bandRows = options.bandRows != 0 ? options.bandRows : bandRowsFor(g.height);
    return g;
}

bool applyToY4m(const VideoOptions& options, const char* name, FrameGeometry& geometry,
                char* reason, size_t reasonSize)
{
    if (options.width != 0 &&
        (options.width != geometry.width || options.height != geometry.height)) {
        std::snprintf(reason, reasonSize, "--size %dx%d: \"%s\" is a YUV4MPEG2 stream of %dx%d",
                      options.width, options.height, name, geometry.width, geometry.height);
        return false;
    }
    if (options.bitDepth != 0 && options.bitDepth != geometry.bitDepth) {
        std::snprintf(reason, reasonSize, "--format %s: \"%s\" is a YUV4MPEG2 stream of %s",
                      formatName(options.bitDepth), name, formatName(geometry.bitDepth));
        return false;
    }
    if (options.bandRows != 0)
        geometry.bandRows = options.bandRows;
    return true;
}
