#include <cerrno>

#include "frame_run.h"
#include "platform.h"

int streamFrames(FrameRun& run)
{
    for (;;) {
        if (stopRequested(run))
            return statusOk;
        size_t got = 0;
        const BlockRead frame = readBlock(run.in.pFile, frameBuf, frameSize, got);
        // A stop signal breaks a blocked read; the frame in hand is dropped.
        if (frame != BlockRead::whole && stopRequested(run))
            return statusOk;
        if (frame == BlockRead::failed)
            return inputError(run, errno);
        if (frame == BlockRead::end) {
            if (got > 0)
                reportIgnoredBytes("wmstamp", got);
            // An empty source still makes an empty output.
            return startOutput(run);
        }
        if (const int status = nextPayload(run))
            return status;
        takeStampTime(run);
        stampWatermark(run.wmData.data());
        if (const int status = startOutput(run))
            return status;
        if (!writeBlock(run.out.pFile, frameBuf, frameSize))
            return stopRequested(run) ? statusOk : outputError(run, errno);
        countFrame(run);
    }
}
