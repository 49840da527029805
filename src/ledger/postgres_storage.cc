// The ledger in a PostgreSQL database through libpq: one connection, short
// transactions, batches of small files stored by the server while the run
// walks on, a large file stored in pieces of 1 MiB. Texts that come
// from mail (store identities, Message-IDs, Date headers, mailboxes and
// folders) are kept as bytea: a message's bytes need not be valid in the
// database's encoding.
#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "ledger/postgres_connect.h"
#include "ledger/postgres_schema.h"
#include "ledger/storage.h"

namespace tollbook::ledger {

std::string PostgresDisplayName(const std::string& location);

namespace {

constexpr std::size_t kPiece = 1 << 20;
constexpr int kCursorRows = 256;

// The stored file with content $1 from message $2 (store identity) or $3
// (Message-ID): one lookup in each identity index, the store's first.
constexpr const char* kFindFile =
    "SELECT id FROM (SELECT id, 0 AS rank FROM files WHERE store_identity = $2::bytea AND "
    "sha256 = $1::text UNION ALL SELECT id, 1 FROM files WHERE message_id = $3::bytea AND "
    "message_id <> ''::bytea AND sha256 = $1::text) AS f ORDER BY rank LIMIT 1";

class PostgresStorage;

class PostgresCursor : public FileCursor {
 public:
  PostgresCursor(PostgresStorage& storage, std::string name)
      : storage_(storage), name_(std::move(name)) {}
  bool Next(std::int64_t& id, FileRow& row) override;

 private:
  PostgresStorage& storage_;
  std::string name_;
  std::unique_ptr<Result> rows_;
  int at_ = 0;
  bool done_ = false;
};

class PostgresStorage : public LedgerStorage {
 public:
  explicit PostgresStorage(const std::string& location)
      : location_(location), name_(PostgresDisplayName(location)) {}
  ~PostgresStorage() override {
    Rollback();
    PQfinish(conn_);
  }

  const std::string& Name() const override { return name_; }

  void OpenForRecording() override {
    Connect();
    std::int64_t version = Version();
    if (version == 0) {
      // Two collectors that start on a new database at once create it once:
      // the lock is taken before the transaction, whose start makes the
      // tables the other one may have committed meanwhile visible.
      Execute("SELECT pg_advisory_lock(7213150941)");
      Execute("BEGIN");
      version = Version();
      if (version == 0) {
        Result created(
            PQexec(conn_, (std::string(kPostgresSchema) + kPostgresIdentityIndexes).c_str()));
        if (PQresultStatus(created.get()) != PGRES_COMMAND_OK) {
          const std::string why = ErrorText(created.get());
          Rollback();
          if (IsPrivilegeError(created.get())) {
            throw Failure("cannot create the tables of the ledger " + name_ + ": " + why +
                          " (the role " + User() +
                          " needs the CREATE privilege on the schema; grant it, or let a role "
                          "that has it record first)");
          }
          throw Failure("cannot create the tables of the ledger " + name_ + ": " + why);
        }
        version = kLedgerSchemaVersion;
      }
      Execute("COMMIT");
      Execute("SELECT pg_advisory_unlock(7213150941)");
    }
    if (HashFirstIndexes()) ReorderIdentityIndexes();
    const Result missing(Run(kPrivilegeCheck, Params()));
    if (!missing.View(0, 0).empty()) {
      throw Failure("cannot write the ledger " + name_ + ": the role " + User() + " lacks " +
                    missing.Bytes(0, 0));
    }
    Prepare("find", kFindFile);
    Prepare("insert_file",
            "INSERT INTO files (run_id, collected, store_identity, message_id, date_header, "
            "month, sha256, size, content) VALUES ($1::bigint, $2::text, $3::bytea, $4::bytea, "
            "$5::bytea, $6::text, $7::text, $8::bigint, $9::bytea) ON CONFLICT DO NOTHING "
            "RETURNING id");
    // The file found as "find" finds it ($1 to $3), seen by run $4 at $5.
    Prepare("sight", (std::string("INSERT INTO sightings (run_id, file_id, seen, store_identity) "
                                  "SELECT $4::bigint, id, $5::text, $2::bytea FROM (") +
                      kFindFile + ") AS found RETURNING id")
                         .c_str());
    Prepare("insert_piece",
            "INSERT INTO file_pieces (file_id, position, bytes) VALUES ($1::bigint, $2::integer, "
            "$3::bytea)");
    Prepare("insert_sighting",
            "INSERT INTO sightings (run_id, file_id, seen, store_identity) VALUES ($1::bigint, "
            "$2::bigint, $3::text, $4::bytea)");
    Prepare("update_run",
            "UPDATE runs SET ended = $2::text, outcome = $3::text, messages = $4::bigint, "
            "accounting_files = $5::bigint, stored_files = $6::bigint, seen_files = $7::bigint "
            "WHERE id = $1::bigint");
  }

  void OpenForReading() override {
    Connect();
    if (Version() == 0)
      throw Failure("the ledger " + name_ + " is empty: no run has recorded into it");
    // One snapshot for the whole walk, and a cursor for each folder.
    Execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    reading_ = true;
  }

  void Begin(bool durable) override {
    Execute(durable ? "BEGIN; SET LOCAL synchronous_commit TO on"
                    : "BEGIN; SET LOCAL synchronous_commit TO off");
  }

  void Commit() override { Execute("COMMIT"); }

  void Rollback() noexcept override {
    if (conn_ != nullptr && PQtransactionStatus(conn_) != PQTRANS_IDLE &&
        PQtransactionStatus(conn_) != PQTRANS_UNKNOWN) {
      PQclear(PQexec(conn_, "ROLLBACK"));
    }
  }

  std::int64_t InsertRun(const std::string& started, const std::string& mailbox,
                         const std::string& folder, const std::string& options) override {
    const Result id(
        Run("INSERT INTO runs (started, mailbox, folder, options, outcome) VALUES "
            "($1::text, $2::bytea, $3::bytea, $4::text, 'running') RETURNING id",
            Params().Add(started).Add(mailbox).Add(folder).Add(options)));
    return id.Integer(0, 0);
  }

  void UpdateRun(const RunRow& run) override {
    Params params;
    params.Add(run.id);
    if (run.ended.empty()) {
      params.AddNull();
    } else {
      params.Add(std::string_view(run.ended));
    }
    params.Add(std::string_view(run.outcome)).Add(run.messages).Add(run.accountingFiles);
    params.Add(run.storedFiles).Add(run.seenFiles);
    Result(RunPrepared("update_run", params));
  }

  std::optional<std::int64_t> FindFile(const std::string& sha256, const std::string& store,
                                       const std::string& messageId) override {
    const Result found(
        RunPrepared("find", Params().Add(std::string_view(sha256)).Add(store).Add(messageId)));
    if (found.Rows() == 0) return std::nullopt;
    return found.Integer(0, 0);
  }

  std::optional<std::int64_t> InsertFile(const FileRow& row, ContentReader& content) override {
    content.Rewind();
    std::vector<char> buffer(kPiece);
    std::size_t got = content.Read(buffer.data(), kPiece);
    std::int64_t total = static_cast<std::int64_t>(got);
    Params params;
    params.Add(row.runId).Add(std::string_view(row.collected)).Add(row.store).Add(row.messageId);
    params.Add(row.date).Add(std::string_view(row.month)).Add(std::string_view(row.sha256));
    params.Add(row.size).Add(std::string_view(buffer.data(), got));
    const Result inserted(RunPrepared("insert_file", params));
    if (inserted.Rows() == 0) return std::nullopt;
    const std::int64_t id = inserted.Integer(0, 0);
    for (int position = 1; got == kPiece && total <= row.size; ++position) {
      got = content.Read(buffer.data(), kPiece);
      if (got == 0) break;
      total += static_cast<std::int64_t>(got);
      Result(RunPrepared(
          "insert_piece",
          Params().Add(id).Add(std::int64_t{position}).Add(std::string_view(buffer.data(), got))));
    }
    if (total != row.size) {
      throw Failure("a file changed while the ledger " + name_ + " stored it");
    }
    return id;
  }

  void InsertSighting(std::int64_t runId, std::int64_t fileId, const std::string& seen,
                      const std::string& store) override {
    Result(RunPrepared("insert_sighting",
                       Params().Add(runId).Add(fileId).Add(std::string_view(seen)).Add(store)));
  }

  // A batch is handed to the socket whole before SendBatch() returns, so its
  // transaction never waits on the run; at about what a socket holds at
  // once, handing it over seldom waits for the server.
  std::size_t BatchBytes() const override { return 128 << 10; }

  // BEGIN, the inserts and COMMIT go in one pipeline, read at FinishBatch().
  // Each file is tried with a plain insert first, as the SQLite ledger does:
  // the unique indexes refuse exactly the files FindFile would find, and the
  // refused ones are noted as seen after.
  bool SendBatch(std::int64_t runId, const std::vector<BatchFile>& files) override {
    (void)runId;  // the sightings go at FinishBatch()
    EnterPipeline();
    SendCommand("BEGIN");
    SendCommand("SET LOCAL synchronous_commit TO off");
    for (const auto& file : files) SendPrepared("insert_file", InsertParams(file));
    SendCommand("COMMIT");
    if (PQpipelineSync(conn_) != 1 || PQflush(conn_) != 0) LeavePipeline();
    batchSent_ = true;
    return true;
  }

  void Poll() override {
    // Answers read early keep the server's side of the socket clear.
    if (batchSent_) PQconsumeInput(conn_);
  }

  std::vector<std::optional<bool>> FinishBatch(std::int64_t runId,
                                               const std::vector<BatchFile>& files) override {
    try {
      auto rows = ReadPipeline(files.size() + 3);
      rows.erase(rows.begin(), rows.begin() + 2);  // BEGIN and SET
      rows.pop_back();                             // COMMIT
      return Sight(runId, files, rows);
    } catch (...) {
      Rollback();
      throw;
    }
  }

  std::vector<std::string> Months() override {
    const Result rows(Run("SELECT DISTINCT month FROM files ORDER BY month", Params()));
    std::vector<std::string> months;
    for (int i = 0; i < rows.Rows(); ++i) months.push_back(rows.Bytes(i, 0));
    return months;
  }

  std::unique_ptr<FileCursor> Files(const std::string& month) override {
    const std::string name = "files_" + std::to_string(++cursors_);
    const std::string select =
        "DECLARE " + name +
        " NO SCROLL CURSOR FOR SELECT id, store_identity, message_id, date_header, collected, "
        "month FROM files" +
        (month.empty() ? std::string() : " WHERE month = $1::text") + " ORDER BY id";
    Params params;
    if (!month.empty()) params.Add(std::string_view(month));
    Result(Run(select.c_str(), params));
    return std::make_unique<PostgresCursor>(*this, name);
  }

  void WriteContent(std::int64_t id, std::ostream& out) override {
    {
      const Result first(Run("SELECT content FROM files WHERE id = $1::bigint", Params().Add(id)));
      if (first.Rows() != 1)
        throw Failure("the ledger " + name_ + " has no file " + std::to_string(id));
      const auto bytes = first.View(0, 0);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    for (std::int64_t position = 1;; ++position) {
      const Result piece(
          Run("SELECT bytes FROM file_pieces WHERE file_id = $1::bigint AND position = $2::integer",
              Params().Add(id).Add(position)));
      if (piece.Rows() == 0) break;
      const auto bytes = piece.View(0, 0);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }

  // Runs sql with params; throws Failure naming the ledger.
  PGresult* Run(const char* sql, const Params& params) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    params.Fill(values, lengths, formats);
    return Check(PQexecParams(conn_, sql, params.Count(), nullptr, values.data(), lengths.data(),
                              formats.data(), 1));
  }

 private:
  void Connect() { conn_ = ConnectToLedger(location_, name_); }

  // The ledger's version; 0 for a database without its tables. Refuses a
  // newer one and a database whose "files" table is another program's.
  std::int64_t Version() {
    const Result probe(
        Run("SELECT to_regclass('ledger_version') IS NOT NULL, to_regclass('files') IS NOT NULL",
            Params()));
    const bool hasVersion = probe.View(0, 0) == std::string_view("\1", 1);
    const bool hasFiles = probe.View(0, 1) == std::string_view("\1", 1);
    if (!hasVersion) {
      if (hasFiles) {
        throw Failure("the ledger " + name_ +
                      " has a table \"files\" but no ledger_version: it is another program's "
                      "database, not a ledger");
      }
      return 0;
    }
    const Result version(Run("SELECT max(version)::bigint FROM ledger_version", Params()));
    if (version.Null(0, 0)) throw Failure("the ledger " + name_ + " has an empty ledger_version");
    const std::int64_t value = version.Integer(0, 0);
    if (value > kLedgerSchemaVersion) {
      throw Failure("the ledger " + name_ + " has schema version " + std::to_string(value) +
                    ", newer than this Tollbook's " + std::to_string(kLedgerSchemaVersion) +
                    "; use a newer Tollbook or another ledger");
    }
    return value;
  }

  Params InsertParams(const BatchFile& file) const {
    const FileRow& row = file.row;
    Params params;
    params.Add(row.runId).Add(std::string_view(row.collected)).Add(row.store);
    params.Add(row.messageId).Add(row.date).Add(std::string_view(row.month));
    params.Add(std::string_view(row.sha256)).Add(row.size).Add(file.bytes);
    return params;
  }

  // Notes as seen, in a transaction of its own, each file of files that
  // inserted (the rows each insert returned) shows was not stored; returns
  // StoreOrSightAll's outcomes.
  std::vector<std::optional<bool>> Sight(std::int64_t runId, const std::vector<BatchFile>& files,
                                         const std::vector<int>& inserted) {
    std::vector<std::optional<bool>> outcomes(files.size());
    std::vector<std::size_t> refused;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (inserted[i] == 1) {
        outcomes[i] = true;
      } else {
        refused.push_back(i);
      }
    }
    if (refused.empty()) return outcomes;
    Begin(/*durable=*/false);
    EnterPipeline();
    for (const std::size_t i : refused) {
      const BatchFile& file = files[i];
      SendPrepared("sight", Params()
                                .Add(std::string_view(file.row.sha256))
                                .Add(file.row.store)
                                .Add(file.row.messageId)
                                .Add(runId)
                                .Add(std::string_view(file.seen)));
    }
    const auto seen = ReadPipeline(refused.size());
    Commit();
    for (std::size_t j = 0; j < refused.size(); ++j) {
      if (seen[j] == 1) outcomes[refused[j]] = false;
    }
    return outcomes;
  }

  // libpq's pipeline mode: statements are sent one after the other, and the
  // answers read after the last.
  void EnterPipeline() {
    if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_) != 1)
      Fail(TrimmedError(PQerrorMessage(conn_)));
  }

  void SendCommand(const char* sql) {
    if (PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 1) != 1)
      LeavePipeline();
  }

  void SendPrepared(const char* name, const Params& params) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    params.Fill(values, lengths, formats);
    if (PQsendQueryPrepared(conn_, name, params.Count(), values.data(), lengths.data(),
                            formats.data(), 1) != 1)
      LeavePipeline();
  }

  // Ends the pipeline and fails, with libpq's text: a statement could not be
  // sent.
  [[noreturn]] void LeavePipeline() {
    const std::string why = TrimmedError(PQerrorMessage(conn_));
    PQexitPipelineMode(conn_);
    Fail(why);
  }

  // Ends the pipeline of count statements (synced already when a batch was
  // sent): how many rows each one returned. Fails with the first failure's
  // text once every answer is read.
  std::vector<int> ReadPipeline(std::size_t count) {
    std::string failure;
    if (!batchSent_ && PQpipelineSync(conn_) != 1) failure = TrimmedError(PQerrorMessage(conn_));
    batchSent_ = false;
    std::vector<int> rows(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
      PGresult* result = PQgetResult(conn_);
      if (result == nullptr) {  // the connection is gone
        if (failure.empty()) failure = TrimmedError(PQerrorMessage(conn_));
        break;
      }
      const Result answer(result);
      const ExecStatusType status = PQresultStatus(result);
      if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
        rows[i] = answer.Rows();
      } else if (failure.empty()) {
        failure = ErrorText(result);
      }
      while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);  // the end of its answer
    }
    // The pipeline's end; a broken connection has none.
    for (PGresult* result; (result = PQgetResult(conn_)) != nullptr;) {
      const bool end = PQresultStatus(result) == PGRES_PIPELINE_SYNC;
      PQclear(result);
      if (end) break;
    }
    PQexitPipelineMode(conn_);
    if (!failure.empty()) Fail(failure);
    return rows;
  }

  bool HashFirstIndexes() {
    return Result(Run(kHashFirstIndexes, Params())).View(0, 0) == std::string_view("\1", 1);
  }

  // Rebuilds the identity indexes once in the order new ledgers have them,
  // where the role owns them; the ledger works either way.
  void ReorderIdentityIndexes() {
    Execute("SELECT pg_advisory_lock(7213150941)");
    Execute("BEGIN");
    if (HashFirstIndexes()) {
      const std::string sql =
          std::string("DROP INDEX files_by_store; DROP INDEX files_by_message_id;") +
          kPostgresIdentityIndexes;
      Result rebuilt(PQexec(conn_, sql.c_str()));
      if (PQresultStatus(rebuilt.get()) != PGRES_COMMAND_OK) {
        const std::string why = ErrorText(rebuilt.get());
        const bool privilege = IsPrivilegeError(rebuilt.get());
        Rollback();
        Execute("SELECT pg_advisory_unlock(7213150941)");
        if (privilege) return;
        throw Failure("cannot rebuild the indexes of the ledger " + name_ + ": " + why);
      }
    }
    Execute("COMMIT");
    Execute("SELECT pg_advisory_unlock(7213150941)");
  }

  std::string User() { return PQuser(conn_) != nullptr ? PQuser(conn_) : "?"; }

  void Prepare(const char* name, const char* sql) {
    Check(PQprepare(conn_, name, sql, 0, nullptr), /*clear=*/true);
  }

  PGresult* RunPrepared(const char* name, const Params& params) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    params.Fill(values, lengths, formats);
    return Check(PQexecPrepared(conn_, name, params.Count(), values.data(), lengths.data(),
                                formats.data(), 1));
  }

  void Execute(const char* sql) { Check(PQexec(conn_, sql), /*clear=*/true); }

  // result, or Failure with the server's (or libpq's) text when it failed.
  PGresult* Check(PGresult* result, bool clear = false) {
    const ExecStatusType status = PQresultStatus(result);
    if (result == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)) {
      const std::string why =
          result != nullptr ? ErrorText(result) : TrimmedError(PQerrorMessage(conn_));
      PQclear(result);
      throw Failure(std::string(reading_ ? "cannot read the ledger " : "cannot write the ledger ") +
                    name_ + ": " + why);
    }
    if (clear) {
      PQclear(result);
      return nullptr;
    }
    return result;
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw Failure(std::string(reading_ ? "cannot read the ledger " : "cannot write the ledger ") +
                  name_ + ": " + why);
  }

  std::string ErrorText(const PGresult* result) const {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    return TrimmedError(primary != nullptr ? primary : PQerrorMessage(conn_));
  }

  static bool IsPrivilegeError(const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return state != nullptr && std::strcmp(state, "42501") == 0;
  }

  std::string location_, name_;
  PGconn* conn_ = nullptr;
  bool reading_ = false;
  bool batchSent_ = false;  // a batch is on its way, its answer not read
  int cursors_ = 0;
};

bool PostgresCursor::Next(std::int64_t& id, FileRow& row) {
  if (done_) return false;
  if (!rows_ || at_ >= rows_->Rows()) {
    const std::string fetch = "FETCH FORWARD " + std::to_string(kCursorRows) + " FROM " + name_;
    rows_ = std::make_unique<Result>(storage_.Run(fetch.c_str(), Params()));
    at_ = 0;
    if (rows_->Rows() == 0) {
      done_ = true;
      rows_.reset();
      return false;
    }
  }
  id = rows_->Integer(at_, 0);
  row.store = rows_->Bytes(at_, 1);
  row.messageId = rows_->Bytes(at_, 2);
  row.date = rows_->Bytes(at_, 3);
  row.collected = rows_->Bytes(at_, 4);
  row.month = rows_->Bytes(at_, 5);
  ++at_;
  return true;
}

}  // namespace

std::unique_ptr<LedgerStorage> CreatePostgresStorage(const std::string& location) {
  return std::make_unique<PostgresStorage>(location);
}

}  // namespace tollbook::ledger
