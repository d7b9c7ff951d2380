// The programs' command lines: options from a table, given once each, in
// any order before, between or after the names; --help or --version alone.
// "-" is a name (a standard stream), and "--" ends the options, so that a
// file named like an option can still be named. Nothing here touches a
// file or allocates.
#pragma once

#include <cstddef>
#include <cstdint>

struct OptionSpec {
    const char* name;      // "--fec"
    const char* valueName; // what its value is called ("K"), or nullptr for a flag
    int values = 1;        // 2 for an option followed by two ("--pair STAMPED PAIRED")
};

// One option as the parser hands it back.
struct CommandArg {
    int option = -1;              // its index in the table
    const char* value = nullptr;  // its value, or nullptr for a flag
    const char* second = nullptr; // the second value of an option that takes two
};

// Why a command line was refused: empty for a plain usage error (the wrong
// names), otherwise a line such as "--fec 10: K is 20 to 58".
struct UsageError {
    char text[256] = "";
};

enum class Asked {
    nothing,
    help,    // --help alone: the usage text on standard output
    version, // --version alone
};

class CommandLine {
  public:
    static constexpr int maxNames = 4;
    CommandLine(int argc, const char* const* argv, const OptionSpec* table, size_t options,
                UsageError& error);
    Asked asked() const { return asked_; }
    // The next option, in order; names are kept aside. False at the end,
    // after an error, or when --help or --version was asked.
    bool next(CommandArg& arg);
    // Refuses the value of the option just handed back: the message names
    // the option, the value and `reason`. Returns false, for `return`.
    bool refuse(const char* reason);
    // Refuses the command line for a reason that is not one option's value.
    bool refuseAll(const char* reason);
    bool failed() const { return failed_; }
    // The names, once next() has returned false.
    int nameCount() const { return nameCount_; }
    const char* name(int i) const { return names_[i]; }

  private:
    bool fail(const char* format, const char* word, const char* more = "");

    const char* const* argv_;
    int argc_;
    int at_ = 1;
    const OptionSpec* table_;
    size_t options_;
    UsageError& error_;
    Asked asked_ = Asked::nothing;
    bool optionsEnded_ = false;
    bool failed_ = false;
    int last_ = -1;     // the option handed back last
    unsigned seen_ = 0; // a bit an option of the table
    const char* names_[maxNames] = {};
    int nameCount_ = 0; // more than maxNames is a usage error
};

// A whole decimal number from `least` to `most` and nothing else; false for
// anything else, `value` then unchanged.
bool parseWholeNumber(const char* text, int least, int most, int& value);

// A number of seconds, whole or with up to three decimals ("2", "0.5"),
// from 0.001 to `most`, as milliseconds; false for anything else, `ms` then
// unchanged.
bool parseSeconds(const char* text, int most, int64_t& ms);
