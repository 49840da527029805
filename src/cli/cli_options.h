// The command line of tollbook-cli.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/option_parser.h"

namespace tollbook::cli {

inline constexpr std::string_view kUsage =
    "Usage: tollbook-cli [--mailbox URL] [--folder NAME] [--output DIR]\n"
    "                    [--full-file PATH] [--summary-file PATH] [--password-command CMD]\n"
    "                    [--delete] [--cleanup] [--summary] [--report PATH]\n"
    "                    [--dry-run] [-q|-v]\n"
    "                    [--ledger PATH | --no-ledger]\n"
    "       tollbook-cli [--mailbox URL] [--password-command CMD] --list-folders\n"
    "       tollbook-cli --help | --version\n"
    "\n"
    "Collects the gateway accounting files of one mail folder into fullacct.csv and,\n"
    "with --summary, writes summary.csv: the same run as the window's GO button.\n"
    "\n"
    "  --mailbox URL        maildir:PATH or a Maildir directory; imaps://USER@HOST[:PORT]\n"
    "                       (TLS) or imap://USER@HOST[:PORT] (STARTTLS, never without\n"
    "                       it; imap://...?tls=none is plain IMAP, the password in\n"
    "                       clear text); OAuth 2.0: imaps://USER;AUTH=XOAUTH2@HOST or\n"
    "                       ;AUTH=OAUTHBEARER, the bearer token from the password\n"
    "                       command; or ledger: / ledger:PATH to collect again from a\n"
    "                       ledger (PATH as for --ledger); with --ledger naming another\n"
    "                       ledger, a run moves its files into that one. Default:\n"
    "                       $TOLLBOOK_MAILBOX, else $MAILDIR, else ~/Maildir.\n"
    "  --folder NAME        the folder to walk (ASCII case ignored). Default: the mailbox.\n"
    "                       Without a folder of that name, the one folder named so\n"
    "                       under the server's personal namespace (Cyrus: INBOX.NAME).\n"
    "                       Folder names show control and undecodable bytes escaped\n"
    "                       (\\r, \\n, \\xNN); give a name as it is shown.\n"
    "  --output DIR         the output folder for the scratch files \"acct N\".\n"
    "                       Default: the current directory.\n"
    "  --full-file PATH     the full accounting file. Default: DIR/fullacct.csv.\n"
    "  --summary-file PATH  the summary file. Default: DIR/summary.csv.\n"
    "  --password-command CMD\n"
    "                       IMAP: run CMD in the shell (/bin/sh); its first output line\n"
    "                       is the password, or with ;AUTH= the bearer token (run again\n"
    "                       for every log-in, so it may refresh the token). Default:\n"
    "                       $TOLLBOOK_IMAP_PASSWORD_COMMAND.\n"
    "                       The password is taken from the first of: this command,\n"
    "                       the URL (USER:PASSWORD@HOST), ~/.netrc ($NETRC). A password\n"
    "                       in the URL is the last resort: it shows in ps.\n"
    "  --delete             delete each message once its accounting file is merged.\n"
    "  --cleanup            delete each scratch file once it is merged.\n"
    "  --summary            write the summary file.\n"
    "  --report PATH        write PATH, one HTML page with the same figures as the\n"
    "                       summary: totals, bytes per date and the largest users as\n"
    "                       charts, every user in a table (the first 1,000). Needs no\n"
    "                       --summary; written, like it, when files were merged.\n"
    "  --dry-run            write nothing, delete nothing: list the messages a run would\n"
    "                       collect (identity, Message-ID, attachment name and decoded\n"
    "                       size), with --delete those it would delete, and the count.\n"
    "  -q, --quiet          print nothing on standard output unless start-up fails;\n"
    "                       errors still go to standard error.\n"
    "  -v, --verbose        tell each step on standard error: connecting, log-in, the\n"
    "                       folder and its message count, each accounting file saved\n"
    "                       and its message, each deletion batch committed.\n"
    "  --ledger PATH        keep every collected accounting file in the ledger PATH:\n"
    "                       an SQLite file, or a PostgreSQL database shared by every\n"
    "                       collector (postgresql://USER@HOST/DB, postgres://..., or\n"
    "                       libpq's \"host=... dbname=...\"; the password from\n"
    "                       ~/.pgpass, $PGPASSFILE or $PGPASSWORD; TLS by sslmode,\n"
    "                       require unless named: use verify-full across a network).\n"
    "                       Default: $TOLLBOOK_LEDGER, else\n"
    "                       $XDG_DATA_HOME/tollbook/ledger.sqlite, else\n"
    "                       ~/.local/share/tollbook/ledger.sqlite.\n"
    "  --no-ledger          keep no ledger for this run (as TOLLBOOK_LEDGER=off).\n"
    "  --list-folders       print the folder list, one name a line, and stop.\n"
    "  --help, --version    print this text or the version, and stop.\n"
    "  --                   ends the options.\n"
    "\n"
    "A run refuses to start while another run writes to the same folders. SIGINT,\n"
    "SIGTERM or SIGHUP stops it after the current accounting file, with every\n"
    "handled file whole in fullacct.csv; a second signal ends it at once.\n"
    "\n"
    "Exit status: 0 the run reached its end, 1 the run failed (or another run\n"
    "writes to the same folders, or standard output could not be written), 2 bad\n"
    "usage, 3 the mailbox could not be opened, 128+N stopped by signal N (130 for\n"
    "SIGINT).\n";

struct CliOptions {
  std::optional<std::string> mailbox;
  std::optional<std::string> folder;
  std::optional<std::string> outputFolder;
  std::optional<std::string> fullFile;
  std::optional<std::string> summaryFile;
  std::optional<std::string> report;
  std::optional<std::string> passwordCommand;
  std::optional<std::string> ledger;  // a location, or "off" for --no-ledger
  bool deleteMessages = false;
  bool cleanup = false;
  bool summary = false;
  bool dryRun = false;
  bool noLedger = false;
  bool quiet = false;
  bool verbose = false;
  bool listFolders = false;
  bool help = false;
  bool version = false;
};

// Parses argv[1] to argv[argc-1]. Options with a value take it as the next
// argument or after "=" ("--output=DIR"); "--" ends the options. Throws
// UsageError, also for options that do not go together: --list-folders with
// an option of the run, --quiet with --verbose or --dry-run, --ledger with
// --no-ledger (which sets ledger to "off").
CliOptions ParseCliOptions(int argc, const char* const* argv);

}  // namespace tollbook::cli
