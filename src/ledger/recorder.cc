#include "ledger/recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "base/errors.h"
#include "ledger/sha256.h"
#include "ledger/storage.h"
#include "ledger/store.h"

namespace tollbook::ledger {
namespace {

constexpr std::size_t kPiece = 1 << 20;
// Files held back to be stored together in one short transaction: at most
// this many (as many as a batch of deletions), and as many bytes as the
// storage takes in one batch. A larger file is stored on its own.
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kHeldFileBytes = 64 << 10;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A scratch file open for reading.
class InputFile : public ContentReader {
 public:
  explicit InputFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw FileError("cannot read", path, errno);
  }
  ~InputFile() override { ::close(fd_); }
  std::size_t Read(char* buffer, std::size_t size) override {
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::read(fd_, buffer + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw FileError("cannot read", path_, errno);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return got;
  }
  void Rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) != 0) throw FileError("cannot read", path_, errno);
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// A file's bytes held in memory.
class HeldContent : public ContentReader {
 public:
  explicit HeldContent(const std::string& bytes) : bytes_(bytes) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return n;
  }
  void Rewind() override { at_ = 0; }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

// A small file recorded, not yet written to the ledger.
struct HeldFile {
  mail::MessageIdentity identity;
  FileRow row;
  std::string seen;
  std::string bytes;
};

class LedgerRecorder : public CollectionRecorder {
 public:
  LedgerRecorder(std::unique_ptr<LedgerStorage> storage, std::string mailbox)
      : storage_(std::move(storage)), mailbox_(std::move(mailbox)) {}

  // The storage may still be storing the batch sent, whose bytes sent_
  // holds: it goes first.
  ~LedgerRecorder() override { storage_.reset(); }

  void Open() override { storage_->OpenForRecording(); }

  void BeginRun(std::string_view folder, std::string_view options) override {
    // Written durably here: a ledger that cannot be written or synced fails
    // the run before the walk.
    InTransaction(/*durable=*/true, [&] {
      run_.id = storage_->InsertRun(UtcNow(), mailbox_, std::string(folder), std::string(options));
    });
    run_.outcome = "running";
  }

  // Small files are held back and written a few at a time; a large one is
  // written at once, on its own. Either way a transaction holds only ledger
  // work: the files are read and hashed before it, and nothing outside the
  // ledger is waited for inside it.
  void RecordFile(const mail::MessageIdentity& identity, const std::string& path) override {
    storage_->Poll();
    InputFile input(path);
    Sha256 hash;
    FileRow row;
    std::size_t first = 0;
    for (std::size_t got; (got = input.Read(buffer_.get(), kPiece)) > 0;) {
      if (row.size == 0) first = got;
      hash.Update(std::string_view(buffer_.get(), got));
      row.size += static_cast<std::int64_t>(got);
    }
    row.sha256 = hash.HexDigest();
    if (static_cast<std::size_t>(row.size) <= kHeldFileBytes) {
      held_.push_back({identity, std::move(row), UtcNow(), std::string(buffer_.get(), first)});
      heldBytes_ += first;
      if (held_.size() >= kBatchFiles || heldBytes_ >= storage_->BatchBytes()) WriteHeld();
      return;
    }
    WriteHeld();
    FinishSent();
    const std::string now = UtcNow();
    bool stored = false;
    InTransaction(/*durable=*/false,
                  [&] { stored = StoreOrSight(identity, path, input, row, now); });
    ++(stored ? run_.storedFiles : run_.seenFiles);
  }

  void Sync() override { WriteRunRow(/*durable=*/true); }

  void EndRun(bool completed, std::int64_t messages, std::int64_t accountingFiles) override {
    run_.messages = messages;
    run_.accountingFiles = accountingFiles;
    run_.outcome = completed ? "completed" : "failed";
    run_.ended = UtcNow();
    // Not durable: every file whose message went was committed durably
    // before it went (Sync()); the rest survive any crash of this process,
    // and the messages of what a power cut could take are still in their
    // store.
    WriteRunRow(/*durable=*/false);
  }

 private:
  // Fills in the row of a file of identity (its content's fields set) as it
  // is stored when collected at now.
  void CompleteRow(const mail::MessageIdentity& identity, FileRow& row, const std::string& now) {
    row.runId = run_.id;
    // A file brought over from another ledger keeps when it was first
    // collected.
    row.collected = identity.collected.empty() ? now : identity.collected;
    row.store = identity.store;
    row.messageId = identity.messageId;
    row.date = identity.date;
    row.month = MonthOfDate(identity.date).value_or(row.collected.substr(0, 7));
  }

  // Stores the file of identity at path (already hashed into row), or notes
  // the stored one as seen again. Returns whether it was stored.
  bool StoreOrSight(const mail::MessageIdentity& identity, const std::string& path,
                    ContentReader& input, FileRow& row, const std::string& now) {
    std::optional<std::int64_t> known =
        storage_->FindFile(row.sha256, identity.store, identity.messageId);
    if (!known) {
      CompleteRow(identity, row, now);
      if (storage_->InsertFile(row, input)) return true;
      // Another collector stored it since the lookup: it is seen again here.
      known = storage_->FindFile(row.sha256, identity.store, identity.messageId);
      if (!known) {
        throw Failure("the ledger " + storage_->Name() + " refused " + path +
                      " as stored already, yet holds no such file");
      }
    }
    storage_->InsertSighting(run_.id, *known, now, identity.store);
    return false;
  }

  // Runs body in a transaction of its own; a failure abandons it whole.
  template <typename Body>
  void InTransaction(bool durable, Body body) {
    try {
      storage_->Begin(durable);
      body();
      storage_->Commit();
    } catch (...) {
      storage_->Rollback();
      throw;
    }
  }

  // Writes the held files in one transaction: sent ahead where the storage
  // can, so that it stores them while the run goes on, else in one exchange
  // where it can, else (and for a file another collector stored meanwhile)
  // one by one.
  void WriteHeld() {
    if (held_.empty()) return;
    FinishSent();
    for (auto& file : held_) CompleteRow(file.identity, file.row, file.seen);
    if (storage_->SendBatch(run_.id, BatchOf(held_))) {
      sent_ = std::move(held_);
      held_.clear();
      heldBytes_ = 0;
      return;
    }
    InTransaction(/*durable=*/false,
                  [&] { Settle(held_, storage_->StoreOrSightAll(run_.id, BatchOf(held_))); });
    held_.clear();
    heldBytes_ = 0;
  }

  // Takes the storage's answer to the batch sent, if any.
  void FinishSent() {
    if (sent_.empty()) return;
    std::vector<HeldFile> files = std::move(sent_);
    sent_.clear();
    const auto outcomes = storage_->FinishBatch(run_.id, BatchOf(files));
    if (std::find(outcomes.begin(), outcomes.end(), std::nullopt) == outcomes.end()) {
      Settle(files, outcomes);
    } else {
      InTransaction(/*durable=*/false, [&] { Settle(files, outcomes); });
    }
  }

  static std::vector<BatchFile> BatchOf(const std::vector<HeldFile>& files) {
    std::vector<BatchFile> batch;
    batch.reserve(files.size());
    for (const auto& file : files) batch.push_back({file.row, file.seen, file.bytes});
    return batch;
  }

  // Counts the files of a batch by their outcomes; one the storage neither
  // stored nor noted as seen is stored or sighted here, on its own.
  void Settle(std::vector<HeldFile>& files, const std::vector<std::optional<bool>>& outcomes) {
    std::int64_t stored = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      bool isStored = outcomes[i].value_or(false);
      if (!outcomes[i]) {
        HeldFile& file = files[i];
        HeldContent content(file.bytes);
        isStored = StoreOrSight(file.identity, "a file of message " + file.identity.store, content,
                                file.row, file.seen);
      }
      if (isStored) ++stored;
    }
    run_.storedFiles += stored;
    run_.seenFiles += static_cast<std::int64_t>(files.size()) - stored;
  }

  // Writes the held files and the run's row.
  void WriteRunRow(bool durable) {
    WriteHeld();
    FinishSent();
    InTransaction(durable, [&] { storage_->UpdateRun(run_); });
  }

  std::unique_ptr<LedgerStorage> storage_;
  std::string mailbox_;
  std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kPiece);
  RunRow run_;
  std::vector<HeldFile> held_;
  std::size_t heldBytes_ = 0;
  std::vector<HeldFile> sent_;  // the batch the storage is storing
};

}  // namespace

std::unique_ptr<CollectionRecorder> CreateLedgerRecorder(std::string location, std::string mailbox,
                                                         int busyTimeoutMs) {
  if (location.empty()) return nullptr;
  return std::make_unique<LedgerRecorder>(CreateLedgerStorage(location, busyTimeoutMs),
                                          std::move(mailbox));
}

}  // namespace tollbook::ledger
