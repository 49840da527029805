// The ledger in an SQLite file: short IMMEDIATE transactions, a large file
// written in place through incremental BLOB I/O.
#include <algorithm>
#include <future>
#include <system_error>
#include <vector>

#include "base/errors.h"
#include "ledger/storage.h"
#include "ledger/store.h"

namespace tollbook::ledger {
namespace {

constexpr std::size_t kPiece = 1 << 20;

class SqliteCursor : public FileCursor {
 public:
  SqliteCursor(Database& db, const std::string& month)
      : query_(db, month.empty()
                       ? "SELECT id, store_identity, message_id, date_header, collected, month "
                         "FROM files ORDER BY id"
                       : "SELECT id, store_identity, message_id, date_header, collected, month "
                         "FROM files WHERE month = ?1 ORDER BY id") {
    if (!month.empty()) query_.Bind(1, month);
  }
  bool Next(std::int64_t& id, FileRow& row) override {
    if (done_ || !query_.Step()) {
      done_ = true;
      return false;
    }
    id = query_.Integer(0);
    row.store = query_.Text(1);
    row.messageId = query_.Text(2);
    row.date = query_.Text(3);
    row.collected = query_.Text(4);
    row.month = query_.Text(5);
    return true;
  }

 private:
  Statement query_;
  bool done_ = false;
};

class SqliteStorage : public LedgerStorage {
 public:
  SqliteStorage(std::string path, int busyTimeoutMs)
      : path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {}
  ~SqliteStorage() override {
    if (pending_.valid()) pending_.wait();
    Rollback();
  }

  const std::string& Name() const override { return path_; }

  void OpenForRecording() override {
    db_ = OpenLedgerForRecording(path_, busyTimeoutMs_);
    // One lookup in each identity index.
    findFile_.emplace(*db_,
                      "SELECT id FROM (SELECT id, 0 AS rank FROM files WHERE store_identity = ?2 "
                      "AND sha256 = ?1 UNION ALL SELECT id, 1 FROM files WHERE message_id = ?3 "
                      "AND message_id <> '' AND sha256 = ?1) ORDER BY rank LIMIT 1");
    insertFile_.emplace(
        *db_,
        "INSERT INTO files (run_id, collected, store_identity, message_id, date_header, "
        "month, sha256, size, content) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
        "ON CONFLICT DO NOTHING");
    insertSighting_.emplace(*db_,
                            "INSERT INTO sightings (run_id, file_id, seen, store_identity) "
                            "VALUES (?1, ?2, ?3, ?4)");
    updateRun_.emplace(
        *db_,
        "UPDATE runs SET ended = ?2, outcome = ?3, messages = ?4, accounting_files = ?5, "
        "stored_files = ?6, seen_files = ?7 WHERE id = ?1");
  }

  void OpenForReading() override { db_ = OpenLedgerForReading(path_, busyTimeoutMs_); }

  void Begin(bool durable) override {
    // At synchronous FULL a commit syncs the write-ahead log, and with it
    // every commit before; the level can change only between transactions.
    if (durable) db_->Execute("PRAGMA synchronous = FULL");
    durable_ = durable;
    db_->Execute("BEGIN IMMEDIATE");
  }

  void Commit() override {
    // A failed write may have rolled the transaction back already.
    if (sqlite3_get_autocommit(db_->Handle()) == 0) db_->Execute("COMMIT");
    if (durable_) {
      durable_ = false;
      db_->Execute("PRAGMA synchronous = NORMAL");
    }
  }

  void Rollback() noexcept override {
    if (db_ && sqlite3_get_autocommit(db_->Handle()) == 0) {
      sqlite3_exec(db_->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (db_ && durable_)
      sqlite3_exec(db_->Handle(), "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    durable_ = false;
  }

  std::int64_t InsertRun(const std::string& started, const std::string& mailbox,
                         const std::string& folder, const std::string& options) override {
    Statement insert(*db_,
                     "INSERT INTO runs (started, mailbox, folder, options, outcome) "
                     "VALUES (?1, ?2, ?3, ?4, 'running')");
    insert.Bind(1, started).Bind(2, mailbox).Bind(3, folder).Bind(4, options).Run();
    return db_->LastRowId();
  }

  void UpdateRun(const RunRow& run) override {
    updateRun_->Bind(1, run.id);
    if (!run.ended.empty()) updateRun_->Bind(2, run.ended);  // else NULL
    updateRun_->Bind(3, run.outcome).Bind(4, run.messages).Bind(5, run.accountingFiles);
    updateRun_->Bind(6, run.storedFiles).Bind(7, run.seenFiles).Run();
  }

  std::optional<std::int64_t> FindFile(const std::string& sha256, const std::string& store,
                                       const std::string& messageId) override {
    Statement& query = *findFile_;
    query.Bind(1, sha256).Bind(2, store).Bind(3, messageId);
    std::optional<std::int64_t> id;
    if (query.Step()) id = query.Integer(0);
    query.Reset();
    return id;
  }

  std::optional<std::int64_t> InsertFile(const FileRow& row, ContentReader& content) override {
    Statement& insert = *insertFile_;
    insert.Bind(1, row.runId).Bind(2, row.collected).Bind(3, row.store).Bind(4, row.messageId);
    insert.Bind(5, row.date).Bind(6, row.month).Bind(7, row.sha256).Bind(8, row.size);
    content.Rewind();
    if (static_cast<std::size_t>(row.size) < kPiece) {
      std::string bytes(static_cast<std::size_t>(row.size) + 1, '\0');
      const std::size_t got = content.Read(bytes.data(), bytes.size());
      if (got != static_cast<std::size_t>(row.size)) Changed();
      bytes.resize(got);
      insert.BindBlob(9, bytes).Run();
      if (sqlite3_changes(db_->Handle()) == 0) return std::nullopt;
      return db_->LastRowId();
    }
    insert.BindZeroBlob(9, row.size).Run();
    if (sqlite3_changes(db_->Handle()) == 0) return std::nullopt;
    const std::int64_t id = db_->LastRowId();
    Blob blob(*db_, "files", "content", id, /*write=*/true);
    std::vector<char> buffer(kPiece);
    std::int64_t offset = 0;
    std::size_t got = 0;
    while ((got = content.Read(buffer.data(), kPiece)) > 0 &&
           offset + static_cast<std::int64_t>(got) <= row.size) {
      blob.Write(std::string_view(buffer.data(), got), offset);
      offset += static_cast<std::int64_t>(got);
    }
    if (offset != row.size || got != 0) Changed();
    return id;
  }

  // Tries each insert first: the unique indexes refuse exactly the files
  // FindFile would find, so a new file costs one pass through them, not two.
  std::vector<std::optional<bool>> StoreOrSightAll(std::int64_t runId,
                                                   const std::vector<BatchFile>& files) override {
    std::vector<std::optional<bool>> outcomes(files.size());
    Statement& insert = *insertFile_;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const FileRow& row = files[i].row;
      if (static_cast<std::size_t>(row.size) != files[i].bytes.size()) Changed();
      insert.Bind(1, row.runId).Bind(2, row.collected).Bind(3, row.store);
      insert.Bind(4, row.messageId).Bind(5, row.date).Bind(6, row.month);
      insert.Bind(7, row.sha256).Bind(8, row.size).BindBlob(9, files[i].bytes).Run();
      if (sqlite3_changes(db_->Handle()) != 0) {
        outcomes[i] = true;
      } else if (const auto known = FindFile(row.sha256, row.store, row.messageId)) {
        InsertSighting(runId, *known, files[i].seen, row.store);
        outcomes[i] = false;
      }
    }
    return outcomes;
  }

  void InsertSighting(std::int64_t runId, std::int64_t fileId, const std::string& seen,
                      const std::string& store) override {
    insertSighting_->Bind(1, runId).Bind(2, fileId).Bind(3, seen).Bind(4, store).Run();
  }

  // Half of the memory a batch may take, since the recorder holds the next
  // batch while this one is stored.
  std::size_t BatchBytes() const override { return 512 << 10; }

  // The batch is stored on a thread of its own, which has the connection to
  // itself until FinishBatch(): the run's walk and the ledger's writes share
  // the machine's cores.
  bool SendBatch(std::int64_t runId, const std::vector<BatchFile>& files) override {
    try {
      pending_ = std::async(std::launch::async, [this, runId, files] {
        try {
          Begin(/*durable=*/false);
          auto outcomes = StoreOrSightAll(runId, files);
          Commit();
          return outcomes;
        } catch (...) {
          Rollback();
          throw;
        }
      });
    } catch (const std::system_error&) {
      return false;  // no thread to be had: stored while the caller waits
    }
    return true;
  }

  std::vector<std::optional<bool>> FinishBatch(std::int64_t,
                                               const std::vector<BatchFile>&) override {
    return pending_.get();
  }

  std::vector<std::string> Months() override {
    std::vector<std::string> months;
    Statement query(*db_, "SELECT DISTINCT month FROM files ORDER BY month");
    while (query.Step()) months.push_back(query.Text(0));
    return months;
  }

  std::unique_ptr<FileCursor> Files(const std::string& month) override {
    return std::make_unique<SqliteCursor>(*db_, month);
  }

  void WriteContent(std::int64_t id, std::ostream& out) override {
    constexpr int kReadPiece = 1 << 16;
    Blob blob(*db_, "files", "content", id, /*write=*/false);
    std::vector<char> buffer(kReadPiece);
    for (std::int64_t offset = 0, size = blob.Size(); offset < size;) {
      const int n = static_cast<int>(std::min<std::int64_t>(kReadPiece, size - offset));
      blob.Read(buffer.data(), n, offset);
      out.write(buffer.data(), n);
      offset += n;
    }
  }

 private:
  [[noreturn]] void Changed() {
    throw Failure("a file changed while the ledger " + path_ + " stored it");
  }

  std::string path_;
  int busyTimeoutMs_;
  bool durable_ = false;
  std::unique_ptr<Database> db_;
  std::optional<Statement> findFile_, insertFile_, insertSighting_, updateRun_;
  std::future<std::vector<std::optional<bool>>> pending_;  // the batch being stored
};

}  // namespace

std::unique_ptr<LedgerStorage> CreateSqliteStorage(const std::string& path, int busyTimeoutMs) {
  return std::make_unique<SqliteStorage>(path, busyTimeoutMs);
}

}  // namespace tollbook::ledger
