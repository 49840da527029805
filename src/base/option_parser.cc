#include "base/option_parser.h"

namespace tollbook {

ParsedArguments SplitArguments(int argc, const char* const* argv,
                               std::span<const OptionSpec> specs) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      parsed.operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const auto equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    const OptionSpec* known = nullptr;
    for (const auto& candidate : specs) {
      if (candidate.name == name) known = &candidate;
    }
    if (known == nullptr) throw UsageError("unknown option " + std::string(name));
    ParsedOption option{known->name, ""};
    if (!known->takesValue) {
      if (equals != std::string_view::npos) throw UsageError(std::string(name) + " takes no value");
    } else {
      if (equals != std::string_view::npos) {
        option.value = arg.substr(equals + 1);
      } else if (i + 1 < argc) {
        option.value = argv[++i];
      } else {
        throw UsageError(std::string(name) + " needs a value");
      }
      if (option.value.empty())
        throw UsageError(std::string(name) + " needs a value that is not empty");
    }
    parsed.options.push_back(std::move(option));
  }
  return parsed;
}

int ReportUsageError(std::FILE* err, std::string_view program, std::string_view message) {
  std::fprintf(err, "%.*s: %.*s\nTry '%.*s --help'.\n", static_cast<int>(program.size()),
               program.data(), static_cast<int>(message.size()), message.data(),
               static_cast<int>(program.size()), program.data());
  std::fflush(err);
  return 2;
}

}  // namespace tollbook
