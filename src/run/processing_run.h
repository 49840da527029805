// The processing run that "GO" starts: walks one folder, saves every
// accounting attachment to a numbered scratch file, merges it into the full
// accounting file, optionally deletes the messages and scratch files, writes
// the summary file when asked, and reports the outcome.
#pragma once

#include <cstdint>

#include "accounting/run_state.h"
#include "ledger/collection_recorder.h"
#include "mail/mail_source.h"
#include "run/front_end.h"

namespace tollbook {

enum class RunOutcome {
  kCompleted,  // the run reached its end (an empty folder included)
  kFailed,     // a step failed; the front end was told why
  kStopped     // the front end asked to stop; the handled files are whole
};

// How many handled messages may wait, marked, before the run syncs the
// full accounting file and commits their deletion.
inline constexpr int kDeletionBatch = 256;

struct RunCounts {
  std::int64_t accountingFiles = 0;  // AccountingFileCount at the end of the run
  std::int64_t messages = 0;         // messages walked
};

// Runs one processing run to its end on `account`, with `state` as the run
// state (reset at both ends). Every failure is caught, reported through
// frontEnd.ReportRunFailure and turned into kFailed; the busy pointer, the
// captions and the files are restored either way. Messages are deleted only
// after the lines of their accounting files are synced to disk.
//
// Before the walk the run locks its output folders (RunLock: a second run
// writing to any of them fails, naming the other run's pid) and checks that
// it can write every output, so that a run that could not finish deletes
// nothing. When frontEnd.StopRequested() turns true, the walk ends before the
// next message: the marked deletions are committed after the full accounting
// file is synced, the file is closed, and kStopped is returned without the
// summary or the closing boxes.
//
// With a recorder, every accounting file saved is recorded in the ledger, and
// the ledger is synced in the same step as the full accounting file, before
// any message goes; a ledger that cannot be opened or written fails the run.
RunOutcome RunProcessing(RunState& state, mail::Account& account, RunFrontEnd& frontEnd,
                         RunCounts* counts = nullptr, ledger::CollectionRecorder* recorder = nullptr);

}  // namespace tollbook
