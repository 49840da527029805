// The processing run that "GO" starts: walks one folder, saves every
// accounting attachment to a numbered scratch file, merges it into the full
// accounting file, optionally deletes the messages and scratch files, writes
// the summary file when asked, and reports the outcome.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "accounting/run_state.h"
#include "ledger/collection_recorder.h"
#include "mail/mail_source.h"
#include "run/front_end.h"

namespace tollbook {

enum class RunOutcome {
  kCompleted,  // the run reached its end (an empty folder included)
  kFailed      // a step failed; the front end was told why
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
// after the lines of their accounting files are synced to disk. With a
// recorder, every accounting file saved is recorded in the ledger, and the
// ledger is synced in the same step as the full accounting file, before any
// message goes; a ledger that cannot be opened or written fails the run.
RunOutcome RunProcessing(RunState& state, mail::Account& account, RunFrontEnd& frontEnd,
                         RunCounts* counts = nullptr, ledger::CollectionRecorder* recorder = nullptr);

// The scratch file of the n-th accounting attachment: the output folder, "/"
// unless the folder already ends in it, "acct", a blank and n.
std::string ScratchFilePath(const std::string& outputFolder, bool folderEndsInSeparator,
                            std::int64_t n);

// The output path rule: folder followed by name, with a "/" between them unless
// folder ends in one.
std::string OutputFilePath(const std::string& folder, std::string_view name);

}  // namespace tollbook
