// The ledger as a mailbox, read-only: the folder "All", then one folder per
// calendar month ("2026-11", ascending) of the messages' Date header (the
// collection time where there was none). Each stored accounting file is one
// message whose single attachment, "acct", holds the file; a folder walks
// them in collection order.
#pragma once

#include <memory>
#include <string>

#include "mail/mail_source.h"

namespace tollbook::ledger {

// A session on the ledger at location (an SQLite file's path or a
// PostgreSQL location). Login() opens it read-only and throws
// mail::LoginError naming the ledger and the cause. A walk opened for
// deletion is refused with mail::MessageError.
std::unique_ptr<mail::Session> CreateLedgerSession(std::string location);

}  // namespace tollbook::ledger
