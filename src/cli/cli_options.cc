#include "cli/cli_options.h"

#include <utility>

namespace tollbook::cli {
namespace {

struct ValueOption {
  std::string_view name;
  std::optional<std::string> CliOptions::*field;
  bool ofTheRun;  // has no meaning for --list-folders
};

constexpr ValueOption kValueOptions[] = {
    {"--mailbox", &CliOptions::mailbox, false},
    {"--password-command", &CliOptions::passwordCommand, false},
    {"--folder", &CliOptions::folder, true},
    {"--output", &CliOptions::outputFolder, true},
    {"--full-file", &CliOptions::fullFile, true},
    {"--summary-file", &CliOptions::summaryFile, true},
    {"--report", &CliOptions::report, true},
    {"--ledger", &CliOptions::ledger, true},
};

struct FlagOption {
  std::string_view name;
  bool CliOptions::*field;
  bool ofTheRun;
};

constexpr FlagOption kFlagOptions[] = {
    {"--delete", &CliOptions::deleteMessages, true},
    {"--cleanup", &CliOptions::cleanup, true},
    {"--summary", &CliOptions::summary, true},
    {"--dry-run", &CliOptions::dryRun, true},
    {"--no-ledger", &CliOptions::noLedger, true},
    {"--quiet", &CliOptions::quiet, false},
    {"-q", &CliOptions::quiet, false},
    {"--verbose", &CliOptions::verbose, false},
    {"-v", &CliOptions::verbose, false},
    {"--list-folders", &CliOptions::listFolders, false},
    {"--help", &CliOptions::help, false},
    {"-h", &CliOptions::help, false},
    {"--version", &CliOptions::version, false},
};

std::vector<OptionSpec> Specs() {
  std::vector<OptionSpec> specs;
  for (const auto& option : kValueOptions) specs.push_back({option.name, true});
  for (const auto& flag : kFlagOptions) specs.push_back({flag.name, false});
  return specs;
}

}  // namespace

CliOptions ParseCliOptions(int argc, const char* const* argv) {
  static const std::vector<OptionSpec> specs = Specs();
  const ParsedArguments parsed = SplitArguments(argc, argv, specs);
  if (!parsed.operands.empty()) {
    throw UsageError("unexpected argument " + parsed.operands.front() +
                     " (the mailbox is given with --mailbox)");
  }
  CliOptions options;
  std::string runOption;  // the first option of the run given
  for (const auto& option : parsed.options) {
    for (const auto& value : kValueOptions) {
      if (option.name != value.name) continue;
      options.*value.field = option.value;
      if (value.ofTheRun && runOption.empty()) runOption = value.name;
    }
    for (const auto& flag : kFlagOptions) {
      if (option.name != flag.name) continue;
      options.*flag.field = true;
      if (flag.ofTheRun && runOption.empty()) runOption = flag.name;
    }
  }
  if (options.help || options.version) return options;
  if (options.listFolders && !runOption.empty()) {
    throw UsageError("--list-folders runs nothing, so " + runOption +
                     " has no meaning with it; give one or the other");
  }
  if (options.quiet && options.verbose) throw UsageError("--quiet and --verbose contradict each other");
  if (options.quiet && options.dryRun) {
    throw UsageError("--quiet and --dry-run contradict each other (a dry run prints its list)");
  }
  if (options.noLedger) {
    if (options.ledger) throw UsageError("--ledger and --no-ledger exclude each other; give one");
    options.ledger = "off";
  }
  return options;
}

}  // namespace tollbook::cli
