// The collection recorder that keeps a ledger, in an SQLite file or a
// PostgreSQL database.
#pragma once

#include <memory>
#include <string>

#include "ledger/collection_recorder.h"

namespace tollbook::ledger {

// A recorder into the ledger at location (a path or a PostgreSQL location)
// for runs on mailbox (a location without password). Nothing is opened
// before Open(). Null when location is empty (no ledger is kept).
// busyTimeoutMs: how long an SQLite ledger held by another program is
// waited for before the run fails.
std::unique_ptr<CollectionRecorder> CreateLedgerRecorder(std::string location, std::string mailbox,
                                                         int busyTimeoutMs = 60000);

}  // namespace tollbook::ledger
