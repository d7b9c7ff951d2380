#include "arguments.h"

#include <iterator>

namespace {

enum Option { force, clockForm, size, format, bandRows };
constexpr OptionSpec options[] = {{"--force", nullptr}, {"--clock", nullptr}, sizeOption, formatOption,
                                   bandRowsOption};

} // namespace

bool parseStampArgs(int argc, const char* const* argv, StampArgs& args, UsageError& error)
{
    args = StampArgs{};
    CommandLine line(argc, argv, options, std::size(options), error);
    if (line.asked() != Asked::nothing) {
        args.form = line.asked() == Asked::help ? StampForm::help : StampForm::version;
        return true;
    }
    CommandArg arg;
    while (line.next(arg)) {
        switch (arg.option) {
        case force:
            args.force = true;
            break;
        case clockForm:
            args.clock = true;
            break;
        case size:
        case format:
        case bandRows:
            if (!takeVideoOption(line, options[arg.option], arg.value, args.videoOptions))
                return false;
            break;
        }
    }
    // The clock form makes its own payloads: no WATERMARK.
    if (line.failed() || line.nameCount() != (args.clock ? 2 : 3))
        return false;
    args.source = line.name(0);
    args.data = args.clock ? nullptr : line.name(1);
    args.output = line.name(args.clock ? 1 : 2);
    return true;
}
