#include "arguments.h"

#include <cstring>

#include "reed_solomon.h"

bool parsePackArgs(int argc, const char* const* argv, PackArgs& args)
{
    args = PackArgs{};
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        args.form = PackForm::help;
        return true;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        args.form = PackForm::version;
        return true;
    }
    const char* names[2] = {};
    int count = 0;
    bool sized = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--data-bytes") == 0) {
            if (sized || i + 1 == argc || !parseDataBytes(argv[++i], args.dataBytes))
                return false;
            sized = true;
        } else if (std::strcmp(arg, "--force") == 0) {
            args.force = true;
        } else if (std::strncmp(arg, "--", 2) == 0 || count == 2) {
            return false;
        } else {
            names[count++] = arg;
        }
    }
    if (count != 2)
        return false;
    args.data = names[0];
    args.packed = names[1];
    return true;
}
