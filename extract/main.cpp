// wmextract: reads the watermark band back from YUV 4:2:0 video (raw,
// 1920x1080 unless told otherwise, or a YUV4MPEG2 stream), at its own size,
// writing each frame's payload or checking it against the data that was
// stamped.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "arguments.h"
#include "clock_pass.h"
#include "exit_status.h"
#include "frame_check.h"
#include "frame_messages.h"
#include "named_files.h"
#include "paired_video.h"
#include "payload_reader.h"
#include "platform.h"
#include "records.h"
#include "report.h"
#include "stream_io.h"
#include "summary_timer.h"
#include "video_reader.h"
#include "wall_clock.h"
#include "watermark.h"

namespace {

constexpr const char* usageText =
    "usage: wmextract [--band] [--fec K] [--force] [--report FILE] VIDEO PAYLOADS\n"
    "       wmextract [--band] [--fec K] [--by-position] [--whole] [--report FILE]\n"
    "                 [--pair STAMPED PAIRED] --verify DATA VIDEO\n"
    "       wmextract [--band] [--report FILE] --clock VIDEO\n"
    "       wmextract --help | --version\n"
    "Reads the watermark band of every whole frame of VIDEO, YUV 4:2:0: a\n"
    "YUV4MPEG2 stream, which gives its own size and format, or raw frames,\n"
    "1920x1080 at 8 bits unless told otherwise (in either form):\n"
    "  --size WxH       their size: as stamped, or as scaled since (a rendition\n"
    "                   is read at its own size)\n"
    "  --format FORMAT  yuv420p (8 bits) or yuv420p10le (10 bits)\n"
    "  --band-rows R    the top luma rows to look at, 2 to 16 (default 2 up to\n"
    "                   1080 rows, 4 at 2160, 8 at 4320)\n"
    "The first form writes each frame's 60-byte payload to PAYLOADS, which is\n"
    "created only once VIDEO has a whole frame; a PAYLOADS that already holds\n"
    "data is replaced only with --force. The second finds which record of the\n"
    "watermark data file DATA each frame carries, by content, so that dropped,\n"
    "repeated and re-timed frames are followed, and names every frame that\n"
    "differs from its record, is unidentified or breaks the order;\n"
    "--by-position compares frame k with record k instead; --whole also asks\n"
    "that every record of DATA be shown, in step. --pair writes to PAIRED, for\n"
    "every frame of VIDEO, the frame of STAMPED (the stamped source: frame k\n"
    "carries record k) that it shows, or where the order puts it, for quality\n"
    "metrics; the report says which (paired). --report writes a CSV line\n"
    "for every frame (frame,record,bit_errors,margin,...). With --band, VIDEO\n"
    "holds only the band: R luma rows of W samples a frame (3840 bytes at\n"
    "1920x1080). With --fec K, payloads are wmpack's records: each is\n"
    "corrected with its code, PAYLOADS gets the K data bytes and DATA holds\n"
    "K-byte records (wmpack's input). The third reads the records wmstamp\n"
    "--clock stamps: it names counters missing, repeated or out of order and\n"
    "a restarted source, and sums up the latency from stamping to reading;\n"
    "its report has the columns frame,run,counter,stamped_ns,arrived_ns,\n"
    "latency_ms,step. In every form, --every S prints the summary line so\n"
    "far every S seconds. '-' is standard input for VIDEO, DATA or STAMPED\n"
    "and standard output for PAYLOADS, PAIRED or the report.\n"
    "Exit status: 0 success, 1 usage, 2 a file cannot be opened, 3 a frame\n"
    "differs, is unidentified or uncorrectable, a record is not shown in step\n"
    "(--whole), or VIDEO has no whole frame, 4 every payload is exact but\n"
    "records are missing, repeated or out of order (with --clock: counters,\n"
    "or the source restarted), 5 a read or write error,\n"
    "6 no memory for a frame or the data.\n";

// A failed transfer, said, or statusStopped where a stop signal broke it.
int transferFailure(const char* what, const char* name, int err)
{
    return stopSignalSeen() != 0 ? statusStopped : reportFailure(5, what, name, err);
}

// One frame of the extract or the verify form: checked, said, and written
// as a payload and a report line.
int passFrame(FrameCheck& check, size_t recordSize)
{
    FrameVerdict verdict;
    if (const int status = checkFrame(check, verdict))
        return status;
    sayFrame(check, verdict);
    if (check.pairing != nullptr) {
        if (const int status = pairFrame(*check.pairing, check, verdict))
            return status;
    }
    if (check.data == nullptr && !writePiece(check.payloads, verdict.payload.data(), recordSize))
        return transferFailure("error writing payload file", check.payloads.stream.name, errno);
    const uint64_t reportKept = check.report.kept;
    if (check.report.stream.pFile != nullptr && !writeReportLine(check.report, check, verdict))
        return transferFailure("error writing report file", check.report.stream.name, errno);
    // PAIRED's frame last: a failure keeps it and the report in step.
    if (check.pairing != nullptr && !writePairedFrame(*check.pairing, verdict)) {
        check.report.kept = reportKept;
        return transferFailure("error writing paired video file", check.pairing->out.stream.name,
                               errno);
    }
    return 0;
}

// A failed read of VIDEO, said (a YUV4MPEG2 frame without its FRAME line
// is named), or statusStopped where a stop signal broke it.
int videoFailure(const VideoInput& video, int err)
{
    return stopSignalSeen() != 0 ? statusStopped
                                 : reportReason(5, "error reading video file", video.stream.name,
                                                readFailureReason(video, err));
}

// The rest of the pass, from a first whole frame already in frameBuf, whose
// last byte came at `arrivedNs`: each frame checked, said and written.
int readBands(VideoInput& video, FrameCheck& check, int64_t arrivedNs)
{
    const bool showProgress = isTerminal(stderr);
    const size_t recordSize =
        check.args->fecDataBytes == 0 ? payloadSize : static_cast<size_t>(check.args->fecDataBytes);
    SummaryTimer every;
    every.periodNs = check.args->everyMs * 1000000;
    for (;;) {
        if (check.clock != nullptr) {
            if (!passClockFrame(check, arrivedNs))
                return transferFailure("error writing report file", check.report.stream.name,
                                       errno);
        } else if (const int status = passFrame(check, recordSize)) {
            return status;
        }
        if (showProgress && check.tally.frames % 10 == 0)
            printNow(stderr, "frame# %" PRId64 "        \r", check.tally.frames);
        if (summaryDue(every, steadyClockNs()))
            saySummaryLine(check);
        // A stop that came while the frame was checked ends the pass before
        // the next read waits.
        if (stopSignalSeen() != 0)
            return statusStopped;
        const BlockRead read = readBand(video, check.args->bandOnly);
        // errno first: reading the clock may change it.
        const int err = errno;
        arrivedNs = wallClockNs();
        if (read == BlockRead::end)
            return 0;
        if (read == BlockRead::failed)
            return videoFailure(video, err);
    }
}

// Ends a pass that a stop signal cut short: what the frames checked so far
// add up to, and then the signal, so that the shell sees it.
[[noreturn]] void endByStop(const FrameCheck& check)
{
    const int64_t frames = check.tally.frames;
    printNow(stderr, "wmextract: interrupted after %" PRId64 " %s\n", frames,
             plural(frames, "frame", "frames"));
    if (frames > 0)
        saySummary(check);
    endBySignal(stopSignalSeen());
}

// After a failure or a stop, an output keeps only its whole records or
// lines; a cut that fails is said.
void keepWhole(PieceOutput& out, const char* what)
{
    if (out.stream.pFile != nullptr && !keepWholePieces(out))
        reportFailure(5, what, out.stream.name, errno);
}

// Closes an output after a pass; the status of a failure, said, or 0.
int closeOutput(PieceOutput& out, Stream& owner, const char* what)
{
    if (out.stream.pFile == nullptr)
        return 0;
    owner.release();
    return closeOutputStream(out.stream.pFile) ? 0 : reportFailure(5, what, out.stream.name, errno);
}

// With --whole, a DATA that is a pipe is read on to its end, so that the
// records no frame showed are known; they are counted, not kept.
int readToEnd(FrameCheck& check)
{
    PayloadReader& data = *check.data;
    Record scratch{};
    while (!check.store.complete && !data.exhausted) {
        if (readNextPayload(data, scratch.data()) == PayloadRead::failed)
            return transferFailure("error reading watermark data file", data.data.name, errno);
    }
    check.store.complete = true;
    return 0;
}

// The records of DATA, or their index, did not fit in memory.
int reportNoMemory(const FrameCheck& check)
{
    int64_t unread = 0;
    (void)countUnusedRecords(*check.data, unread);
    const int64_t records = static_cast<int64_t>(check.store.records.size()) + unread;
    char reason[80];
    std::snprintf(reason, sizeof reason, "not enough memory for its %" PRId64 " %s", records,
                  plural(records, "record", "records"));
    return reportReason(6, "cannot hold watermark data file", check.data->data.name, reason);
}

// Says what the pass left aside, so that a verdict on part of a video does
// not pass for one on all of it: an incomplete last frame, and the records
// of DATA that no frame carried, where DATA was read to its end.
void reportLeftovers(const VideoInput& video, const FrameCheck* check)
{
    if (video.ignoredBytes > 0)
        reportIgnoredBytes("wmextract", video.ignoredBytes);
    if (check == nullptr || !check->store.complete || check->dataError != 0)
        return;
    const PayloadReader& data = *check->data;
    const int64_t records = data.wholeRecords + (data.shortRecordBytes > 0 ? 1 : 0);
    const int64_t used =
        check->aligner != nullptr ? check->aligner->totals().matched : check->tally.recordsUsed;
    const int64_t unused = records - used;
    if (unused > 0)
        printNow(stderr, "wmextract: %" PRId64 " %s of \"%s\" %s not used\n", unused,
                 plural(unused, "record", "records"), data.data.name,
                 plural(unused, "was", "were"));
}

// Opens a file the run writes from scratch, after the first whole frame.
bool openOutput(const char* name, const char* what, const ExtractArgs& args,
                std::initializer_list<HeldFile> inputs, PieceOutput& out, Stream& owner)
{
    const char* reason = nullptr;
    out.stream.name = name;
    out.stream.pFile = openFreshOutput(name, args.force, inputs, owner, reason);
    if (out.stream.pFile == nullptr) {
        // A stop while a named pipe waits for its reader is no failure.
        if (stopSignalSeen() == 0)
            reportReason(2, what, name, reason);
        return false;
    }
    startPieces(out);
    return true;
}

} // namespace

int extractMain(int argc, char** argv)
{
    preparePlatform(argc, argv);
    ExtractArgs args;
    UsageError error;
    if (!parseExtractArgs(argc, argv, args, error)) {
        printUsageError("wmextract", error, usageText);
        return 1;
    }
    if (args.form == ExtractForm::help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (args.form == ExtractForm::version) {
        std::printf("wmextract %s\n", WM_VERSION);
        return 0;
    }
    const bool verify = args.form == ExtractForm::verify;
    const bool clock = args.form == ExtractForm::clock;
    const bool extract = args.form == ExtractForm::extract;

    FrameCheck check;
    // From here a stop ends the pass at a frame boundary, said: a named pipe
    // waiting for its writer included.
    catchStopSignals();
    VideoInput video;
    video.stream.name = args.video;
    Stream videoOwner;
    video.stream.pFile = openInputName(video.stream.name, videoOwner);
    if (video.stream.pFile == nullptr && stopSignalSeen() != 0)
        endByStop(check);
    if (video.stream.pFile == nullptr)
        return reportReason(2, "cannot open video file", video.stream.name,
                            openFailureReason(video.stream.name, errno, {}));
    PayloadReader data;
    Stream dataOwner;
    if (verify) {
        data.data.name = args.data;
        if (args.fecDataBytes != 0)
            data.recordSize = static_cast<size_t>(args.fecDataBytes);
        if (isStandardStreamName(data.data.name) && video.stream.pFile == stdin)
            return reportReason(2, "cannot open watermark data file", data.data.name,
                                "standard input is already the video");
        data.data.pFile = openInputName(data.data.name, dataOwner);
        if (data.data.pFile == nullptr && stopSignalSeen() != 0)
            endByStop(check);
        if (data.data.pFile == nullptr)
            return reportReason(2, "cannot open watermark data file", data.data.name,
                                openFailureReason(data.data.name, errno, {}));
    }
    PairedVideo pairing;
    if (args.stamped != nullptr) {
        const int status = openStamped(pairing, args.stamped, video.stream.pFile, data.data.pFile);
        if (status == statusStopped)
            endByStop(check);
        if (status != 0)
            return status;
    }

    // What VIDEO is comes from its first bytes: a container or a picture is
    // refused before anything is written.
    char reason[320] = "";
    const Identified identified =
        identifyVideo(video, args.videoOptions, args.bandOnly, reason, sizeof reason);
    if (stopSignalSeen() != 0)
        endByStop(check);
    switch (identified) {
    case Identified::video:
        break;
    case Identified::failed:
        return reportFailure(5, "error reading video file", video.stream.name, errno);
    case Identified::option:
        // As a refused option is said: the reason, then the usage.
        printNow(stderr, "wmextract: %s\n", reason);
        std::fputs(usageText, stderr);
        return 1;
    case Identified::refused:
        return reportReason(2, "cannot open video file", video.stream.name, reason);
    }

    check.args = &args;
    check.videoName = args.video;
    check.packing.dataBytes = args.fecDataBytes;
    if (!setUpFrameBuffer(video.layout.geometry)) {
        printNow(stderr, "wmextract: cannot allocate the frame buffer\n");
        return 6;
    }
    // VIDEO is looked at before DATA is read, and PAYLOADS is created only
    // once VIDEO proves to be video: the two forms' arguments swapped must
    // neither empty a stamped video nor read all of it as data.
    const BlockRead first = readBand(video, args.bandOnly);
    const int firstErr = errno; // free and the clock may change it
    const int64_t firstArrived = wallClockNs();
    if (first != BlockRead::whole) {
        releaseFrameBuffer();
        if (stopSignalSeen() != 0)
            endByStop(check);
        if (first == BlockRead::failed)
            return videoFailure(video, firstErr);
        reportLeftovers(video, nullptr);
        printNow(stderr, "wmextract: no whole frame to %s in \"%s\"\n",
                 verify  ? "verify"
                 : clock ? "check"
                         : "extract",
                 video.stream.name);
        return 3;
    }

    FrameAligner aligner(check.store);
    ClockPass clockPass;
    if (clock)
        check.clock = &clockPass;
    if (verify) {
        check.data = &data;
        try {
            attachData(check.store, data, args.fecDataBytes, check.dataError);
        } catch (const std::bad_alloc&) {
            releaseFrameBuffer();
            return reportNoMemory(check);
        }
        if (check.dataError != 0) {
            releaseFrameBuffer();
            return reportFailure(5, "error reading watermark data file", data.data.name,
                                 check.dataError);
        }
        printDataNotices("wmextract", data);
        // One record, or none, identifies nothing: its frames keep to position.
        const bool oneRecord = check.store.complete && check.store.records.size() <= 1;
        if (!args.byPosition && !oneRecord)
            check.aligner = &aligner;
    }
    if (args.stamped != nullptr) {
        // PAIRED repeats VIDEO's layout, each frame with VIDEO's FRAME line;
        // STAMPED, raw or not, must have VIDEO's size and samples.
        pairing.videoLayout = video.layout;
        pairing.videoLine = &video.line;
        pairing.videoName = video.stream.name;
        const FrameGeometry& g = video.layout.geometry;
        const int status =
            startPairing(pairing, VideoOptions{g.width, g.height, g.bitDepth, g.bandRows});
        if (status != 0) {
            releaseFrameBuffer();
            if (status == statusStopped)
                endByStop(check);
            return status;
        }
        check.pairing = &pairing;
    }
    if (stopSignalSeen() != 0) {
        releaseFrameBuffer();
        endByStop(check);
    }
    // A report goes to standard output only where the payloads do not.
    Stream payloadOwner, reportOwner, pairedOwner;
    FILE* const pStamped = pairing.stamped.input.stream.pFile;
    const bool opened =
        (!extract || openOutput(args.payloads, "cannot open payload file", args,
                                {{video.stream.pFile, "it is the video itself"}}, check.payloads,
                                payloadOwner)) &&
        (args.paired == nullptr || openOutput(args.paired, "cannot open paired video file", args,
                                              {{video.stream.pFile, "it is the video itself"},
                                               {data.data.pFile, "it is the watermark data file"},
                                               {pStamped, "it is the stamped video file"}},
                                              pairing.out, pairedOwner)) &&
        (args.report == nullptr ||
         openOutput(args.report, "cannot open report file", args,
                    {{video.stream.pFile, "it is the video itself"},
                     {data.data.pFile, "it is the watermark data file"},
                     {check.payloads.stream.pFile, "it is the payload file"},
                     {pStamped, "it is the stamped video file"},
                     {pairing.out.stream.pFile, "it is the paired video file"}},
                    check.report, reportOwner));
    int status = opened ? 0 : 2;
    if (status == 0 && check.pairing != nullptr && !startPairedVideo(pairing))
        status = reportFailure(5, "error writing paired video file", args.paired, errno);
    if (status == 0 && check.report.stream.pFile != nullptr &&
        !(clock ? startClockReport(check.report)
                : startReport(check.report, check.pairing != nullptr)))
        status = reportFailure(5, "error writing report file", check.report.stream.name, errno);
    if (status == 0) {
        try {
            status = readBands(video, check, firstArrived);
        } catch (const std::bad_alloc&) {
            status = reportNoMemory(check);
        }
    }
    releaseFrameBuffer();
    if (!opened && stopSignalSeen() != 0)
        endByStop(check);
    if (!opened)
        return 2;
    // What was written under a K the payloads do not have is worth nothing.
    if (check.refused) {
        check.payloads.kept = 0;
        check.report.kept = 0;
        pairing.out.kept = 0;
    }
    if (status != 0) {
        keepWhole(check.payloads, "cannot cut back payload file");
        keepWhole(check.report, "cannot cut back report file");
        keepWhole(pairing.out, "cannot cut back paired video file");
    }
    const int closed =
        std::max({closeOutput(check.report, reportOwner, "error writing report file"),
                  closeOutput(check.payloads, payloadOwner, "error writing payload file"),
                  closeOutput(pairing.out, pairedOwner, "error writing paired video file")});
    if (status == statusStopped)
        endByStop(check);
    if (status == 0)
        status = closed;
    WholeCheck whole;
    whole.asked = args.whole;
    if (status == 0 && args.whole) {
        status = readToEnd(check);
        if (status == statusStopped)
            endByStop(check);
        whole.records = data.wholeRecords + (data.shortRecordBytes > 0 ? 1 : 0);
    }
    const AlignmentTotals* timing = check.aligner != nullptr ? &check.aligner->totals() : nullptr;
    // A pass that failed still says what its frames showed, unless it read
    // them with the wrong code.
    if (status == 0)
        reportLeftovers(video, verify ? &check : nullptr);
    if (status == 0 && whole.asked && !showedWhole(check.tally, timing, whole))
        printNow(stderr, "wmextract: not every record of \"%s\" was shown in step (--whole)\n",
                 data.data.name);
    if (!check.refused)
        saySummary(check);
    if (status != 0)
        return status;
    if (clock)
        return clockExitStatus(check.tally, clockPass.sequence.totals);
    return exitStatus(check.tally, timing, verify, whole);
}

int main(int argc, char** argv)
{
    return finishStandardOutput("wmextract", extractMain(argc, argv));
}
