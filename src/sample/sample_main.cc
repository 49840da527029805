// tollbook-sample: writes a sample Maildir++ tree with gateway traffic.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "sample/sample_mailbox.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tollbook-sample DIR [--messages N] [--seed S] [--lines N]\n"
    "                       [--accounting-share X] [--large-part BYTES] [--no-other-folders]\n"
    "Writes a Maildir++ tree at DIR (which must not hold a mailbox yet): an Accounting\n"
    "folder of N messages (default 200), about a share X (default 0.5) of them carrying an\n"
    "accounting file of about --lines lines (default 20) as their first attachment, the\n"
    "others mail that a run must leave alone; and, unless --no-other-folders, a few INBOX\n"
    "messages and empty folders. The same seed (default 1) gives the same tree.\n"
    "--large-part adds a non-accounting attachment of that many bytes to every message.\n";

int Usage(const std::string& problem) {
  std::cerr << "tollbook-sample: " << problem << "\n" << kUsage;
  return 2;
}

bool ParseNumber(std::string_view text, long long low, long long high, long long& value) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(copy.c_str(), &end, 10);
  return !copy.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  tollbook::mail::SampleOptions options;
  std::string root;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--no-other-folders") {
      options.otherFolders = false;
      continue;
    }
    if (arg.starts_with("--")) {
      if (i + 1 >= argc) return Usage(std::string(arg) + ": a value is missing");
      const std::string_view value = argv[++i];
      long long number = 0;
      if (arg == "--messages" && ParseNumber(value, 0, 10000000, number)) {
        options.messages = static_cast<int>(number);
      } else if (arg == "--seed" && ParseNumber(value, 0, 0xFFFFFFFFll, number)) {
        options.seed = static_cast<std::uint32_t>(number);
      } else if (arg == "--lines" && ParseNumber(value, 1, 1000000, number)) {
        options.linesPerFile = static_cast<int>(number);
      } else if (arg == "--large-part" && ParseNumber(value, 0, 1ll << 32, number)) {
        options.largePartBytes = static_cast<std::size_t>(number);
      } else if (arg == "--accounting-share") {
        char* end = nullptr;
        const std::string copy(value);
        options.accountingShare = std::strtod(copy.c_str(), &end);
        if (copy.empty() || *end != '\0' || !(options.accountingShare >= 0.0) ||
            options.accountingShare > 1.0) {
          return Usage("--accounting-share: not a number from 0 to 1: " + copy);
        }
      } else if (arg == "--messages" || arg == "--seed" || arg == "--lines" ||
                 arg == "--large-part") {
        return Usage(std::string(arg) + ": not a valid number: " + std::string(value));
      } else {
        return Usage("unknown option " + std::string(arg));
      }
      continue;
    }
    if (!root.empty()) return Usage("more than one directory given");
    root = arg;
  }
  if (root.empty()) return Usage("no directory given");

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
