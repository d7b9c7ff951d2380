#include "arguments.h"

#include <iterator>

#include "reed_solomon.h"

namespace {

enum Option { dataBytes, force };
constexpr OptionSpec options[] = {{"--data-bytes", "K"}, {"--force", nullptr}};

} // namespace

bool parsePackArgs(int argc, const char* const* argv, PackArgs& args, UsageError& error)
{
    args = PackArgs{};
    CommandLine line(argc, argv, options, std::size(options), error);
    if (line.asked() != Asked::nothing) {
        args.form = line.asked() == Asked::help ? PackForm::help : PackForm::version;
        return true;
    }
    CommandArg arg;
    while (line.next(arg)) {
        switch (arg.option) {
        case dataBytes:
            if (!parseWholeNumber(arg.value, minDataBytes, maxDataBytes, args.dataBytes))
                return line.refuse("K is 20 to 58");
            break;
        case force:
            args.force = true;
            break;
        }
    }
    if (line.failed() || line.nameCount() != 2)
        return false;
    args.data = line.name(0);
    args.packed = line.name(1);
    return true;
}
