#include "frame_run.h"

#include <cerrno>
#include <cinttypes>
#include <random>

#include "clock_record.h"
#include "platform.h"
#include "wall_clock.h"
#include "video_output.h"

int nextPayload(FrameRun& run)
{
    // The clock form's payload is made as the frame is stamped.
    if (run.clock)
        return statusOk;
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

void takeStampTime(FrameRun& run)
{
    if (!run.clock)
        return;
    ClockRecord record;
    record.run = run.clockRun;
    record.counter = static_cast<uint64_t>(run.frameCount);
    record.stampedNs = wallClockNs();
    packClockRecord(record, run.wmData.data());
}

uint64_t newClockRun()
{
    uint64_t run = 0;
    try {
        std::random_device device;
        // 0 is no run: a black frame reads as zeros.
        while (run == 0)
            run = static_cast<uint64_t>(device()) << 32 | device();
    } catch (const std::exception&) {
        // No random source: the start time tells runs apart as well.
        run = static_cast<uint64_t>(steadyClockNs()) ^ static_cast<uint64_t>(wallClockNs());
    }
    return run == 0 ? 1 : run;
}

int startOutput(FrameRun& run)
{
    if (run.outputStarted)
        return statusOk;
    if (!cutFileTo(run.out.pFile, 0))
        return outputError(run, errno);
    run.outputStarted = true;
    if (!writeVideoHeader(run.out.pFile, run.in.layout))
        return stopRequested(run) ? statusOk : outputError(run, errno);
    run.keptBytes = run.in.layout.headerBytes;
    return statusOk;
}

void countFrame(FrameRun& run, uint64_t bytes)
{
    run.lastFrameStart = run.keptBytes;
    run.keptBytes += bytes;
    ++run.frameCount;
    if (run.frameCount % 10 == 0)
        printNow(run.pConsole, "frame# %" PRId64 "        \r", run.frameCount);
}

bool stopRequested(FrameRun& run)
{
    run.stoppedBy = stopSignalSeen();
    return run.stoppedBy != 0;
}

void keepWholeFrames(FrameRun& run, bool failed)
{
    // An output never started is someone's earlier file: left alone.
    if (!run.outputStarted)
        return;
    const auto frames = static_cast<uint64_t>(run.frameCount);
    uint64_t kept = frames, end = run.keptBytes;
    int err = 0;
    // After a failure, a frame stamped in place may have reached only the
    // page cache; if the disk cannot confirm it, none can be vouched for
    // (nor a stream header).
    if (failed && !syncToDisk(run.out.pFile)) {
        err = errno;
        kept = end = 0;
    }
    bool cut = cutFileTo(run.out.pFile, end);
    if (!cut) {
        err = errno;
        // A cut inside a block the output still shares with the source needs
        // a block of its own (ENOSPC on a full disk). The start of the last
        // whole frame lies in a block its stamping made the output's own, so
        // a cut there needs no space; the start needs none either.
        if (kept > 0 && cutFileTo(run.out.pFile, run.lastFrameStart)) {
            cut = true;
            kept -= 1;
        } else if (kept > 0 && cutFileTo(run.out.pFile, 0)) {
            cut = true;
            kept = 0;
        }
    }
    if (!cut)
        printNow(stderr,
                 "wmstamp: \"%s\": only its first %" PRIu64
                 " %s whole and stamped; cutting off the rest failed: %s\n",
                 run.out.name, kept, plural(static_cast<int64_t>(kept), "frame is", "frames are"),
                 ioReason(err));
    else if (kept < frames)
        printNow(stderr,
                 "wmstamp: \"%s\": cut back to %" PRIu64 " whole stamped %s, not %" PRIu64 ": %s\n",
                 run.out.name, kept, plural(static_cast<int64_t>(kept), "frame", "frames"), frames,
                 ioReason(err));
}

int inputError(const FrameRun& run, int err)
{
    printNow(run.pConsole, "Error reading input file \"%s\": %s\n", run.in.stream.name,
             readFailureReason(run.in, err));
    return statusIoError;
}

int outputError(const FrameRun& run, int err)
{
    printNow(run.pConsole, "Error writing output file \"%s\": %s\n", run.out.name, ioReason(err));
    return statusIoError;
}
