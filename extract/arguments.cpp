#include "arguments.h"

#include <cstring>

#include "reed_solomon.h"

namespace {

bool is(const char* arg, const char* option)
{
    return std::strcmp(arg, option) == 0;
}

} // namespace

bool parseExtractArgs(int argc, const char* const* argv, ExtractArgs& args)
{
    args = ExtractArgs{};
    if (argc == 2 && is(argv[1], "--help")) {
        args.form = ExtractForm::help;
        return true;
    }
    if (argc == 2 && is(argv[1], "--version")) {
        args.form = ExtractForm::version;
        return true;
    }
    const char* names[2] = {};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (is(arg, "--band")) {
            args.bandOnly = true;
        } else if (is(arg, "--force")) {
            args.force = true;
        } else if (is(arg, "--by-position")) {
            args.byPosition = true;
        } else if (is(arg, "--report")) {
            if (args.report != nullptr || i + 1 == argc)
                return false;
            args.report = argv[++i];
        } else if (is(arg, "--fec")) {
            if (args.fecDataBytes != 0 || i + 1 == argc ||
                !parseDataBytes(argv[++i], args.fecDataBytes))
                return false;
        } else if (is(arg, "--verify")) {
            if (args.data != nullptr || i + 1 == argc)
                return false;
            args.data = argv[++i];
        } else if (std::strncmp(arg, "--", 2) == 0) {
            return false;
        } else if (count == 2) {
            return false;
        } else {
            names[count++] = arg;
        }
    }
    if (args.data != nullptr) {
        // Only a report is written in this form, so only it can be forced.
        if (count != 1 || (args.force && args.report == nullptr))
            return false;
        args.form = ExtractForm::verify;
        args.video = names[0];
        return true;
    }
    // Only a verification has positions to keep to.
    if (count != 2 || args.byPosition)
        return false;
    args.video = names[0];
    args.payloads = names[1];
    return true;
}
