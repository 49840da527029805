// tollbook-sample: writes a sample Maildir++ tree with gateway traffic.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "base/option_parser.h"
#include "base/standard_streams.h"
#include "sample/sample_mailbox.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tollbook-sample DIR [--messages N] [--seed S] [--lines N] [--users N]\n"
    "                       [--accounting-share X] [--large-part BYTES] [--no-other-folders]\n"
    "Writes a Maildir++ tree at DIR (which must not hold a mailbox yet): an Accounting\n"
    "folder of N messages (default 200), about a share X (default 0.5) of them carrying an\n"
    "accounting file of about --lines lines (default 20) as their first attachment, the\n"
    "others mail that a run must leave alone; and, unless --no-other-folders, a few INBOX\n"
    "messages and empty folders. The same seed (default 1) gives the same tree.\n"
    "--users spreads the lines over N senders (default 10).\n"
    "--large-part adds a non-accounting attachment of that many bytes to every message.\n"
    "--help and --version print this text or the version; -- ends the options.\n"
    "Exit status: 0 written, 1 the tree could not be written, 2 bad usage.\n";

constexpr tollbook::OptionSpec kOptions[] = {
    {"--messages", true}, {"--seed", true},         {"--lines", true},
    {"--users", true}, {"--large-part", true}, {"--accounting-share", true}, {"--no-other-folders", false},
    {"--help", false},    {"-h", false},            {"--version", false},
};

int Usage(const std::string& problem) {
  return tollbook::ReportUsageError(stderr, "tollbook-sample", problem);
}

bool ParseNumber(std::string_view text, long long low, long long high, long long& value) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(copy.c_str(), &end, 10);
  return !copy.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

int Main(int argc, char** argv) {
  tollbook::mail::SampleOptions options;
  tollbook::ParsedArguments parsed;
  try {
    parsed = tollbook::SplitArguments(argc, argv, kOptions);
  } catch (const tollbook::UsageError& e) {
    return Usage(e.what());
  }
  for (const auto& option : parsed.options) {
    if (option.name == "--help" || option.name == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (option.name == "--version") {
      std::cout << "tollbook-sample " TOLLBOOK_VERSION "\n";
      return 0;
    }
  }
  for (const auto& [name, value] : parsed.options) {
    long long number = 0;
    if (name == "--no-other-folders") {
      options.otherFolders = false;
    } else if (name == "--messages" && ParseNumber(value, 0, 10000000, number)) {
      options.messages = static_cast<int>(number);
    } else if (name == "--seed" && ParseNumber(value, 0, 0xFFFFFFFFll, number)) {
      options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--lines" && ParseNumber(value, 1, 1000000, number)) {
      options.linesPerFile = static_cast<int>(number);
    } else if (name == "--users" && ParseNumber(value, 1, 1000000, number)) {
      options.users = static_cast<int>(number);
    } else if (name == "--large-part" && ParseNumber(value, 0, 1ll << 32, number)) {
      options.largePartBytes = static_cast<std::size_t>(number);
    } else if (name == "--accounting-share") {
      char* end = nullptr;
      options.accountingShare = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(options.accountingShare >= 0.0) || options.accountingShare > 1.0) {
        return Usage("--accounting-share: not a number from 0 to 1: " + value);
      }
    } else {
      return Usage(std::string(name) + ": not a valid number: " + value);
    }
  }
  if (parsed.operands.empty()) return Usage("no directory given");
  if (parsed.operands.size() > 1) return Usage("more than one directory given");
  const std::string root = parsed.operands.front();

  try {
    const auto summary = tollbook::mail::WriteSampleMailbox(root, options);
    std::cout << "Wrote the sample mailbox " << root << ": " << options.messages
              << " messages in its Accounting folder, " << summary.accountingMessages
              << " with an accounting file (" << summary.accountingLines << " lines) and "
              << summary.otherMessages << " to be left alone.\n";
  } catch (const std::exception& e) {
    std::cerr << "tollbook-sample: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tollbook::GuardStandardStreams();
  return tollbook::FinishStandardStreams("tollbook-sample", Main(argc, argv));
}
