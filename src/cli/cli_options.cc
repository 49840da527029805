#include "cli/cli_options.h"

#include <utility>

namespace tollbook::cli {
namespace {

struct ValueOption {
  std::string_view name;
  std::optional<std::string> CliOptions::*field;
};

constexpr ValueOption kValueOptions[] = {
    {"--mailbox", &CliOptions::mailbox},
    {"--folder", &CliOptions::folder},
    {"--output", &CliOptions::outputFolder},
    {"--full-file", &CliOptions::fullFile},
    {"--summary-file", &CliOptions::summaryFile},
    {"--ledger", &CliOptions::ledger},
};

struct FlagOption {
  std::string_view name;
  bool CliOptions::*field;
};

constexpr FlagOption kFlagOptions[] = {
    {"--delete", &CliOptions::deleteMessages}, {"--cleanup", &CliOptions::cleanup},
    {"--summary", &CliOptions::summary},       {"--list-folders", &CliOptions::listFolders},
    {"--help", &CliOptions::help},             {"-h", &CliOptions::help},
    {"--version", &CliOptions::version},
};

}  // namespace

CliOptions ParseCliOptions(int argc, const char* const* argv) {
  CliOptions options;
  bool noLedger = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto equals = arg.find('=');
    const std::string_view name = arg.starts_with("--") ? arg.substr(0, equals) : arg;

    bool known = false;
    if (name == "--no-ledger") {
      if (name != arg) throw UsageError("--no-ledger takes no value");
      noLedger = true;
      continue;
    }
    for (const auto& flag : kFlagOptions) {
      if (name != flag.name) continue;
      if (name != arg) throw UsageError(std::string(name) + " takes no value");
      options.*flag.field = true;
      known = true;
    }
    for (const auto& option : kValueOptions) {
      if (name != option.name) continue;
      std::string value;
      if (name != arg) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        throw UsageError(std::string(name) + " needs a value");
      }
      if (value.empty()) throw UsageError(std::string(name) + " needs a value that is not empty");
      options.*option.field = std::move(value);
      known = true;
    }
    if (known) continue;
    if (arg.starts_with("-")) throw UsageError("unknown option " + std::string(name));
    throw UsageError("unexpected argument " + std::string(arg) +
                     " (the mailbox is given with --mailbox)");
  }
  if (noLedger) {
    if (options.ledger) throw UsageError("--ledger and --no-ledger exclude each other; give one");
    options.ledger = "off";
  }
  return options;
}

}  // namespace tollbook::cli
