#include <cerrno>

#include "frame_run.h"
#include "platform.h"
#include "video_output.h"

int streamFrames(FrameRun& run)
{
    for (;;) {
        if (stopRequested(run))
            return statusOk;
        const BlockRead frame = readVideoFrame(run.in, frameBuf);
        // A stop signal breaks a blocked read; the frame in hand is dropped.
        if (frame != BlockRead::whole && stopRequested(run))
            return statusOk;
        if (frame == BlockRead::failed)
            return inputError(run, errno);
        if (frame == BlockRead::end) {
            if (run.in.ignoredBytes > 0)
                reportIgnoredBytes("wmstamp", run.in.ignoredBytes);
            // An empty source still makes an empty output (a YUV4MPEG2 one
            // its header).
            return startOutput(run);
        }
        if (const int status = nextPayload(run))
            return status;
        takeStampTime(run);
        stampWatermark(run.wmData.data());
        if (const int status = startOutput(run))
            return status;
        if (run.stoppedBy != 0) // the header's write was broken by a stop
            return statusOk;
        if (!writeVideoFrame(run.out.pFile, run.in.line, frameBuf, frameSize))
            return stopRequested(run) ? statusOk : outputError(run, errno);
        countFrame(run, run.in.line.length + frameSize);
    }
}
