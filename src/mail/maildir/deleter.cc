#include "mail/maildir/deleter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/errors.h"
#include "base/fault_point.h"
#include "base/file_system.h"
#include "mail/mail_source.h"

namespace tollbook::mail {

MaildirDeleter::~MaildirDeleter() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void MaildirDeleter::Add(std::vector<MaildirFileEntry> batch) {
  {
    std::lock_guard lock(mutex_);
    ThrowFailureLocked();
    batches_.push_back(std::move(batch));
  }
  if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  changed_.notify_all();
}

void MaildirDeleter::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return (batches_.empty() && !busy_) || failure_; });
  ThrowFailureLocked();
}

void MaildirDeleter::ThrowFailure() {
  std::lock_guard lock(mutex_);
  ThrowFailureLocked();
}

void MaildirDeleter::ThrowFailureLocked() {
  if (failure_) std::rethrow_exception(failure_);
}

void MaildirDeleter::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !batches_.empty() || closing_; });
    if (batches_.empty() || failure_) break;
    std::vector<MaildirFileEntry> batch = std::move(batches_.front());
    batches_.pop_front();
    busy_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      Remove(batch);
    } catch (const Failure& e) {
      failure = std::make_exception_ptr(MessageError(e.what()));
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (failure) failure_ = failure;
    changed_.notify_all();
    if (failure_) break;
  }
}

void MaildirDeleter::Remove(const std::vector<MaildirFileEntry>& batch) {
  std::vector<std::string> removed;
  for (const auto& file : batch) {
    std::string path;
    if (Unlink(file, path)) removed.push_back(std::move(path));
    FaultPoint("expunge");
  }
  std::vector<std::string> synced;
  for (const auto& path : removed) {
    const std::string directory = path.substr(0, path.find_last_of('/'));
    if (std::find(synced.begin(), synced.end(), directory) != synced.end()) continue;
    SyncParentDirectory(path);
    synced.push_back(directory);
  }
}

// Removes the file of a marked message, looking it up by its base name when
// another client moved it. Returns false when it was gone already; path is
// the file that was removed.
bool MaildirDeleter::Unlink(MaildirFileEntry file, std::string& path) {
  path = MaildirFilePath(folderPath_, file);
  if (::unlink(path.c_str()) == 0) return true;
  if (errno == ENOENT) {
    const std::string baseName(file.BaseName());
    if (!FindMaildirMessage(folderPath_, baseName, file)) return false;
    path = MaildirFilePath(folderPath_, file);
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
  }
  throw MessageError("cannot delete message " + path + ": " + SystemErrorText(errno));
}

}  // namespace tollbook::mail
