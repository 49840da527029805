// The SQLite ledger file: its tables and version (PRAGMA user_version; the
// tables are those storage.h describes), and opening it for recording or
// for reading. The file is kept in WAL journal mode.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ledger/sqlite_db.h"
#include "ledger/storage.h"

namespace tollbook::ledger {

// Opens the ledger at path for recording, waiting up to busyTimeoutMs for
// another program that holds it. An existing file is opened as it is and
// never recreated (a version 1 ledger gains the version 2 indexes); a missing
// one is created 0600, with its missing folders 0700. Throws
// tollbook::Failure naming the path and the cause: not an SQLite file, an
// SQLite file that is no ledger, a newer schema, read-only, locked.
std::unique_ptr<Database> OpenLedgerForRecording(const std::string& path, int busyTimeoutMs);

// Opens the existing ledger at path read-only. Throws Failure.
std::unique_ptr<Database> OpenLedgerForReading(const std::string& path, int busyTimeoutMs);

// "YYYY-MM" of an RFC 5322 date ("Tue, 3 Nov 2026 10:00:00 +0000"), as the
// date itself writes it; nullopt when the text is no usable date.
std::optional<std::string> MonthOfDate(std::string_view date);

}  // namespace tollbook::ledger
