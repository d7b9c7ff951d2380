// The option table on any argument vector: every option handed back is in
// the table, with a value exactly where it takes one and each at most once;
// the names are as many as were given; a refusal has its reason, but for
// the wrong names alone.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "argument_words.h"
#include "../../io/command_line.h"

namespace {

constexpr OptionSpec table[] = {{"--band", nullptr},
                                {"--fec", "K"},
                                {"--report", "FILE"},
                                {"--force", nullptr},
                                {"--pair", "A B", 2}};
constexpr int options = 5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ArgumentWords args(data, size);
    const std::vector<const char*>& argv = args.argv;
    UsageError error;
    CommandLine line(static_cast<int>(argv.size()), argv.data(), table, options, error);
    CommandArg arg;
    unsigned seen = 0;
    int given = 0;
    while (line.next(arg)) {
        if (arg.option < 0 || arg.option >= options || (seen >> arg.option & 1u) != 0 ||
            (arg.value != nullptr) != (table[arg.option].valueName != nullptr) ||
            (arg.second != nullptr) != (table[arg.option].values == 2))
            std::abort();
        seen |= 1u << arg.option;
        ++given;
    }
    if (line.asked() != Asked::nothing && (argv.size() != 2 || line.failed()))
        std::abort();
    if (line.nameCount() > CommandLine::maxNames || std::strlen(error.text) >= sizeof error.text)
        std::abort();
    if (!line.failed() && line.asked() == Asked::nothing) {
        // Every word is an option, a value, a name or the one "--".
        int values = 0;
        for (int i = 0; i < options; ++i)
            values += (seen >> i & 1u) != 0 && table[i].valueName != nullptr ? table[i].values : 0;
        const int typed = static_cast<int>(argv.size()) - 1;
        const int rest = typed - given - values - line.nameCount();
        if (rest != 0 && rest != 1)
            std::abort();
    }
    return 0;
}
