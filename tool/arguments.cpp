#include "arguments.h"

bool parseStampArgs(int argc, const char* const* argv, StampArgs& args, UsageError& error)
{
    args = StampArgs{};
    CommandLine line(argc, argv, nullptr, 0, error);
    if (line.asked() != Asked::nothing) {
        args.form = line.asked() == Asked::help ? StampForm::help : StampForm::version;
        return true;
    }
    CommandArg arg;
    while (line.next(arg)) {
    }
    if (line.failed() || line.nameCount() != 3)
        return false;
    args.source = line.name(0);
    args.data = line.name(1);
    args.output = line.name(2);
    return true;
}
