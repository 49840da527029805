#include "mail/mime_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

constexpr std::size_t kWindowBytes = 1 << 16;

}  // namespace

MimeFileStream::MimeFileStream(int fd, std::size_t size, std::string path,
                               std::size_t headerExtractBytes)
    : fd_(fd), size_(size), path_(std::move(path)), headerExtractBytes_(headerExtractBytes) {}

MimeFileStream::~MimeFileStream() { ::close(fd_); }

vmime::shared_ptr<MimeFileStream> MimeFileStream::Open(const std::string& path,
                                                       std::size_t headerExtractBytes) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  return vmime::make_shared<MimeFileStream>(fd, static_cast<std::size_t>(st.st_size), path,
                                           headerExtractBytes);
}

std::size_t MimeFileStream::ReadAt(std::size_t offset, vmime::byte_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, data + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw MessageError("cannot read " + path_ + ": " + std::strerror(errno));
    }
    if (n == 0) break;  // the file shrank since it was opened
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t MimeFileStream::HeaderBlockEnd(std::size_t begin, std::size_t end) {
  std::vector<vmime::byte_t> chunk(kWindowBytes);
  // A header block starts at the start of a line, so a line end at begin
  // ends it at once, as it does for vmime's header parser.
  enum { kInLine, kAfterLf, kAfterLfCr } state = kAfterLf;
  for (std::size_t at = begin; at < end;) {
    const std::size_t length = ReadAt(at, chunk.data(), std::min(chunk.size(), end - at));
    if (length == 0) break;
    for (std::size_t i = 0; i < length; ++i) {
      const vmime::byte_t c = chunk[i];
      if (c == '\n') {
        if (state != kInLine) return at + i + 1;
        state = kAfterLf;
      } else {
        state = c == '\r' && state == kAfterLf ? kAfterLfCr : kInLine;
      }
    }
    at += length;
  }
  return end;
}

std::size_t MimeFileStream::read(vmime::byte_t* data, std::size_t count) {
  count = std::min(count, size_ - position_);
  if (count >= headerExtractBytes_) {  // a header extraction (see kHeaderExtractBytes)
    count = HeaderBlockEnd(position_, position_ + count) - position_;
  }
  std::size_t done = 0;
  while (done < count) {
    if (position_ >= windowStart_ && position_ < windowStart_ + windowLength_) {
      const std::size_t offset = position_ - windowStart_;
      const std::size_t chunk = std::min(count - done, windowLength_ - offset);
      std::memcpy(data + done, window_.data() + offset, chunk);
      done += chunk;
      position_ += chunk;
      continue;
    }
    if (count - done >= kWindowBytes) {  // a large read bypasses the window
      const std::size_t n = ReadAt(position_, data + done, count - done);
      done += n;
      position_ += n;
      if (n == 0) break;
      continue;
    }
    window_.resize(std::min(kWindowBytes, size_));
    windowStart_ = position_;
    windowLength_ = ReadAt(position_, window_.data(), std::min(window_.size(), size_ - position_));
    if (windowLength_ == 0) break;
  }
  return done;
}

std::size_t MimeFileStream::skip(std::size_t count) {
  const std::size_t skipped = std::min(count, size_ - position_);
  position_ += skipped;
  return skipped;
}

std::string MimeFileStream::ReadRange(std::size_t begin, std::size_t end) {
  end = std::min(end, size_);
  if (begin >= end) return {};
  std::string bytes(end - begin, '\0');
  bytes.resize(ReadAt(begin, reinterpret_cast<vmime::byte_t*>(bytes.data()), bytes.size()));
  return bytes;
}

}  // namespace tollbook::mail
