#include "base/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/errors.h"

namespace tollbook {

// A stream buffer over a file descriptor that remembers the first errno.
class OutputFile::Buffer : public std::streambuf {
 public:
  // The buffer is left uninitialised: every scratch file gets one.
  explicit Buffer(int fd) : fd_(fd), data_(new char[kBytes]) { setp(data_.get(), data_.get() + kBytes); }

  int Error() const { return error_; }

  bool Flush() {
    const char* p = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    setp(data_.get(), data_.get() + kBytes);
    return error_ == 0;
  }

 protected:
  int_type overflow(int_type ch) override {
    if (!Flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }

  std::streamsize xsputn(const char* s, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      std::streamsize room = epptr() - pptr();
      if (room == 0) {
        if (!Flush()) return done;
        room = epptr() - pptr();
      }
      std::streamsize chunk = std::min(room, count - done);
      std::memcpy(pptr(), s + done, static_cast<std::size_t>(chunk));
      pbump(static_cast<int>(chunk));
      done += chunk;
    }
    return done;
  }

  int sync() override { return Flush() ? 0 : -1; }

 private:
  int fd_;
  int error_ = 0;
  static constexpr std::size_t kBytes = 1 << 16;
  std::unique_ptr<char[]> data_;
};

OutputFile::OutputFile(std::string path, Mode mode) : path_(std::move(path)), stream_(nullptr) {
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  if (mode == Mode::kTruncateNoFollow) flags |= O_NOFOLLOW;
  do {
    fd_ = ::open(path_.c_str(), flags, 0644);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    if (errno == ELOOP && mode == Mode::kTruncateNoFollow) {
      throw Failure("cannot open " + path_ + " for writing: it is a symbolic link");
    }
    throw FileError("cannot open", path_ + " for writing", errno);
  }
  buffer_ = std::make_unique<Buffer>(fd_);
  stream_.rdbuf(buffer_.get());
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) {
    buffer_->Flush();
    ::close(fd_);
  }
}

void OutputFile::CheckWrites() {
  if (buffer_->Error() != 0) throw FileError("cannot write", path_, buffer_->Error());
  if (!stream_) throw Failure("cannot write " + path_ + ": the output stream failed");
}

void OutputFile::Sync() {
  stream_.flush();
  CheckWrites();
  if (::fsync(fd_) != 0) throw FileError("cannot sync", path_, errno);
}

void OutputFile::Close() {
  if (fd_ < 0) return;
  stream_.flush();
  const int fd = fd_;
  fd_ = -1;
  if (buffer_->Error() != 0) {
    ::close(fd);
    CheckWrites();
  }
  if (::close(fd) != 0 && errno != EINTR) throw FileError("cannot write", path_, errno);
  CheckWrites();
}

}  // namespace tollbook
