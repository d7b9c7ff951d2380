#include "frame_run.h"

#include <cerrno>
#include <cinttypes>

#include "platform.h"

int nextPayload(FrameRun& run)
{
    if (run.payloadAhead) {
        run.payloadAhead = false;
        return statusOk;
    }
    const PayloadRead payload = readNextPayload(run.wm, run.markDat.data());
    if (payload == PayloadRead::failed) {
        // A stop signal breaks a blocked read of the data (a pipe): no
        // error, the run ends by the signal with the frames it wrote.
        if (stopRequested(run))
            return statusIoError;
        printNow(run.pConsole, "Error reading watermark data file \"%s\": %s\n", run.wm.data.name,
                 ioReason(errno));
        return statusIoError;
    }
    run.wmData = run.markDat;
    if (payload == PayloadRead::whole ||
        (payload == PayloadRead::ranOut && run.wm.shortRecordBytes > 0))
        noteStampedRecord(run.wm, run.wmData.data());
    if (payload == PayloadRead::ranOut)
        printRanOut(run.pConsole, nullptr, run.wm);
    printDataNotices("wmstamp", run.wm);
    return statusOk;
}

int startOutput(FrameRun& run)
{
    if (run.outputStarted)
        return statusOk;
    if (!cutFileTo(run.out.pFile, 0))
        return outputError(run, errno);
    run.outputStarted = true;
    return statusOk;
}

void countFrame(FrameRun& run)
{
    ++run.frameCount;
    if (run.frameCount % 10 == 0)
        printNow(run.pConsole, "frame# %" PRId64 "        \r", run.frameCount);
}

bool stopRequested(FrameRun& run)
{
    run.stoppedBy = stopSignalSeen();
    return run.stoppedBy != 0;
}

void keepWholeFrames(FrameRun& run)
{
    // An output never started is someone's earlier file: left alone.
    if (run.outputStarted)
        (void)cutFileTo(run.out.pFile, static_cast<uint64_t>(run.frameCount) * frameSize);
}

int inputError(const FrameRun& run, int err)
{
    printNow(run.pConsole, "Error reading input file \"%s\": %s\n", run.in.name, ioReason(err));
    return statusIoError;
}

int outputError(const FrameRun& run, int err)
{
    printNow(run.pConsole, "Error writing output file \"%s\": %s\n", run.out.name, ioReason(err));
    return statusIoError;
}
