// The command-line conventions that tollbook-cli and tollbook-sample share:
// "--name VALUE" or "--name=VALUE", flags that take no value, "--" ending the
// options, and a usage error that names what was wrong and points to --help.
#pragma once

#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook {

// Bad usage: an unknown option, a missing or empty value, an argument that is
// not an option, options that do not go together. The message says which.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::string_view name;  // "--mailbox", "-q"
  bool takesValue = false;
};

struct ParsedOption {
  std::string_view name;  // the name as listed in the specs
  std::string value;      // empty for a flag
};

struct ParsedArguments {
  std::vector<ParsedOption> options;  // in the order given
  std::vector<std::string> operands;  // the arguments that are no options
};

// Splits argv[1] to argv[argc-1] by specs. A value comes as the next argument
// or after "=" (long names only) and must not be empty. After "--" every
// argument is an operand. Throws UsageError for an unknown option, a value
// given to a flag, and a missing or empty value.
ParsedArguments SplitArguments(int argc, const char* const* argv,
                               std::span<const OptionSpec> specs);

// Prints "PROGRAM: MESSAGE" and "Try 'PROGRAM --help'." on err; returns 2,
// the exit status of bad usage.
int ReportUsageError(std::FILE* err, std::string_view program, std::string_view message);

}  // namespace tollbook
