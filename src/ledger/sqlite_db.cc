#include "ledger/sqlite_db.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "base/errors.h"

namespace tollbook::ledger {
namespace {

// Who holds the ledger at path locked, as far as the locks SQLite takes
// show it: " (held by process PID, NAME)", or the empty text. In WAL mode a
// writer holds byte 120 of the -shm file; in the other modes the reserved
// and pending bytes of the database file.
std::string LockHolder(const std::string& path) {
  const struct {
    std::string file;
    off_t start;
  } places[] = {{path + "-shm", 120}, {path, 0x40000000}, {path, 0x40000001}};
  for (const auto& place : places) {
    const int fd = ::open(place.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = place.start;
    lock.l_len = 1;
    const bool found = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    if (!found || lock.l_pid <= 0) continue;
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(lock.l_pid) + "/comm");
    std::getline(comm, name);
    return " (held by process " + std::to_string(lock.l_pid) +
           (name.empty() ? std::string() : ", " + name) + ")";
  }
  return {};
}

}  // namespace

Database::Database(const std::string& path, int flags) : path_(path) {
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if (db_ != nullptr && sqlite3_system_errno(db_) != 0) {
      why += std::string(" (") + std::strerror(sqlite3_system_errno(db_)) + ")";
    }
    sqlite3_close(db_);
    db_ = nullptr;
    throw Failure("cannot open the ledger " + path + ": " + why);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::Fail(std::string_view doing, int rc) const {
  std::string why = sqlite3_errmsg(db_);
  if (why == "not an error" || why.empty()) why = sqlite3_errstr(rc);
  // SQLite's own text of a failed system call ("disk I/O error") does not
  // say which error the system gave.
  const int primary = sqlite3_extended_errcode(db_) & 0xff;
  const int error = sqlite3_system_errno(db_);
  if (error != 0 &&
      (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_FULL)) {
    why += std::string(" (") + std::strerror(error) + ")";
  }
  if (primary == SQLITE_BUSY) why += LockHolder(path_);
  throw Failure(std::string(doing) + " " + path_ + ": " + why);
}

void Database::Execute(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    sqlite3_free(message);
    Fail("cannot write the ledger", rc);
  }
}

std::int64_t Database::QueryInteger(const char* sql) {
  Statement statement(*this, sql);
  if (!statement.Step()) Fail("cannot read the ledger", SQLITE_ERROR);
  const std::int64_t value = statement.Integer(0);
  statement.Reset();
  return value;
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
  const int rc =
      sqlite3_prepare_v3(db.Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail("cannot read the ledger", rc);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::string_view text) {
  const int rc =
      sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.Fail("cannot write the ledger", rc);
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.Fail("cannot write the ledger", rc);
  return *this;
}

Statement& Statement::BindZeroBlob(int index, std::int64_t size) {
  const int rc = sqlite3_bind_zeroblob64(stmt_, index, static_cast<sqlite3_uint64>(size));
  if (rc != SQLITE_OK) db_.Fail("cannot write the ledger", rc);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  const int rc = sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(),
                                     static_cast<sqlite3_uint64>(bytes.size()), SQLITE_STATIC);
  if (rc != SQLITE_OK) db_.Fail("cannot write the ledger", rc);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) {
    Reset();
    return false;
  }
  Reset();
  db_.Fail(sqlite3_stmt_readonly(stmt_) ? "cannot read the ledger" : "cannot write the ledger", rc);
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::string Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text != nullptr
             ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

Blob::Blob(Database& db, const char* table, const char* column, std::int64_t row, bool write)
    : db_(db) {
  const int rc = sqlite3_blob_open(db.Handle(), "main", table, column, row, write ? 1 : 0, &blob_);
  if (rc != SQLITE_OK) db.Fail(write ? "cannot write the ledger" : "cannot read the ledger", rc);
}

Blob::~Blob() { sqlite3_blob_close(blob_); }

void Blob::Write(std::string_view bytes, std::int64_t offset) {
  const int rc = sqlite3_blob_write(blob_, bytes.data(), static_cast<int>(bytes.size()),
                                    static_cast<int>(offset));
  if (rc != SQLITE_OK) db_.Fail("cannot write the ledger", rc);
}

void Blob::Read(char* into, int size, std::int64_t offset) {
  const int rc = sqlite3_blob_read(blob_, into, size, static_cast<int>(offset));
  if (rc != SQLITE_OK) db_.Fail("cannot read the ledger", rc);
}

}  // namespace tollbook::ledger
