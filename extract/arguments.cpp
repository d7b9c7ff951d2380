#include "arguments.h"

#include <iterator>

#include "reed_solomon.h"

namespace {

enum Option {
    band, fec, force, byPosition, report, verify, whole, clockForm, every, size, format, bandRows,
    pair
};
constexpr OptionSpec options[] = {
    {"--band", nullptr},  {"--fec", "K"},       {"--force", nullptr}, {"--by-position", nullptr},
    {"--report", "FILE"}, {"--verify", "DATA"}, {"--whole", nullptr}, {"--clock", nullptr},
    {"--every", "S"},     sizeOption,           formatOption,         bandRowsOption,
    {"--pair", "STAMPED PAIRED", 2}};

// A day between running summaries is as rare as one is useful.
constexpr int mostSecondsBetweenSummaries = 86400;

} // namespace

bool parseExtractArgs(int argc, const char* const* argv, ExtractArgs& args, UsageError& error)
{
    args = ExtractArgs{};
    CommandLine line(argc, argv, options, std::size(options), error);
    if (line.asked() != Asked::nothing) {
        args.form = line.asked() == Asked::help ? ExtractForm::help : ExtractForm::version;
        return true;
    }
    CommandArg arg;
    while (line.next(arg)) {
        switch (arg.option) {
        case band:
            args.bandOnly = true;
            break;
        case fec:
            if (!parseWholeNumber(arg.value, minDataBytes, maxDataBytes, args.fecDataBytes))
                return line.refuse("K is 20 to 58");
            break;
        case force:
            args.force = true;
            break;
        case byPosition:
            args.byPosition = true;
            break;
        case report:
            args.report = arg.value;
            break;
        case verify:
            args.data = arg.value;
            break;
        case whole:
            args.whole = true;
            break;
        case clockForm:
            args.form = ExtractForm::clock;
            break;
        case every:
            if (!parseSeconds(arg.value, mostSecondsBetweenSummaries, args.everyMs))
                return line.refuse("S is a number of seconds, 0.001 to 86400");
            break;
        case size:
        case format:
        case bandRows:
            if (!takeVideoOption(line, options[arg.option], arg.value, args.videoOptions))
                return false;
            break;
        case pair:
            args.stamped = arg.value;
            args.paired = arg.second;
            break;
        }
    }
    if (line.failed())
        return false;
    // The clock records carry their own counters and their own code.
    const bool clock = args.form == ExtractForm::clock;
    if (clock && args.data != nullptr)
        return line.refuseAll("--clock: the frames carry counters, not records of DATA");
    if (clock && args.fecDataBytes != 0)
        return line.refuseAll("--fec: --clock records carry their own code (K = 40)");
    if (args.data != nullptr) {
        // Only a report and PAIRED are written in this form, so only they
        // can be forced.
        if (args.force && args.report == nullptr && args.paired == nullptr)
            return line.refuseAll("--force: with --verify only a report or PAIRED is written");
        if (line.nameCount() != 1)
            return false;
        args.form = ExtractForm::verify;
        args.video = line.name(0);
        return true;
    }
    if (args.byPosition)
        return line.refuseAll("--by-position: only --verify compares frames with records");
    if (args.whole)
        return line.refuseAll("--whole: only --verify checks the records of DATA");
    if (args.paired != nullptr)
        return line.refuseAll("--pair: only --verify finds the source frame of each frame");
    if (clock) {
        if (args.force && args.report == nullptr)
            return line.refuseAll("--force: with --clock only a report is written");
        if (line.nameCount() != 1)
            return false;
        args.video = line.name(0);
        return true;
    }
    if (line.nameCount() != 2)
        return false;
    args.video = line.name(0);
    args.payloads = line.name(1);
    return true;
}
