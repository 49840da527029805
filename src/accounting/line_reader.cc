#include "accounting/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/errors.h"

namespace tollbook {

LineReader::LineReader(std::string path) : path_(std::move(path)), block_(new char[kBlockSize]) {
  do {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw FileError("cannot open", path_ + " for reading", errno);
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool LineReader::Fill() {
  if (at_eof_) return false;
  for (;;) {
    ssize_t n = ::read(fd_, block_.get(), kBlockSize);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot read", path_, errno);
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(n);
    if (n == 0) at_eof_ = true;
    return n > 0;
  }
}

bool LineReader::ReadLine(std::string_view& line) {
  pending_.clear();
  bool have_bytes = false;
  for (;;) {
    if (begin_ == end_ && !Fill()) {
      // End of file: a last line without its end, or nothing.
      if (!have_bytes) return false;
      ++line_number_;
      line = pending_;
      return true;
    }
    if (skip_lf_) {
      skip_lf_ = false;
      if (block_[begin_] == '\n') {
        ++begin_;
        continue;
      }
    }
    const char* start = block_.get() + begin_;
    const void* cr = std::memchr(start, '\r', end_ - begin_);
    if (cr == nullptr) {
      pending_.append(start, end_ - begin_);
      have_bytes = true;
      begin_ = end_;
      continue;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(cr) - start);
    begin_ += length + 1;
    skip_lf_ = true;
    ++line_number_;
    if (have_bytes) {
      pending_.append(start, length);
      line = pending_;
    } else {
      line = std::string_view(start, length);
    }
    return true;
  }
}

}  // namespace tollbook
