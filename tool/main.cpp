// wmstamp: stamps a 60-byte payload a frame into YUV 4:2:0 video, raw
// (1920x1080 unless told otherwise) or a YUV4MPEG2 stream, streaming one
// frame at a time from the source to the output.
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "arguments.h"
#include "frame_run.h"
#include "named_files.h"
#include "platform.h"

namespace {

constexpr const char* optionsText =
    "Usage: wmstamp [OPTIONS] SOURCE WATERMARK OUTPUT\n"
    "       wmstamp [OPTIONS] --clock SOURCE OUTPUT\n"
    "Options may stand before, between or after the names; '--' ends them.\n"
    "'-' is standard input as SOURCE or WATERMARK and standard output as\n"
    "OUTPUT (the messages then go to standard error).\n"
    "  --clock          no WATERMARK: each frame carries a record of wmpack's\n"
    "                   code (K = 40) with a run identifier, its counter and\n"
    "                   the time it is stamped, for wmextract --clock\n"
    "  --size WxH       the size of raw SOURCE frames (default 1920x1080): W and\n"
    "                   H even, W 320 to 8192, H 180 to 4320\n"
    "  --format FORMAT  their samples: yuv420p (8 bits, the default) or\n"
    "                   yuv420p10le (10 bits)\n"
    "  --band-rows R    luma rows the band covers, 2 to 16 (default 2 up to 1080\n"
    "                   rows, 4 at 2160, 8 at 4320)\n"
    "  --force          replace an existing OUTPUT that holds no whole frames\n"
    "                   (what the watermark data typed in its place looks like)\n"
    "  --help           this text\n"
    "  --version        the version\n"
    "A YUV4MPEG2 SOURCE (ffmpeg -f yuv4mpegpipe) gives its own size and format,\n"
    "and OUTPUT is one too, with SOURCE's header and FRAME lines.\n"
    "Exit status: 0 success, 1 usage, 2 source, 3 watermark data, 4 output\n"
    "cannot be opened, 5 a read or write error, 6 no memory for a frame.\n";

// Why an existing output cannot be a video, or nullptr: a regular file that
// holds something, but neither a YUV4MPEG2 stream nor whole frames of this
// run's size, is what the watermark data typed in the output's place looks
// like. Where the file cannot be read back, a YUV4MPEG2 run's output is
// judged by its size: its header alone, or a frame at least after it.
// Standard output is the shell's to choose.
const char* notAVideo(const char* name, FILE* pFile, const VideoLayout& layout)
{
    uint64_t bytes = 0;
    if (isStandardStreamName(name) || !bytesLeftInFile(pFile, bytes) || bytes == 0)
        return nullptr;
    uint8_t start[y4mSignatureLength] = {};
    size_t got = 0;
    const bool read = readStartOfOpenFile(pFile, name, start, sizeof start, got);
    const uint64_t frameBytes = layout.geometry.frameBytes();
    if ((read && hasY4mSignature(start, got)) || bytes % frameBytes == 0)
        return nullptr;
    const uint64_t smallest =
        layout.y4m ? layout.headerBytes + sizeof "FRAME\n" - 1 + frameBytes : frameBytes;
    if (layout.y4m && !read && (bytes == layout.headerBytes || bytes >= smallest))
        return nullptr;
    return bytes < smallest ? "it holds less than a frame: is it the watermark data? (--force "
                              "replaces it)"
                            : "it holds no whole number of frames: is it the watermark data? "
                              "(--force replaces it)";
}

void printUsage(FILE* pConsole)
{
    printNow(pConsole, "Adds Grelmo watermark to a given.yuv file\n");
    printNow(pConsole, "Parameter 1: source filename with .yuv extension\n");
    printNow(pConsole, "Parameter 2: name of binary data file with watermark data, \n");
    printNow(pConsole, "      60 bytes per line\n");
    printNow(pConsole, "Parameter 3: name of output file, with .yuv extension\n");
}

// The fixed messages say what failed; this line on standard error says why.
void explain(const char* name, const char* reason)
{
    printNow(stderr, "wmstamp: \"%s\": %s\n", name, reason);
}

// Ends a run that a stop signal ended before its first frame, said.
[[noreturn]] void endBeforeAnyFrame(FILE* pConsole)
{
    printNow(pConsole, "Interrupted after 0 frames\n");
    endBySignal(stopSignalSeen());
}

} // namespace

int stampMain(int argc, char** argv)
{
    preparePlatform(argc, argv);
    StampArgs args;
    UsageError error;
    const bool parsed = parseStampArgs(argc, argv, args, error);
    // Messages go to standard output, as they always have, unless the video
    // itself goes there.
    const bool videoOnStdout =
        parsed && args.form == StampForm::stamp && isStandardStreamName(args.output);
    FILE* pConsole = videoOnStdout ? stderr : stdout;
    printNow(pConsole, "Grelmo Video Watermark Insertion Tool (10-29-2014)\n");
    if (!parsed || args.form == StampForm::help) {
        printUsage(pConsole);
        if (args.form == StampForm::help) {
            std::fputs(optionsText, stdout);
            return 0;
        }
        if (error.text[0] != '\0')
            printNow(stderr, "wmstamp: %s\n", error.text);
        return 1;
    }
    if (args.form == StampForm::version) {
        printNow(stdout, "wmstamp %s\n", WM_VERSION);
        return 0;
    }

    // The names are used where they stand: whole at any length, and with
    // nothing to allocate before the frame buffer. "-" is a standard stream.
    const char* inFileName = args.source;
    Stream inOwner;
    // A stop while the inputs are opened (a named pipe waits for its
    // writer) or their first bytes are awaited ends the run as one at any
    // frame does; the output (a named pipe, perhaps) is then opened with the
    // signals' default actions, as ever.
    catchStopSignals();
    FILE* pInFile = openInputName(inFileName, inOwner);
    if (pInFile == nullptr && stopSignalSeen() != 0)
        endBeforeAnyFrame(pConsole);
    if (pInFile == nullptr) {
        const int err = errno; // a console that cannot be written changes it
        printNow(pConsole, "Input file \"%s\" not found\n", inFileName);
        explain(inFileName, openFailureReason(inFileName, err, {}));
        return 2;
    }
    // The clock form has no watermark data.
    const char* inWmName = args.clock ? "" : args.data;
    Stream wmOwner;
    const bool stdinTaken = isStandardStreamName(inWmName) && pInFile == stdin;
    FILE* pWmFile = stdinTaken || args.clock ? nullptr : openInputName(inWmName, wmOwner);
    if (pWmFile == nullptr && stopSignalSeen() != 0)
        endBeforeAnyFrame(pConsole);
    if (pWmFile == nullptr && !args.clock) {
        const int err = errno;
        printNow(pConsole, "Watermark data file \"%s\" not found\n", inWmName);
        explain(inWmName, stdinTaken ? "standard input is already the source video"
                                     : openFailureReason(inWmName, err, {}));
        return 3;
    }
    // What the source is comes from its first bytes, read before the output
    // is opened: a container or a picture is refused, and no output is
    // created for it.
    FrameRun run;
    run.in.stream = {pInFile, inFileName};
    char reason[320] = "";
    const Identified identified =
        identifyVideo(run.in, args.videoOptions, false, reason, sizeof reason);
    releaseStopSignals();
    if (stopSignalSeen() != 0)
        endBeforeAnyFrame(pConsole);
    switch (identified) {
    case Identified::video:
        break;
    case Identified::failed:
        printNow(pConsole, "Error reading input file \"%s\": %s\n", inFileName, ioReason(errno));
        return 5;
    case Identified::option:
        printUsage(pConsole);
        printNow(stderr, "wmstamp: %s\n", reason);
        return 1;
    case Identified::refused:
        printNow(pConsole, "Input file \"%s\" not found\n", inFileName);
        explain(inFileName, reason);
        return 2;
    }
    // Standard output carries the messages, so the video cannot go there
    // unless it is named as "-".
    const char* outFileName = args.output;
    Stream outOwner;
    FILE* pOutFile = pConsole == stderr
                         ? openOutputName(outFileName, {pInFile, pWmFile}, outOwner)
                         : openOutputName(outFileName, {pInFile, pWmFile, stdout}, outOwner);
    if (pOutFile == nullptr) {
        const int err = errno;
        printNow(pConsole, "Output file \"%s\" cannot be opened for writing", outFileName);
        explain(outFileName, openFailureReason(outFileName, err,
                                               {{pInFile, "it is the source video"},
                                                {pWmFile, "it is the watermark data file"},
                                                {stdout, "it is standard output"}}));
        return 4;
    }
    const char* refusal = args.force ? nullptr : notAVideo(outFileName, pOutFile, run.in.layout);
    if (refusal != nullptr) {
        printNow(pConsole, "Output file \"%s\" cannot be opened for writing", outFileName);
        explain(outFileName, refusal);
        return 4;
    }

    if (!setUpFrameBuffer(run.in.layout.geometry)) {
        printNow(pConsole, "Cannot allocate the frame buffer\n");
        return 6;
    }
    run.wm.data = {pWmFile, inWmName};
    run.out = {pOutFile, outFileName};
    run.clock = args.clock;
    if (run.clock)
        run.clockRun = newClockRun();
    run.pConsole = pConsole;
    // Frames are written whole or not at all, with nothing held back in a
    // buffer: after a failure the output is cut to exactly its whole frames.
    std::setvbuf(pOutFile, nullptr, _IONBF, 0);
    catchStopSignals();
    bool streamRest = true;
    int status = copyFrames(run, streamRest);
    if (status == statusOk && streamRest && !stopRequested(run))
        status = streamFrames(run);
    if (status != statusOk || run.stoppedBy != 0)
        keepWholeFrames(run, status != statusOk && run.stoppedBy == 0);
    if (run.stoppedBy != 0) {
        printNow(pConsole, "Interrupted after %" PRId64 " frames\n", run.frameCount);
        outOwner.reset();
        releaseFrameBuffer();
        endBySignal(run.stoppedBy);
    }
    if (status == statusOk) {
        printNow(pConsole, "Reached end of input file\n");
        outOwner.release();
        if (!closeOutputStream(pOutFile))
            status = outputError(run, errno);
    }
    if (status == statusOk)
        printNow(pConsole, "wrote %" PRId64 " frames\n", run.frameCount);
    releaseFrameBuffer();
    return status;
}

int main(int argc, char** argv)
{
    return finishStandardOutput("wmstamp", stampMain(argc, argv));
}
