// The storage under the ledger: the few operations the recorder and the
// "ledger:" mailbox need, with an SQLite file and a PostgreSQL database
// behind them. Both keep the same tables (version 2):
//
//   runs(id, started, ended, mailbox, folder, options, outcome, messages,
//        accounting_files, stored_files, seen_files)
//   files(id, run_id, collected, store_identity, message_id, date_header,
//         month, sha256, size, content)        -- each accounting file once
//   file_pieces(file_id, position, bytes)      -- the rest of a large file
//   sightings(id, run_id, file_id, seen, store_identity)
//                                               -- a stored file seen again
//
// A file is unique by (store_identity, sha256) and, where it has one, by
// (message_id, sha256). content holds the whole file, or its first piece
// when file_pieces holds the rest in position order. Times are UTC in ISO
// 8601 ("2026-11-03T10:00:00Z"); month is "YYYY-MM" of the Date header, else
// of the collection time; files.id is the collection order. Every failure is
// thrown as tollbook::Failure naming the ledger (never a password) and the
// cause.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook::ledger {

inline constexpr int kLedgerSchemaVersion = 2;

// The bytes of a file to store, read in pieces, possibly twice.
class ContentReader {
 public:
  virtual ~ContentReader() = default;
  // Reads up to size bytes into buffer; returns how many (0 at the end).
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // Starts again at the first byte.
  virtual void Rewind() = 0;
};

// A row of files, without its content.
struct FileRow {
  std::int64_t runId = 0;
  std::string collected, store, messageId, date, month, sha256;
  std::int64_t size = 0;
};

// A run's row as the recorder keeps it up to date.
struct RunRow {
  std::int64_t id = 0;
  std::string ended;  // empty: NULL
  std::string outcome;
  std::int64_t messages = 0, accountingFiles = 0, storedFiles = 0, seenFiles = 0;
};

// A small file of a batch: its whole row (runId set), when this run saw it,
// and its bytes.
struct BatchFile {
  FileRow row;
  std::string seen;
  std::string_view bytes;
};

// The stored files of a folder of the "ledger:" mailbox, in collection order.
class FileCursor {
 public:
  virtual ~FileCursor() = default;
  // The next file's id and row (runId, sha256 and size left unset); false
  // after the last.
  virtual bool Next(std::int64_t& id, FileRow& row) = 0;
};

class LedgerStorage {
 public:
  virtual ~LedgerStorage() = default;
  // The ledger as messages name it: a path, or a PostgreSQL location
  // without its password.
  virtual const std::string& Name() const = 0;

  // Opens the ledger for recording, creating its tables where there are none
  // yet (the folder and file of an SQLite ledger too, private to the user).
  // Refuses anything that is no ledger, a newer version, and a ledger this
  // user may not write, naming the missing privilege.
  virtual void OpenForRecording() = 0;
  // Opens an existing ledger read-only.
  virtual void OpenForReading() = 0;

  // A write transaction, waiting for other writers as long as the storage
  // allows. Nothing else is held open between transactions. durable: once
  // Commit() returns, this transaction and every one before it survive a
  // power cut.
  virtual void Begin(bool durable) = 0;
  virtual void Commit() = 0;
  // Abandons an open transaction, if any. Never throws.
  virtual void Rollback() noexcept = 0;

  virtual std::int64_t InsertRun(const std::string& started, const std::string& mailbox,
                                 const std::string& folder, const std::string& options) = 0;
  virtual void UpdateRun(const RunRow& run) = 0;
  // The stored file with this content from this message: the one of the
  // same store identity, else the one of the same (non-empty) Message-ID.
  virtual std::optional<std::int64_t> FindFile(const std::string& sha256, const std::string& store,
                                               const std::string& messageId) = 0;
  // Stores the file unless one of the same identity is already there (stored
  // by another collector since FindFile): its id, or nullopt then. content
  // is read to its end; a content of another size than row.size throws.
  virtual std::optional<std::int64_t> InsertFile(const FileRow& row, ContentReader& content) = 0;
  virtual void InsertSighting(std::int64_t runId, std::int64_t fileId, const std::string& seen,
                              const std::string& store) = 0;
  // Stores each file of the batch unless FindFile finds it, else notes a
  // sighting of it by run runId, in one exchange where the storage has one:
  // for each file, true when stored, false when seen, nullopt when it did
  // neither (another collector stored it meanwhile, or the storage takes
  // files one at a time: the caller goes on through FindFile, InsertFile
  // and InsertSighting). The default does neither for every file.
  virtual std::vector<std::optional<bool>> StoreOrSightAll(std::int64_t runId,
                                                           const std::vector<BatchFile>& files) {
    (void)runId;
    return std::vector<std::optional<bool>>(files.size());
  }

  // The most bytes of small files the recorder holds back for one batch.
  virtual std::size_t BatchBytes() const { return std::size_t{1} << 20; }
  // Has the batch stored in a transaction of its own, as StoreOrSightAll
  // stores it (sightings by run runId), while the caller goes on, where the
  // storage can (true); FinishBatch() then waits for the outcome. The
  // transaction never waits on the caller. files' bytes must stay until
  // FinishBatch(); until then only Poll() may be called.
  virtual bool SendBatch(std::int64_t runId, const std::vector<BatchFile>& files) {
    (void)runId;
    (void)files;
    return false;
  }
  // Lets a batch sent go on; cheap, never waits.
  virtual void Poll() {}
  // Waits for the batch sent (files as given to SendBatch) and returns
  // StoreOrSightAll's outcomes for it. Throws Failure when the batch failed;
  // nothing of it is stored then.
  virtual std::vector<std::optional<bool>> FinishBatch(std::int64_t runId,
                                                       const std::vector<BatchFile>& files) {
    (void)runId;
    return std::vector<std::optional<bool>>(files.size());
  }

  // The months that hold files, ascending.
  virtual std::vector<std::string> Months() = 0;
  // The files of month, or of every month when it is empty.
  virtual std::unique_ptr<FileCursor> Files(const std::string& month) = 0;
  // Writes the content of file id to out, in pieces.
  virtual void WriteContent(std::int64_t id, std::ostream& out) = 0;
};

// Whether location names a PostgreSQL database: a "postgresql://" or
// "postgres://" URI, or libpq's key-value form ("host=... dbname=...").
bool IsPostgresLocation(const std::string& location);

// The storage at location (a path or a PostgreSQL location); nothing is
// opened yet. busyTimeoutMs: how long an SQLite ledger locked by another
// program is waited for.
std::unique_ptr<LedgerStorage> CreateLedgerStorage(const std::string& location,
                                                   int busyTimeoutMs = 60000);

}  // namespace tollbook::ledger
