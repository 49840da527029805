#include "run/start_up.h"

#include <cstdlib>

#include "base/text.h"
#include "ledger/location.h"
#include "ledger/recorder.h"
#include "ledger/source.h"
#include "mail/session_factory.h"

namespace tollbook {

std::unique_ptr<ledger::CollectionRecorder> OpenedAccount::CreateRecorder() const {
  return ledger::CreateLedgerRecorder(ledgerPath, mailbox);
}

OpenedAccount OpenAccount(std::string_view location, const StartUpOptions& options) {
  const std::string resolved =
      location.empty() ? mail::DefaultMailboxLocation() : std::string(location);
  mail::SessionOptions sessionOptions;
  if (options.passwordCommand) {
    sessionOptions.passwordCommand = *options.passwordCommand;
  } else if (const char* command = std::getenv(std::string(kPasswordCommandVariable).c_str())) {
    sessionOptions.passwordCommand = command;
  }
  sessionOptions.trace = options.trace;
  sessionOptions.warn = options.warn;
  OpenedAccount opened;
  opened.mailbox = ledger::LocationWithoutPassword(resolved);
  if (ledger::IsLedgerLocation(resolved)) {
    opened.mailboxIsLedger = true;
    const std::string source = ledger::LedgerLocationPath(resolved, options.ledgerChoice);
    opened.session = ledger::CreateLedgerSession(source);
    // A ledger read with an explicit --ledger naming another ledger is
    // brought into that one.
    if (options.ledgerChoice && *options.ledgerChoice != "off" && *options.ledgerChoice != source) {
      opened.ledgerPath = *options.ledgerChoice;
    }
  } else {
    opened.ledgerPath = ledger::ResolveLedgerPath(options.ledgerChoice);
    opened.session = mail::CreateSession(resolved, sessionOptions);
  }
  opened.account = opened.session->Login("", "");
  if (!opened.account) throw mail::LoginError("the log-in gave no account");
  return opened;
}

std::string_view ConnectionModeText(mail::Account& account) {
  return account.Remote() ? "Remote" : "Connected";
}

std::vector<std::string> FolderNames(mail::Account& account) {
  auto folders = account.AllFolders();
  std::vector<std::string> names;
  const int count = folders->Count();
  names.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (int position = 1; position <= count; ++position) {
    names.push_back(folders->Item(position)->Name());
  }
  return names;
}

int FindFolderPosition(const std::vector<std::string>& names, std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoreCase(names[i], name)) return static_cast<int>(i + 1);
  }
  return 0;
}

int FindPrefixedFolderPosition(const std::vector<std::string>& names, std::string_view name,
                               std::string_view prefix) {
  if (prefix.empty()) return 0;
  const std::string wanted = std::string(prefix) + std::string(name);
  int found = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!EqualsIgnoreCase(names[i], wanted)) continue;
    if (found != 0) return 0;
    found = static_cast<int>(i + 1);
  }
  return found;
}

}  // namespace tollbook
