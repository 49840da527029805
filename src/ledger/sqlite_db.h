// A thin owner of an SQLite connection and its prepared statements: the few
// calls the ledger makes, each failure thrown as tollbook::Failure naming the
// database file and SQLite's own text. The C API directly rather than a C++
// binding: no further dependency for a handful of calls.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook::ledger {

class Statement;

class Database {
 public:
  // Opens path with the given sqlite3_open_v2 flags. Throws Failure.
  Database(const std::string& path, int flags);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs sql (one or more statements without parameters). Throws Failure.
  void Execute(const char* sql);
  // The single integer the query sql gives. Throws Failure.
  std::int64_t QueryInteger(const char* sql);
  std::int64_t LastRowId() const { return sqlite3_last_insert_rowid(db_); }
  bool ReadOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
  const std::string& Path() const { return path_; }
  sqlite3* Handle() const { return db_; }

  // Throws Failure "<doing>: <path>: <SQLite's message>" for result code rc.
  [[noreturn]] void Fail(std::string_view doing, int rc) const;

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

// A prepared statement, reset for reuse after each Step() that ends it.
class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, std::int64_t value);
  Statement& BindZeroBlob(int index, std::int64_t size);
  // Binds bytes without copying them: they must stay unchanged until the
  // statement is stepped to its end.
  Statement& BindBlob(int index, std::string_view bytes);
  // Steps once: true when a row is there to read, false when done (the
  // statement is then reset and its bindings cleared). Throws Failure.
  bool Step();
  // Runs the statement to its end.
  void Run() {
    while (Step()) {
    }
  }
  void Reset();
  std::int64_t Integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const;

 private:
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// An open BLOB of one row, for writing or reading it in pieces.
class Blob {
 public:
  Blob(Database& db, const char* table, const char* column, std::int64_t row, bool write);
  ~Blob();
  Blob(const Blob&) = delete;
  Blob& operator=(const Blob&) = delete;
  std::int64_t Size() const { return sqlite3_blob_bytes(blob_); }
  void Write(std::string_view bytes, std::int64_t offset);
  void Read(char* into, int size, std::int64_t offset);

 private:
  Database& db_;
  sqlite3_blob* blob_ = nullptr;
};

}  // namespace tollbook::ledger
