// The collection recorder that keeps a ledger file.
#pragma once

#include <memory>
#include <string>

#include "ledger/collection_recorder.h"

namespace tollbook::ledger {

// A recorder into the ledger at path for runs on mailbox (a location without
// password). Nothing is opened before Open(). Null when path is empty (no
// ledger is kept).
std::unique_ptr<CollectionRecorder> CreateLedgerRecorder(std::string path, std::string mailbox);

}  // namespace tollbook::ledger
