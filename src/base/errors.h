// The typed failures of the core. Every message reads "<what failed>: <why>"
// or names the place (file, line, record) it is about; only the front ends
// print them.
#pragma once

#include <stdexcept>
#include <string>

namespace tollbook {

// A failure of a processing run or of one of its steps: a file that cannot be
// opened, read, written or synced, an input that cannot be summarised.
// Control bytes of the message (a NUL or CR taken from a record's text, say)
// are written as \xNN, so that the whole message survives being shown as C text.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message);
};

// A file-system call failed; the message names the path and the system's
// error text, e.g. "cannot open /srv/fullacct.csv for writing: Permission denied".
class FileError : public Failure {
 public:
  FileError(const std::string& action, const std::string& path, int error_number);
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

}  // namespace tollbook
