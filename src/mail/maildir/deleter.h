// Removes committed messages' files on a thread of its own, batch by batch in
// commit order: unlinks them, then syncs the directories that held them so
// the deletions are durable. Stops at the first failure and keeps it for the
// walk's thread; the files of that batch and later ones stay. Batches handed
// over before the walk ends are finished even when the run fails: their
// lines were made durable before they were committed.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mail/maildir/tree.h"

namespace tollbook::mail {

class MaildirDeleter {
 public:
  // folderPath: the folder directory the batches' files are in.
  explicit MaildirDeleter(std::string folderPath) : folderPath_(std::move(folderPath)) {}
  ~MaildirDeleter();

  MaildirDeleter(const MaildirDeleter&) = delete;
  MaildirDeleter& operator=(const MaildirDeleter&) = delete;

  // Queues a batch; throws the failure of an earlier batch instead.
  void Add(std::vector<MaildirFileEntry> batch);

  // Waits for every queued batch; throws the first failure.
  void Finish();

  // Throws the failure of an earlier batch, if there was one.
  void ThrowFailure();

 private:
  void ThrowFailureLocked();
  void Work();
  void Remove(const std::vector<MaildirFileEntry>& batch);
  bool Unlink(MaildirFileEntry file, std::string& path);

  const std::string folderPath_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<MaildirFileEntry>> batches_;
  bool busy_ = false;
  bool closing_ = false;
  std::exception_ptr failure_;
  std::thread worker_;  // started with the first batch
};

}  // namespace tollbook::mail
