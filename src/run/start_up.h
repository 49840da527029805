// Start-up as the window and the command line both do it: resolve the
// mailbox location, create the session and log in, then read the folder list
// and find a folder by name.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/collection_recorder.h"
#include "mail/mail_source.h"

namespace tollbook {

// The text of start-up's error route, shown when the session cannot be
// created or the log-in fails.
inline constexpr std::string_view kStartUpFailureText =
    "Groupwise 5 32-bit client not correctly Installed";

// Names the IMAP password command where no option does (the window).
inline constexpr std::string_view kPasswordCommandVariable = "TOLLBOOK_IMAP_PASSWORD_COMMAND";

// The logged-in account and the session it came from; the account is
// released first. With them, what a run on the account records into.
struct OpenedAccount {
  std::unique_ptr<mail::Session> session;
  std::unique_ptr<mail::Account> account;
  std::string mailbox;      // the location opened, without any password
  bool mailboxIsLedger = false;  // a "ledger:" location: read-only, nothing deleted
  std::string ledgerPath;   // the ledger runs record into; empty: none

  // A recorder into ledgerPath for one run, or null when none is kept.
  std::unique_ptr<ledger::CollectionRecorder> CreateRecorder() const;
};

// What start-up takes besides the location.
struct StartUpOptions {
  // The IMAP password command; unset: $TOLLBOOK_IMAP_PASSWORD_COMMAND.
  std::optional<std::string> passwordCommand;
  mail::TraceSink trace;  // each step of connecting and logging in, when set
  mail::TraceSink warn;   // warnings; standard error when unset
  // The ledger runs record into, as the command line chose it: a path,
  // "off", or unset for the default (resolved by ledger::ResolveLedgerPath).
  std::optional<std::string> ledgerChoice;
};

// Opens the mailbox at location ("maildir:PATH", a directory path,
// "imap://..." or "imaps://...", "ledger:" or "ledger:PATH"); an empty
// location means the default one (mail::DefaultMailboxLocation). Logs in with
// two empty texts. Throws mail::LoginError whose message names the mailbox
// and the cause (mail::SettingError when the location or a setting is
// malformed).
OpenedAccount OpenAccount(std::string_view location, const StartUpOptions& options = {});

// "Remote" when the account is a local copy of the mailbox, else "Connected".
std::string_view ConnectionModeText(mail::Account& account);

// The names of the account's folders in the order of its folder collection:
// entries 1 to N of the folder list. Throws mail::MailError.
std::vector<std::string> FolderNames(mail::Account& account);

// The position (from 1) of the first folder whose name equals name, ignoring
// the case of ASCII letters; 0 when there is none. The position is also the
// folder list index that chooses it.
int FindFolderPosition(const std::vector<std::string>& names, std::string_view name);

// Where no folder is named name: the position of the one folder named prefix
// followed by name (the account's FolderPrefix(), ASCII case ignored); 0 when
// prefix is empty or not exactly one folder is so named.
int FindPrefixedFolderPosition(const std::vector<std::string>& names, std::string_view name,
                               std::string_view prefix);

}  // namespace tollbook
