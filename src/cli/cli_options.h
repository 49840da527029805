// The command line of tollbook-cli.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tollbook::cli {

inline constexpr std::string_view kUsage =
    "Usage: tollbook-cli [--mailbox URL] [--folder NAME] [--output DIR]\n"
    "                    [--full-file PATH] [--summary-file PATH]\n"
    "                    [--delete] [--cleanup] [--summary] [--ledger PATH | --no-ledger]\n"
    "                    [--list-folders] [--help] [--version]\n"
    "\n"
    "Collects the gateway accounting files of one mail folder into fullacct.csv and,\n"
    "with --summary, writes summary.csv: the same run as the window's GO button.\n"
    "\n"
    "  --mailbox URL        maildir:PATH or a Maildir directory (imap:// and imaps://\n"
    "                       where the build has them), or ledger: / ledger:PATH to\n"
    "                       collect again from a ledger. Default: $TOLLBOOK_MAILBOX,\n"
    "                       else $MAILDIR, else ~/Maildir.\n"
    "  --folder NAME        the folder to walk (ASCII case ignored). Default: the mailbox.\n"
    "  --output DIR         the output folder for the scratch files \"acct N\".\n"
    "                       Default: the current directory.\n"
    "  --full-file PATH     the full accounting file. Default: DIR/fullacct.csv.\n"
    "  --summary-file PATH  the summary file. Default: DIR/summary.csv.\n"
    "  --delete             delete each message once its accounting file is merged.\n"
    "  --cleanup            delete each scratch file once it is merged.\n"
    "  --summary            write the summary file.\n"
    "  --ledger PATH        keep every collected accounting file in the ledger PATH.\n"
    "                       Default: $TOLLBOOK_LEDGER, else\n"
    "                       $XDG_DATA_HOME/tollbook/ledger.sqlite, else\n"
    "                       ~/.local/share/tollbook/ledger.sqlite.\n"
    "  --no-ledger          keep no ledger for this run (as TOLLBOOK_LEDGER=off).\n"
    "  --list-folders       print the folder list, one name a line, and stop.\n"
    "  --help, --version    print this text or the version, and stop.\n"
    "\n"
    "Exit status: 0 the run reached its end, 1 the run failed, 2 bad usage,\n"
    "3 the mailbox could not be opened.\n";

struct CliOptions {
  std::optional<std::string> mailbox;
  std::optional<std::string> folder;
  std::optional<std::string> outputFolder;
  std::optional<std::string> fullFile;
  std::optional<std::string> summaryFile;
  std::optional<std::string> ledger;  // a path, or "off" for --no-ledger
  bool deleteMessages = false;
  bool cleanup = false;
  bool summary = false;
  bool listFolders = false;
  bool help = false;
  bool version = false;
};

// Bad usage: an unknown option, a missing or empty value, an argument that is
// not an option. The message says which.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses argv[1] to argv[argc-1]. Options with a value take it as the next
// argument or after "=" ("--output=DIR"). --no-ledger sets ledger to "off";
// it and --ledger exclude each other. Throws UsageError.
CliOptions ParseCliOptions(int argc, const char* const* argv);

}  // namespace tollbook::cli
