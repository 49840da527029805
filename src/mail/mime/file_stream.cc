#include "mail/mime/file_stream.h"

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

std::size_t MimeFileStream::LoadWindow(std::size_t offset, std::size_t wanted) {
  wanted = std::min(wanted, size_ - offset);
  if (offset < windowStart_ || offset + wanted > windowStart_ + windowLength_) {
    window_.resize(std::min(kWindowBytes, size_));
    windowStart_ = offset;
    windowLength_ = ReadAt(offset, window_.data(), std::min(window_.size(), size_ - offset));
  }
  return windowStart_ + windowLength_ - offset;
}

std::size_t MimeFileStream::HeaderBlockEnd(std::size_t begin, std::size_t end) {
  end = std::min(end, size_);
  // A header block starts at the start of a line, so a line end at begin
  // ends it at once, as it does for vmime's header parser.
  enum { kInLine, kAfterLf, kAfterLfCr } state = kAfterLf;
  for (std::size_t at = begin; at < end;) {
    const std::size_t length = std::min(LoadWindow(at), end - at);
    if (length == 0) break;  // the file shrank since it was opened
    const vmime::byte_t* bytes = window_.data() + (at - windowStart_);
    for (std::size_t i = 0; i < length; ++i) {
      const vmime::byte_t c = bytes[i];
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

std::size_t MimeFileStream::FindNext(std::string_view token, std::size_t from) {
  constexpr std::size_t kLongestToken = 2048;
  if (token.empty() || token.size() > kLongestToken) return vmime::string::npos;
  // vmime compares the first byte as a signed char with an unsigned one, so
  // a token that starts outside ASCII is never found there either.
  if (static_cast<unsigned char>(token[0]) >= 0x80) return vmime::string::npos;
  while (from + token.size() <= size_) {
    // A window that ends within a token of from is loaded again at from.
    const std::size_t length = LoadWindow(from, token.size());
    if (length < token.size()) break;  // the file shrank since it was opened
    const std::string_view held(reinterpret_cast<const char*>(window_.data()) + (from - windowStart_),
                                length);
    const std::size_t found = held.find(token);
    if (found != std::string_view::npos) return from + found;
    if (from + length >= size_) break;
    // A match may start in the window's last token-size - 1 bytes.
    from += length - (token.size() - 1);
  }
  return vmime::string::npos;
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
    if (LoadWindow(position_) == 0) break;
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
