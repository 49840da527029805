// Connecting to a PostgreSQL ledger, and the values that cross libpq: every
// result asked for in binary form, parameters as bytes or integers.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace tollbook::ledger {

// A connection to the ledger at location (libpq's URI or key-value form),
// named name in messages. Without an sslmode in the location or PGSSLMODE,
// a TCP host gets "require" (never clear text); without a connect_timeout,
// 30 seconds. Throws Failure "cannot open the ledger NAME: <libpq's text>".
PGconn* ConnectToLedger(const std::string& location, const std::string& name);

// text without its trailing newlines and blanks; a stand-in when empty.
std::string TrimmedError(std::string text);

inline std::int64_t BigEndian(const char* bytes, int size) {
  std::uint64_t value = 0;
  for (int i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  if (size == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return static_cast<std::int64_t>(value);
}

// A query result, freed with it. Every result is asked for in binary form.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  const PGresult* get() const { return result_; }
  int Rows() const { return PQntuples(result_); }
  bool Null(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
  std::string Bytes(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
  }
  std::string_view View(int row, int column) const {
    return std::string_view(PQgetvalue(result_, row, column),
                            static_cast<std::size_t>(PQgetlength(result_, row, column)));
  }
  // An integer column (int4 or int8). Throws on another shape.
  std::int64_t Integer(int row, int column) const {
    const int length = PQgetlength(result_, row, column);
    if (length != 8 && length != 4)
      throw Failure("the ledger gave an integer of " + std::to_string(length) + " bytes");
    return BigEndian(PQgetvalue(result_, row, column), length);
  }

 private:
  PGresult* result_;
};

// The parameters of one statement: texts and bytes go in binary form as
// they are, integers as text.
class Params {
 public:
  Params& Add(std::string_view bytes) {
    values_.emplace_back(bytes);
    binary_.push_back(1);
    return *this;
  }
  Params& Add(std::int64_t value) {
    values_.push_back(std::to_string(value));
    binary_.push_back(0);
    return *this;
  }
  Params& AddNull() {
    values_.emplace_back();
    binary_.push_back(-1);
    return *this;
  }
  int Count() const { return static_cast<int>(values_.size()); }
  void Fill(std::vector<const char*>& values, std::vector<int>& lengths,
            std::vector<int>& formats) const {
    for (std::size_t i = 0; i < values_.size(); ++i) {
      values.push_back(binary_[i] < 0 ? nullptr : values_[i].data());
      lengths.push_back(static_cast<int>(values_[i].size()));
      formats.push_back(binary_[i] < 0 ? 0 : binary_[i]);
    }
  }

 private:
  std::vector<std::string> values_;
  std::vector<int> binary_;
};

}  // namespace tollbook::ledger
