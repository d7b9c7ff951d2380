// wmpack: protects watermark data with a Reed-Solomon code inside each
// 60-byte record, so that wmextract --fec can correct payloads that heavy
// compression damaged.
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "arguments.h"
#include "named_files.h"
#include "payload_reader.h"
#include "platform.h"
#include "reed_solomon.h"
#include "stream_io.h"

namespace {

constexpr const char* usageText =
    "usage: wmpack [--data-bytes K] [--force] DATA PACKED\n"
    "       wmpack --help | --version\n"
    "Reads DATA as records of K bytes (20 to 58, default 40) and writes to\n"
    "PACKED one 60-byte watermark record for each: the K bytes, then 60-K\n"
    "parity bytes of a Reed-Solomon code, which 'wmextract --fec K' uses to\n"
    "correct up to (60-K)/2 wrong bytes a frame. A short last record is\n"
    "padded with zeros. PACKED is a watermark data file for wmstamp; one that\n"
    "already holds data is replaced only with --force. '-' is standard input\n"
    "for DATA and standard output for PACKED.\n"
    "Exit status: 0 success, 1 usage, 2 a file cannot be opened, 5 a read or\n"
    "write error.\n";

int report(int status, const char* what, const char* name, const char* reason)
{
    printNow(stderr, "wmpack: %s \"%s\": %s\n", what, name, reason);
    return status;
}

// What packRecords returns when a stop signal ended it.
constexpr int statusStopped = -1;

// A failed transfer, said, or statusStopped where a stop signal broke it.
int transferFailure(const char* what, const char* name, int err)
{
    return stopSignalSeen() != 0 ? statusStopped : report(5, what, name, ioReason(err));
}

void saySummary(int64_t records, int dataBytes)
{
    printNow(stderr, "packed %" PRId64 " %s of %d bytes\n", records,
             plural(records, "record", "records"), dataBytes);
}

// Ends a run that a stop signal cut short, with the records packed so far
// said, by the signal, so that the shell sees it.
[[noreturn]] void endByStop(int64_t records, int dataBytes)
{
    printNow(stderr, "wmpack: interrupted after %" PRId64 " %s\n", records,
             plural(records, "record", "records"));
    saySummary(records, dataBytes);
    endBySignal(stopSignalSeen());
}

// Packs `word`, the first record read (`read` says how), and every record
// after it into `packed`; the count in `records`.
int packRecords(PayloadReader& data, PayloadRead read, uint8_t word[payloadSize],
                PieceOutput& packed, int dataBytes, int64_t& records)
{
    for (;; read = readNextPayload(data, word)) {
        if (read == PayloadRead::failed)
            return transferFailure("error reading data file", data.data.name, errno);
        if (read != PayloadRead::whole && data.shortRecordBytes == 0)
            return 0;
        rsEncode(word, dataBytes);
        if (!writePiece(packed, word, payloadSize))
            return transferFailure("error writing packed file", packed.stream.name, errno);
        ++records;
        if (stopSignalSeen() != 0)
            return statusStopped;
        if (read != PayloadRead::whole) {
            printNow(stderr,
                     "wmpack: the last record of \"%s\" has %" PRIu64
                     " of %d bytes; padded with zeros\n",
                     data.data.name, static_cast<uint64_t>(data.shortRecordBytes), dataBytes);
            return 0;
        }
    }
}

} // namespace

int packMain(int argc, char** argv)
{
    preparePlatform(argc, argv);
    PackArgs args;
    UsageError error;
    if (!parsePackArgs(argc, argv, args, error)) {
        printUsageError("wmpack", error, usageText);
        return 1;
    }
    if (args.form == PackForm::help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (args.form == PackForm::version) {
        std::printf("wmpack %s\n", WM_VERSION);
        return 0;
    }
    PayloadReader data;
    data.data.name = args.data;
    data.recordSize = static_cast<size_t>(args.dataBytes);
    Stream dataOwner;
    // From here a stop ends the run at a record boundary, said: a named
    // pipe waiting for its writer included.
    catchStopSignals();
    data.data.pFile = openInputName(args.data, dataOwner);
    if (data.data.pFile == nullptr && stopSignalSeen() != 0)
        endByStop(0, args.dataBytes);
    if (data.data.pFile == nullptr)
        return report(2, "cannot open data file", args.data,
                      openFailureReason(args.data, errno, {}));
    // PACKED is opened once DATA has proved readable: a DATA that cannot be
    // read leaves an existing PACKED as it was.
    std::array<uint8_t, payloadSize> word{};
    const PayloadRead first = readNextPayload(data, word.data());
    if (stopSignalSeen() != 0)
        endByStop(0, args.dataBytes);
    if (first == PayloadRead::failed)
        return report(5, "error reading data file", args.data, ioReason(errno));
    PieceOutput packed;
    packed.stream.name = args.packed;
    Stream packedOwner;
    const char* reason = nullptr;
    packed.stream.pFile = openFreshOutput(
        args.packed, args.force, {{data.data.pFile, "it is the data file"}}, packedOwner, reason);
    if (packed.stream.pFile == nullptr && stopSignalSeen() != 0)
        endByStop(0, args.dataBytes);
    if (packed.stream.pFile == nullptr)
        return report(2, "cannot open packed file", args.packed, reason);
    // Whole records only: after a failure or a stop PACKED is cut back to
    // them.
    startPieces(packed);
    int64_t records = 0;
    int status = packRecords(data, first, word.data(), packed, args.dataBytes, records);
    if (status != 0 && !keepWholePieces(packed))
        report(5, "cannot cut back packed file", args.packed, ioReason(errno));
    packedOwner.release();
    const bool closed = closeOutputStream(packed.stream.pFile);
    if (status == statusStopped)
        endByStop(records, args.dataBytes);
    if (status == 0 && !closed)
        status = report(5, "error writing packed file", args.packed, ioReason(errno));
    saySummary(records, args.dataBytes);
    return status;
}

int main(int argc, char** argv)
{
    return finishStandardOutput("wmpack", packMain(argc, argv));
}
