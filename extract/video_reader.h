// Where each frame's band comes from: a whole-frame video (raw or
// YUV4MPEG2) or a band-only one, a regular file (read the band rows and
// chroma row 0, skip the rest) or a pipe (read through).
#pragma once

#include "video_input.h"

// Reads the next frame's band rows (the rows looked at) to the start of
// frameBuf and, from a whole-frame video, chroma row 0 of both planes to
// their places.
BlockRead readBand(VideoInput& video, bool bandOnly);
