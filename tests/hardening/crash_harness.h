// The crash harness: a Maildir of real MIME messages whose accounting
// attachments are known, tollbook-cli runs killed at chosen points, and the
// check of what a killed run must leave behind.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace tollbook::testing {

struct CrashMessage {
  std::string name;        // file name in cur/, without the ":2,S" suffix
  std::string file;        // the whole message file, as stored
  bool accounting = false; // its first attachment is "acct"
  std::string attachment;  // the acct attachment's bytes (accounting only)
};

// Messages for the harness: `accounting` messages whose first attachment is an
// "acct" file (base64, CR LF lines, of both flavours), interleaved with
// messages that must be left alone (no attachment, "acct" as second
// attachment, a first attachment named "acct.csv").
std::vector<CrashMessage> CrashMessages(int accounting);

// Writes them as the Maildir folder `path` (cur/new/tmp), all in cur/.
void WriteCrashMaildir(const std::string& path, const std::vector<CrashMessage>& messages);

// The standard base64 encoding, in lines of 76 characters ended by LF.
std::string Base64Lines(const std::string& bytes);

struct ProcessResult {
  bool killed = false;  // ended by SIGKILL
  int signal = 0;       // the signal that ended it, if one did
  int exitCode = -1;    // when it exited
  std::string output;   // stdout and stderr
};

// Runs program with args; `killAt` (when not empty) goes to TOLLBOOK_KILL_AT
// (POINT:N, or POINT:N:INT to raise another signal there);
// killAfterMicros >= 0 sends `signal` after that long.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& killAt = "", long killAfterMicros = -1,
                         int signal = SIGKILL);

// Checks what runs (killed or not) left: every message still in the folder is
// there byte for byte, no message without an accounting attachment is gone,
// and every accounting message that is gone has all its lines in the
// fullacct.csv of one of the output folders and (unless cleanup) a scratch
// file of that folder holding its attachment, and (when ledger is given) its
// attachment stored in that ledger. Returns the problems found, or the empty
// text.
std::string CheckNothingLost(const std::vector<CrashMessage>& messages,
                             const std::string& maildir,
                             const std::vector<std::string>& outputFolders, bool cleanup,
                             const std::string& ledger = "");

// Checks that the ledger stores every accounting attachment of messages
// exactly once. Returns the problems found, or the empty text.
std::string CheckStoredOnce(const std::vector<CrashMessage>& messages, const std::string& ledger);

// The ledger a crash test's runs in the folder dir record into:
// dir/ledger.sqlite, or a new one from the factory a test program set.
std::string CrashLedger(const std::string& dir);
void SetCrashLedgerFactory(std::function<std::string()> factory);

// The names of the messages still in the folder.
std::vector<std::string> RemainingMessages(const std::string& maildir);

}  // namespace tollbook::testing
