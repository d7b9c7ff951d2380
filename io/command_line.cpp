#include "command_line.h"

#include <cstdio>
#include <cstring>

CommandLine::CommandLine(int argc, const char* const* argv, const OptionSpec* table, size_t options,
                         UsageError& error)
    : argv_(argv), argc_(argc), table_(table), options_(options), error_(error)
{
    error_.text[0] = '\0';
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        asked_ = Asked::help;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        asked_ = Asked::version;
}

bool CommandLine::fail(const char* format, const char* word, const char* more)
{
    std::snprintf(error_.text, sizeof error_.text, format, word, more);
    failed_ = true;
    return false;
}

bool CommandLine::next(CommandArg& arg)
{
    arg = CommandArg{};
    while (!failed_ && asked_ == Asked::nothing && at_ < argc_) {
        const char* word = argv_[at_++];
        if (!optionsEnded_ && std::strcmp(word, "--") == 0) {
            optionsEnded_ = true;
            continue;
        }
        if (optionsEnded_ || std::strncmp(word, "--", 2) != 0) {
            if (nameCount_ == maxNames)
                return fail("%s", "");
            names_[nameCount_++] = word;
            continue;
        }
        if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "--version") == 0)
            return fail("%s stands alone", word);
        size_t i = 0;
        while (i < options_ && std::strcmp(word, table_[i].name) != 0)
            ++i;
        if (i == options_)
            return fail("unknown option %s", word);
        if ((seen_ >> i & 1u) != 0)
            return fail("%s is given twice", word);
        seen_ |= 1u << i;
        last_ = static_cast<int>(i);
        arg.option = last_;
        if (table_[i].valueName != nullptr) {
            const bool two = table_[i].values == 2;
            if (argc_ - at_ < (two ? 2 : 1))
                return fail(two ? "%s needs two values (%s)" : "%s needs a value (%s)", word,
                            table_[i].valueName);
            arg.value = argv_[at_++];
            arg.second = two ? argv_[at_++] : nullptr;
        }
        return true;
    }
    return false;
}

bool CommandLine::refuse(const char* reason)
{
    const OptionSpec& option = table_[last_];
    if (option.valueName != nullptr && option.values == 2)
        std::snprintf(error_.text, sizeof error_.text, "%s %s %s: %s", option.name, argv_[at_ - 2],
                      argv_[at_ - 1], reason);
    else if (option.valueName != nullptr)
        std::snprintf(error_.text, sizeof error_.text, "%s %s: %s", option.name, argv_[at_ - 1],
                      reason);
    else
        std::snprintf(error_.text, sizeof error_.text, "%s: %s", option.name, reason);
    failed_ = true;
    return false;
}

bool CommandLine::refuseAll(const char* reason)
{
    return fail("%s", reason);
}

bool parseWholeNumber(const char* text, int least, int most, int& value)
{
    long number = 0;
    int digits = 0;
    for (; text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        number = number * 10 + (text[digits] - '0');
        if (number > most)
            return false;
    }
    if (digits == 0 || text[digits] != '\0' || number < least)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool parseSeconds(const char* text, int most, int64_t& ms)
{
    int64_t number = 0;
    int digits = 0, decimals = 0;
    const char* at = text;
    for (; *at >= '0' && *at <= '9'; ++at, ++digits) {
        number = number * 10 + (*at - '0');
        if (number > most)
            return false;
    }
    if (*at == '.')
        for (++at; *at >= '0' && *at <= '9' && decimals < 3; ++at, ++decimals)
            number = number * 10 + (*at - '0');
    if (digits == 0 || *at != '\0')
        return false;
    for (; decimals < 3; ++decimals)
        number *= 10;
    if (number < 1 || number > static_cast<int64_t>(most) * 1000)
        return false;
    ms = number;
    return true;
}
