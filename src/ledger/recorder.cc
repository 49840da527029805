#include "ledger/recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>
#include <vector>

#include "base/errors.h"
#include "ledger/store.h"
#include "ledger/sha256.h"

namespace tollbook::ledger {
namespace {

// Files recorded in one transaction at most: bounds how long another program
// waits for the ledger. The transactions in between are written without a
// sync; Sync() makes them durable with one synced commit.
constexpr int kFilesPerTransaction = 1024;
// A file up to this size is read once; a larger one is hashed in a first
// pass and streamed into the ledger in a second, in pieces of this size.
constexpr std::size_t kPiece = 1 << 20;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A scratch file open for reading.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw FileError("cannot read", path, errno);
  }
  ~InputFile() { ::close(fd_); }
  // Reads up to size bytes into buffer; returns how many (0 at the end).
  std::size_t Read(char* buffer, std::size_t size) {
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
  void Rewind() {
    if (::lseek(fd_, 0, SEEK_SET) != 0) throw FileError("cannot read", path_, errno);
  }

 private:
  std::string path_;
  int fd_ = -1;
};

class LedgerRecorder : public CollectionRecorder {
 public:
  LedgerRecorder(std::string path, std::string mailbox)
      : path_(std::move(path)), mailbox_(std::move(mailbox)) {}

  ~LedgerRecorder() override {
    // A run that ends without EndRun() (a failure thrown past it) keeps what
    // it recorded; nothing here may throw.
    if (db_ && inTransaction_) sqlite3_exec(db_->Handle(), "COMMIT", nullptr, nullptr, nullptr);
  }

  void Open() override {
    db_ = OpenLedgerForRecording(path_);
    findBySha256_.emplace(
        *db_, "SELECT id, store_identity, message_id FROM files WHERE sha256 = ?1 ORDER BY id");
    insertFile_.emplace(
        *db_,
        "INSERT INTO files (run_id, collected, store_identity, message_id, date_header, "
        "month, sha256, size, content) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    insertSighting_.emplace(*db_,
                            "INSERT INTO sightings (run_id, file_id, seen, store_identity) "
                            "VALUES (?1, ?2, ?3, ?4)");
    updateRun_.emplace(
        *db_,
        "UPDATE runs SET ended = ?2, outcome = ?3, messages = ?4, accounting_files = ?5, "
        "stored_files = ?6, seen_files = ?7 WHERE id = ?1");
  }

  void BeginRun(std::string_view folder, std::string_view options) override {
    started_ = UtcNow();
    // Written and synced here: a ledger that cannot be written or synced
    // fails the run before the walk.
    Statement insert(*db_,
                     "INSERT INTO runs (started, mailbox, folder, options, outcome) "
                     "VALUES (?1, ?2, ?3, ?4, 'running')");
    insert.Bind(1, started_).Bind(2, mailbox_).Bind(3, folder).Bind(4, options).Run();
    runId_ = db_->LastRowId();
    const std::string outcome = "running";
    SyncedCommit(outcome);
  }

  void RecordFile(const mail::MessageIdentity& identity, const std::string& path) override {
    InputFile input(path);
    Sha256 hash;
    std::int64_t size = 0;
    std::size_t got = input.Read(buffer_.get(), kPiece);
    const bool whole = got < kPiece;
    for (;;) {
      hash.Update(std::string_view(buffer_.get(), got));
      size += static_cast<std::int64_t>(got);
      if (got < kPiece) break;
      got = input.Read(buffer_.get(), kPiece);
    }
    const std::string sha = hash.HexDigest();
    if (!inTransaction_) {
      db_->Execute("BEGIN IMMEDIATE");
      inTransaction_ = true;
    }
    const std::string now = UtcNow();
    const std::optional<std::int64_t> known = Find(identity, sha);
    if (known) {
      insertSighting_->Bind(1, runId_).Bind(2, *known).Bind(3, now).Bind(4, identity.store).Run();
      ++seen_;
    } else {
      const std::string month = MonthOfDate(identity.date).value_or(now.substr(0, 7));
      insertFile_->Bind(1, runId_).Bind(2, now).Bind(3, identity.store).Bind(4, identity.messageId);
      insertFile_->Bind(5, identity.date).Bind(6, month).Bind(7, sha).Bind(8, size);
      if (whole) {
        insertFile_->BindBlob(9, std::string_view(buffer_.get(), got)).Run();
      } else {
        insertFile_->BindZeroBlob(9, size).Run();
        Blob blob(*db_, "files", "content", db_->LastRowId(), /*write=*/true);
        input.Rewind();
        std::int64_t offset = 0;
        while ((got = input.Read(buffer_.get(), kPiece)) > 0 &&
               offset + static_cast<std::int64_t>(got) <= size) {
          blob.Write(std::string_view(buffer_.get(), got), offset);
          offset += static_cast<std::int64_t>(got);
        }
        if (offset != size || got != 0) {
          throw Failure(path + " changed while the ledger " + path_ + " stored it");
        }
      }
      ++stored_;
    }
    if (++inTransactionCount_ >= kFilesPerTransaction) Commit();
  }

  void Sync() override { SyncedCommit("running"); }

  void EndRun(bool completed, std::int64_t messages, std::int64_t accountingFiles) override {
    messages_ = messages;
    accountingFiles_ = accountingFiles;
    const std::string outcome = completed ? "completed" : "failed";
    ended_ = UtcNow();
    // Not synced: every file whose message went was synced before it went
    // (Sync()); the rest survive any crash of this process, and the messages
    // of what a power cut could take are still in their store.
    WriteRunRow(outcome);
  }

 private:
  // The stored file with this content from this message: the one of the
  // same store identity, else (a store that renumbered its messages) the one
  // of the same Message-ID.
  std::optional<std::int64_t> Find(const mail::MessageIdentity& identity, const std::string& sha) {
    Statement& query = *findBySha256_;
    query.Bind(1, sha);
    std::optional<std::int64_t> byMessageId;
    while (query.Step()) {
      if (query.Text(1) == identity.store) {
        const std::int64_t id = query.Integer(0);
        query.Reset();
        return id;
      }
      if (!byMessageId && !identity.messageId.empty() && query.Text(2) == identity.messageId) {
        byMessageId = query.Integer(0);
      }
    }
    query.Reset();
    return byMessageId;
  }

  void Commit() {
    inTransactionCount_ = 0;
    if (!inTransaction_) return;
    inTransaction_ = false;
    // A failed write may have rolled the transaction back already.
    if (sqlite3_get_autocommit(db_->Handle()) == 0) db_->Execute("COMMIT");
  }

  // Commits what is open, then writes the run's row in a commit that syncs
  // the ledger: at synchronous FULL the write-ahead log is synced, and with
  // it every commit before. (The level can change only between transactions.)
  void SyncedCommit(std::string_view outcome) {
    Commit();
    db_->Execute("PRAGMA synchronous = FULL");
    WriteRunRow(outcome);
    db_->Execute("PRAGMA synchronous = NORMAL");
  }

  // Commits what is open, then the run's row in a commit of its own.
  void WriteRunRow(std::string_view outcome) {
    Commit();
    updateRun_->Bind(1, runId_);
    if (!ended_.empty()) updateRun_->Bind(2, ended_);  // else NULL
    updateRun_->Bind(3, outcome).Bind(4, messages_).Bind(5, accountingFiles_);
    updateRun_->Bind(6, stored_).Bind(7, seen_).Run();
  }

  std::string path_, mailbox_;
  std::unique_ptr<Database> db_;
  std::optional<Statement> findBySha256_, insertFile_, insertSighting_,
      updateRun_;
  std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kPiece);
  std::int64_t runId_ = 0, stored_ = 0, seen_ = 0, messages_ = 0, accountingFiles_ = 0;
  std::string started_, ended_;
  bool inTransaction_ = false;
  int inTransactionCount_ = 0;
};

}  // namespace

std::unique_ptr<CollectionRecorder> CreateLedgerRecorder(std::string path, std::string mailbox) {
  if (path.empty()) return nullptr;
  return std::make_unique<LedgerRecorder>(std::move(path), std::move(mailbox));
}

}  // namespace tollbook::ledger
