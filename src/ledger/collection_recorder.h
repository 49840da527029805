// What a processing run tells the collection ledger: the run's start, each
// accounting file it saved and where from, the points where everything told
// so far must be durable, and the run's end. The run holds a recorder only
// when a ledger is kept; tests and runs on a ledger hold none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::ledger {

class CollectionRecorder {
 public:
  virtual ~CollectionRecorder() = default;
  // Opens (or creates) the ledger and checks that it can be written. Called
  // before the run empties or writes anything. Throws tollbook::Failure naming
  // the ledger and the cause.
  virtual void Open() = 0;
  // Records the start of the run on folder; options names the run's choices
  // ("delete cleanup summary"). Throws Failure.
  virtual void BeginRun(std::string_view folder, std::string_view options) = 0;
  // Records the accounting file saved at path, taken from the message with
  // the given identity: stored when the ledger has not seen it, else noted as
  // seen again. The file at path may go once this returns; the record is
  // kept for certain only once Sync() returns (a few small files are written
  // together). Throws Failure.
  virtual void RecordFile(const mail::MessageIdentity& identity, const std::string& path) = 0;
  // Writes and makes durable everything recorded so far. The run calls it
  // before it lets a message go. Throws Failure.
  virtual void Sync() = 0;
  // Records the run's end: completed or failed, with its counts. Durable
  // only as far as Sync() made it. Throws Failure.
  virtual void EndRun(bool completed, std::int64_t messages, std::int64_t accountingFiles) = 0;
};

}  // namespace tollbook::ledger
