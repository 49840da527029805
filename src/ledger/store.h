// The ledger's SQLite file: its schema and version, and opening it for
// recording or for reading. The schema (version 1, kept in PRAGMA
// user_version):
//
//   runs(id, started, ended, mailbox, folder, options, outcome, messages,
//        accounting_files, stored_files, seen_files)
//   files(id, run_id, collected, store_identity, message_id, date_header,
//         month, sha256, size, content)        -- each accounting file once
//   sightings(id, run_id, file_id, seen, store_identity)
//                                               -- a stored file seen again
//
// Times are UTC in ISO 8601 ("2026-11-03T10:00:00Z"); month is "YYYY-MM" of
// the Date header, else of the collection time; files.id is the collection
// order. The file is kept in WAL journal mode.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ledger/sqlite_db.h"

namespace tollbook::ledger {

inline constexpr int kLedgerSchemaVersion = 1;

// Opens the ledger at path for recording. An existing file is opened as it
// is and never recreated; a missing one is created, with its folder. Throws
// tollbook::Failure naming the path and the cause: not an SQLite file, an
// SQLite file that is no ledger, a newer schema, read-only, locked.
std::unique_ptr<Database> OpenLedgerForRecording(const std::string& path);

// Opens the existing ledger at path read-only. Throws Failure.
std::unique_ptr<Database> OpenLedgerForReading(const std::string& path);

// "YYYY-MM" of an RFC 5322 date ("Tue, 3 Nov 2026 10:00:00 +0000"), as the
// date itself writes it; nullopt when the text is no usable date.
std::optional<std::string> MonthOfDate(std::string_view date);

}  // namespace tollbook::ledger
