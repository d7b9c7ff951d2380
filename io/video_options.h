// The options wmstamp and wmextract take about the video: its size, its
// sample format and the rows of its band. Parsing only: nothing here
// touches a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "command_line.h"
#include "frame_geometry.h"

constexpr OptionSpec sizeOption{"--size", "WxH"};
constexpr OptionSpec formatOption{"--format", "FORMAT"};
constexpr OptionSpec bandRowsOption{"--band-rows", "R"};

// What the command line says of the video; 0 where an option was not given.
struct VideoOptions {
    int32_t width = 0;
    int32_t height = 0;
    int bitDepth = 0;
    int bandRows = 0;
};

// Each takes one option's value into `options`, or refuses it through
// `line` with the reason (and returns false).
bool takeSize(CommandLine& line, const char* value, VideoOptions& options);
bool takeFormat(CommandLine& line, const char* value, VideoOptions& options);
bool takeBandRows(CommandLine& line, const char* value, VideoOptions& options);

// The geometry of a raw video: the options' where given, the built-in
// otherwise, and band rows by the rule for the height unless --band-rows.
FrameGeometry rawGeometry(const VideoOptions& options);

// The name of a sample format ("yuv420p", "yuv420p10le").
const char* formatName(int bitDepth);

// Applies the options to the geometry a Y4M header gave: the band rows of
// --band-rows; a --size or --format other than the header's is refused
// with `reason` naming the option, the stream `name` and what it holds.
bool applyToY4m(const VideoOptions& options, const char* name, FrameGeometry& geometry,
                char* reason, size_t reasonSize);
