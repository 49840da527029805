#include "run/processing_run.h"

#include <ctime>
#include <optional>

#include "accounting/merge.h"
#include "accounting/report.h"
#include "accounting/summary.h"
#include "base/errors.h"
#include "base/fault_point.h"
#include "base/file_system.h"
#include "base/output_file.h"
#include "base/run_lock.h"
#include "base/text.h"
#include "run/output_paths.h"

namespace tollbook {
namespace {

// Restores the front end whatever way the run ends.
class FrontEndGuard {
 public:
  explicit FrontEndGuard(RunFrontEnd& frontEnd) : frontEnd_(frontEnd) {}
  ~FrontEndGuard() { Restore(); }
  void Busy() {
    frontEnd_.SetBusyPointer(true);
    busy_ = true;
  }
  void Restore() {
    if (busy_) frontEnd_.SetBusyPointer(false);
    busy_ = false;
  }

 private:
  RunFrontEnd& frontEnd_;
  bool busy_ = false;
};

class Run {
 public:
  Run(RunState& state, mail::Account& account, RunFrontEnd& frontEnd, ledger::CollectionRecorder* recorder)
      : state_(state), account_(account), frontEnd_(frontEnd), recorder_(recorder), pointer_(frontEnd) {}

  void Execute();
  // Records in the ledger, where one is open, that the run failed; a failure
  // to do so is added to failure.
  void RecordFailure(std::string& failure);
  RunCounts counts;
  std::string step;      // what the run is doing, for a failure's message
  bool stopped = false;  // the front end asked to stop and the walk ended early

 private:
  void LockOutputs();
  void CheckOutputsBeforeWalk();
  void Walk(mail::MessageCollection& messages);
  void CommitDeletions(mail::MessageCollection& messages);
  void WriteSummaryAndReport(const std::string& folderName);
  bool RecordsWanted() const { return settings_.generateSummary || !settings_.reportPath.empty(); }
  void TraceSaved(const mail::MessageIdentity& identity, std::int64_t count);

  RunState& state_;
  mail::Account& account_;
  RunFrontEnd& frontEnd_;
  ledger::CollectionRecorder* recorder_;  // null: no ledger is kept
  FrontEndGuard pointer_;
  RunSettings settings_;
  RunLock lock_;
  std::optional<OutputFile> full_;
  int pendingDeletions_ = 0;
  bool fullDirectorySynced_ = false;
  bool tracing_ = false;
  bool ledgerRunBegun_ = false;
};

// The run's choices as the ledger keeps them: "delete cleanup summary", or
// the words of those chosen.
std::string RunOptionsText(const RunSettings& settings) {
  std::string text;
  for (const auto& [chosen, word] : {std::pair{settings.deleteMessages, "delete"},
                                     std::pair{settings.cleanupTempFiles, "cleanup"},
                                     std::pair{settings.generateSummary, "summary"}}) {
    if (!chosen) continue;
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

void Run::RecordFailure(std::string& failure) {
  if (recorder_ == nullptr || !ledgerRunBegun_) return;
  try {
    recorder_->EndRun(false, counts.messages, counts.accountingFiles);
  } catch (const std::exception& e) {
    failure += std::string("; recording the failure in the ledger: ") + e.what();
  }
}

void Run::Execute() {
  ResetRunState(state_);
  step = "reading the settings";
  settings_ = frontEnd_.ReadSettings();
  if (frontEnd_.StopRequested()) {  // before anything is touched
    stopped = true;
    return;
  }
  step = "reading the folder list";
  auto folderList = account_.AllFolders();
  pointer_.Busy();
  state_.SummaryPath = settings_.summaryPath;
  LockOutputs();
  CheckOutputsBeforeWalk();

  step = "opening the folder";
  const int k = settings_.folderIndex;
  auto folder = k > 1 ? folderList->Item(k) : account_.Mailbox();
  if (recorder_ != nullptr) {
    step = "recording the run in the ledger";
    recorder_->BeginRun(folder->Name(), RunOptionsText(settings_));
    ledgerRunBegun_ = true;
  }
  step = "opening the folder " + folder->Name();
  auto messages = folder->Messages(settings_.deleteMessages);
  tracing_ = frontEnd_.Tracing();
  if (tracing_) {
    const std::int64_t total = messages->Count();
    frontEnd_.Trace("opened the folder " + folder->Name() +
                    (total >= 0 ? ": " + std::to_string(total) + " messages" : std::string()) +
                    (settings_.deleteMessages ? " (for deletion)" : " (read-only)"));
  }
  Walk(*messages);
  if (pendingDeletions_ > 0) CommitDeletions(*messages);
  if (settings_.deleteMessages) {
    step = "deleting the handled messages";
    messages->FinishDeletions();
    if (tracing_) frontEnd_.Trace("every committed deletion is done");
  }

  step = "closing the full accounting file";
  full_->Close();
  full_.reset();
  if (stopped || frontEnd_.StopRequested()) {
    stopped = true;
    if (recorder_ != nullptr) {
      step = "recording the stop in the ledger";
      recorder_->Sync();
      recorder_->EndRun(false, counts.messages, counts.accountingFiles);
    }
    return;
  }

  if (counts.accountingFiles > 0) {
    if (RecordsWanted()) WriteSummaryAndReport(folder->Name());
  }
  if (recorder_ != nullptr) {
    step = "recording the end of the run in the ledger";
    recorder_->EndRun(true, counts.messages, counts.accountingFiles);
  }
  if (counts.accountingFiles == 0) {
    frontEnd_.ShowMessageBox({"No Files to process in this folder.", MessageIcon::kNone, ""});
  }
  pointer_.Restore();
  frontEnd_.ShowMessageBox({"Accounting Files Processed " + std::to_string(counts.accountingFiles),
                            MessageIcon::kInformation, "Gateway Accounting"});
  frontEnd_.SetProgressCaption("");
  frontEnd_.SetCurrentCaption("");
  ResetRunState(state_);
}

// Locks the folders of every output before any of them is emptied: the full
// accounting file, the summary file when one is wanted, the scratch files.
void Run::LockOutputs() {
  step.clear();  // the refusal names everything itself
  std::vector<LockTarget> targets{
      {settings_.fullAccountingPath, ParentFolder(settings_.fullAccountingPath)}};
  if (settings_.generateSummary) {
    targets.push_back({state_.SummaryPath, ParentFolder(state_.SummaryPath)});
  }
  if (!settings_.reportPath.empty()) {
    targets.push_back({settings_.reportPath, ParentFolder(settings_.reportPath)});
  }
  targets.push_back({settings_.outputFolder, settings_.outputFolder});
  lock_ = RunLock(targets);
}

// Every output the run will write is known writable before the walk, so that
// a run that could not finish fails before it deletes anything (or empties
// the last run's full accounting file). The full accounting file is opened
// last: opening empties it.
void Run::CheckOutputsBeforeWalk() {
  step = "checking the output files";
  if (settings_.generateSummary && SameFile(settings_.fullAccountingPath, state_.SummaryPath)) {
    throw Failure("the summary file and the full accounting file are the same file (" +
                  state_.SummaryPath + "); choose two different paths");
  }
  const auto refuseSameFile = [&](const std::string& other, const char* what) {
    if (!SameFile(settings_.reportPath, other)) return;
    throw Failure(std::string("the report and the ") + what + " are the same file (" +
                  settings_.reportPath + "); choose two different paths");
  };
  if (!settings_.reportPath.empty()) {
    refuseSameFile(settings_.fullAccountingPath, "full accounting file");
    if (settings_.generateSummary) refuseSameFile(state_.SummaryPath, "summary file");
  }
  step = "checking the output folder";
  CheckFolderTakesNewFiles(settings_.outputFolder);
  if (settings_.generateSummary) {
    step = "checking the summary file";
    CheckWritableUnchanged(state_.SummaryPath);
  }
  if (!settings_.reportPath.empty()) {
    step = "checking the report file";
    CheckWritableUnchanged(settings_.reportPath);
  }
  if (recorder_ != nullptr) {
    step = "opening the ledger";
    recorder_->Open();
  }
  step = "opening the full accounting file";
  full_.emplace(settings_.fullAccountingPath);
}

void Run::Walk(mail::MessageCollection& messages) {
  std::int64_t& count = counts.accountingFiles;
  std::string caption;
  for (;;) {
    if (frontEnd_.StopRequested()) {
      stopped = true;
      break;
    }
    step = "reading message " + std::to_string(counts.messages + 1);
    auto message = messages.Next();
    if (!message) break;
    ++counts.messages;
    step = "message " + std::to_string(counts.messages) + " (" + message->Describe() + ")";
    message->SetConvertAttachments(true);
    auto attachments = message->Attachments();
    if (attachments->Count() <= 0) continue;
    auto attachment = attachments->Item(1);
    if (!EqualsIgnoreCase(attachment->DisplayName(), "acct")) continue;

    ++count;
    state_.AccountingFilePath =
        ScratchFilePath(settings_.outputFolder, settings_.folderEndsInSeparator, count);
    step += ", accounting file " + std::to_string(count);
    attachment->Save(state_.AccountingFilePath);
    FaultPoint("save");
    if (recorder_ != nullptr || tracing_) {
      const mail::MessageIdentity identity = message->Identity();  // read once for both
      if (recorder_ != nullptr) {
        recorder_->RecordFile(identity, state_.AccountingFilePath);
        FaultPoint("ledger");
      }
      if (tracing_) TraceSaved(identity, count);
    }
    MergeAccountingFile(state_, full_->Stream(), RecordsWanted());
    full_->CheckWrites();
    FaultPoint("merge");
    if (settings_.deleteMessages) {
      message->Delete();
      FaultPoint("mark");
      if (++pendingDeletions_ >= kDeletionBatch) CommitDeletions(messages);
    }
    if (settings_.cleanupTempFiles) {
      RemoveFile(state_.AccountingFilePath);
      FaultPoint("cleanup");
    }

    frontEnd_.SetProgressCaption("Processing File . . .");
    caption = std::to_string(count);
    frontEnd_.SetCurrentCaption(caption);
  }
}

// Makes the merged lines (and the kept scratch files) and the ledger's
// records of their files durable, then lets the store remove the marked
// messages.
void Run::CommitDeletions(mail::MessageCollection& messages) {
  step = "syncing " + full_->Path() + " before deleting messages";
  full_->Sync();
  CheckStillInPlace(full_->Path(), full_->Descriptor());
  if (!fullDirectorySynced_) {
    SyncParentDirectory(full_->Path());
    fullDirectorySynced_ = true;
  }
  if (!settings_.cleanupTempFiles) SyncFileSystemOf(settings_.outputFolder);
  if (recorder_ != nullptr) {
    step = "syncing the ledger before deleting messages";
    recorder_->Sync();
    FaultPoint("ledger-sync");
  }
  FaultPoint("sync");
  step = "deleting " + std::to_string(pendingDeletions_) + " handled messages";
  messages.CommitDeletions();
  FaultPoint("commit");
  if (tracing_) {
    frontEnd_.Trace("committed the deletion of " + std::to_string(pendingDeletions_) + " messages (" +
                    full_->Path() + " synced first)");
  }
  pendingDeletions_ = 0;
}

void Run::TraceSaved(const mail::MessageIdentity& identity, std::int64_t count) {
  frontEnd_.Trace("saved accounting file " + std::to_string(count) + " (" + state_.AccountingFilePath +
                  ") of message " + identity.store +
                  (identity.messageId.empty() ? std::string() : " " + identity.messageId));
}

// When the run ended, in local time: "2026-12-09 14:05 CET".
std::string RunEndText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[64];
  if (::localtime_r(&now, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &local) == 0) {
    return "unknown";
  }
  return text;
}

// The summary file, then the report, from the same figures. Whatever refuses
// the summary refuses the report before its file is opened.
void Run::WriteSummaryAndReport(const std::string& folderName) {
  step = settings_.generateSummary ? "writing the summary " + state_.SummaryPath
                                   : "writing the report " + settings_.reportPath;
  CheckByteSizes(state_);  // refuses before the summary file or the report is emptied
  const bool wantsReport = !settings_.reportPath.empty();
  ReportBuilder builder;
  DayTotals totals;
  if (settings_.generateSummary) {
    OutputFile summary(state_.SummaryPath);
    totals = WriteDaySummary(state_, summary.Stream(), frontEnd_, [&](const DateBlock& block) {
      if (wantsReport) builder.AddDateBlock(block);
    });
    FaultPoint("summary");
    WriteUserSummary(state_, summary.Stream(), frontEnd_);
    summary.Close();
  }
  if (!wantsReport) return;
  step = "writing the report " + settings_.reportPath;
  ReportFigures figures;
  if (settings_.generateSummary) {
    figures = builder.Finish(state_, totals);
  } else {
    GroupUsers(state_, frontEnd_);
    figures = BuildReportFigures(state_, frontEnd_);
  }
  ReportRun run;
  run.mailbox = settings_.mailboxName;
  run.folder = folderName;
  run.ended = RunEndText();
  run.accountingFiles = counts.accountingFiles;
  if (settings_.generateSummary) run.summaryPath = state_.SummaryPath;
  OutputFile report(settings_.reportPath);
  WriteReport(state_, figures, run, report.Stream());
  report.Close();
}

}  // namespace

RunOutcome RunProcessing(RunState& state, mail::Account& account, RunFrontEnd& frontEnd,
                         RunCounts* counts, ledger::CollectionRecorder* recorder) {
  std::string failure;
  bool stopped = false;
  {
    Run run(state, account, frontEnd, recorder);
    // Every grade of failure ends the run at the step where it happened: a bad
    // message (MessageError), a broken connection (ConnectionError) and a file
    // that cannot be written (Failure) alike. Going on past a bad message
    // would leave the outputs without its lines while the run reports success,
    // and nothing is retried, so the grades differ only in their text, which
    // names the step and the cause.
    try {
      run.Execute();
    } catch (const std::exception& e) {
      failure = run.step.empty() ? e.what() : run.step + ": " + e.what();
      run.RecordFailure(failure);
    }
    if (counts != nullptr) *counts = run.counts;
    stopped = run.stopped;
  }  // the run's files are closed, the locks released and the pointer restored here
  if (failure.empty() && !stopped) return RunOutcome::kCompleted;
  frontEnd.SetProgressCaption("");
  frontEnd.SetCurrentCaption("");
  ResetRunState(state);
  if (failure.empty()) return RunOutcome::kStopped;
  frontEnd.ReportRunFailure(failure);
  return RunOutcome::kFailed;
}

}  // namespace tollbook
