#include "run/processing_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "accounting/errors.h"
#include "accounting/merge.h"
#include "accounting/number_text.h"
#include "accounting/output_file.h"
#include "accounting/summary.h"
#include "accounting/text.h"
#include "run/fault_injection.h"

namespace tollbook {
namespace {

// True when a and b name the same file, whether or not it exists yet.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  std::error_code ec;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return ca == cb;
}

// Flushes every file of the file system that holds folder (the scratch files).
void SyncFileSystemOf(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open", folder, errno);
  int rc = ::syncfs(fd);
  int error = errno;
  ::close(fd);
  if (rc != 0) throw FileError("cannot sync", folder, error);
}

// Throws when path no longer names the file open as fd (removed, renamed or
// replaced since it was opened): lines synced there would be lost with it.
void CheckStillInPlace(const std::string& path, int fd) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw FileError("cannot check", path, errno);
  if (::stat(path.c_str(), &named) != 0 || open.st_dev != named.st_dev ||
      open.st_ino != named.st_ino) {
    throw Failure(path + " was removed or replaced during the run");
  }
}

void RemoveScratchFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw FileError("cannot delete", path, errno);
}

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
  std::string step;  // what the run is doing, for a failure's message

 private:
  void Walk(mail::MessageCollection& messages);
  void CommitDeletions(mail::MessageCollection& messages);
  void WriteSummary();

  RunState& state_;
  mail::Account& account_;
  RunFrontEnd& frontEnd_;
  ledger::CollectionRecorder* recorder_;  // null: no ledger is kept
  FrontEndGuard pointer_;
  RunSettings settings_;
  std::optional<OutputFile> full_;
  int pendingDeletions_ = 0;
  bool fullDirectorySynced_ = false;
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
  step = "reading the folder list";
  auto folderList = account_.AllFolders();
  pointer_.Busy();
  state_.SummaryPath = settings_.summaryPath;
  if (settings_.generateSummary && SameFile(settings_.fullAccountingPath, state_.SummaryPath)) {
    step = "checking the output files";
    throw Failure("the summary file and the full accounting file are the same file (" +
                  state_.SummaryPath + "); choose two different paths");
  }
  if (recorder_ != nullptr) {
    step = "opening the ledger";
    recorder_->Open();
  }
  step = "opening the full accounting file";
  full_.emplace(settings_.fullAccountingPath);

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
  Walk(*messages);
  if (pendingDeletions_ > 0) CommitDeletions(*messages);
  if (settings_.deleteMessages) {
    step = "deleting the handled messages";
    messages->FinishDeletions();
  }

  step = "closing the full accounting file";
  full_->Close();
  full_.reset();

  if (counts.accountingFiles > 0) {
    if (settings_.generateSummary) WriteSummary();
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

void Run::Walk(mail::MessageCollection& messages) {
  std::int64_t& count = counts.accountingFiles;
  std::string caption;
  for (;;) {
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
    if (recorder_ != nullptr) {
      recorder_->RecordFile(message->Identity(), state_.AccountingFilePath);
      FaultPoint("ledger");
    }
    MergeAccountingFile(state_, full_->Stream(), settings_.generateSummary);
    full_->CheckWrites();
    FaultPoint("merge");
    if (settings_.deleteMessages) {
      message->Delete();
      FaultPoint("mark");
      if (++pendingDeletions_ >= kDeletionBatch) CommitDeletions(messages);
    }
    if (settings_.cleanupTempFiles) {
      RemoveScratchFile(state_.AccountingFilePath);
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
  pendingDeletions_ = 0;
}

void Run::WriteSummary() {
  step = "writing the summary " + state_.SummaryPath;
  CheckByteSizes(state_);  // refuses before the summary file is emptied
  OutputFile summary(state_.SummaryPath);
  WriteDaySummary(state_, summary.Stream(), frontEnd_);
  FaultPoint("summary");
  WriteUserSummary(state_, summary.Stream(), frontEnd_);
  summary.Close();
}

}  // namespace

std::string ScratchFilePath(const std::string& outputFolder, bool folderEndsInSeparator,
                            std::int64_t n) {
  std::string path = outputFolder;
  path += folderEndsInSeparator ? "acct" : "/acct";
  AppendNumberText(path, n);
  return path;
}

std::string OutputFilePath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

RunOutcome RunProcessing(RunState& state, mail::Account& account, RunFrontEnd& frontEnd,
                         RunCounts* counts, ledger::CollectionRecorder* recorder) {
  std::string failure;
  {
    Run run(state, account, frontEnd, recorder);
    try {
      run.Execute();
    } catch (const std::exception& e) {
      failure = run.step + ": " + e.what();
      run.RecordFailure(failure);
    }
    if (counts != nullptr) *counts = run.counts;
  }  // the run's files are closed and the pointer restored here
  if (failure.empty()) return RunOutcome::kCompleted;
  frontEnd.SetProgressCaption("");
  frontEnd.SetCurrentCaption("");
  ResetRunState(state);
  frontEnd.ReportRunFailure(failure);
  return RunOutcome::kFailed;
}

}  // namespace tollbook
