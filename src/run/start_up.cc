#include "run/start_up.h"

#include "accounting/text.h"
#include "ledger/ledger_location.h"
#include "ledger/ledger_recorder.h"
#include "ledger/ledger_source.h"
#include "mail/session_factory.h"

namespace tollbook {

std::unique_ptr<ledger::CollectionRecorder> OpenedAccount::CreateRecorder() const {
  return ledger::CreateLedgerRecorder(ledgerPath, mailbox);
}

OpenedAccount OpenAccount(std::string_view location, const std::optional<std::string>& ledgerChoice) {
  const std::string resolved =
      location.empty() ? mail::DefaultMailboxLocation() : std::string(location);
  OpenedAccount opened;
  opened.mailbox = ledger::LocationWithoutPassword(resolved);
  if (ledger::IsLedgerLocation(resolved)) {
    opened.mailboxIsLedger = true;
    opened.session = ledger::CreateLedgerSession(ledger::LedgerLocationPath(resolved, ledgerChoice));
  } else {
    opened.ledgerPath = ledger::ResolveLedgerPath(ledgerChoice);
    opened.session = mail::CreateSession(resolved);
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

}  // namespace tollbook
