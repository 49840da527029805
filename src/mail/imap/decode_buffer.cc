#include "mail/imap/decode_buffer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/errors.h"

namespace tollbook::mail {

ImapDecodeBuffer::~ImapDecodeBuffer() {
  if (fd_ >= 0) ::close(fd_);
}

vmime::utility::outputStream& ImapDecodeBuffer::Writer() {
  if (fd_ < 0) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tollbook-imap-XXXXXX";
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ < 0) throw FileError("cannot create a temporary file like", path, errno);
    ::unlink(path.c_str());
    path_ = std::move(path);
  }
  // The file keeps its old bytes past length_: overwriting is cheaper than
  // truncating, and nothing past length_ is ever read.
  length_ = 0;
  start_ = 0;
  return out_;
}

void ImapDecodeBuffer::Narrow(std::size_t offset, std::size_t length) {
  offset = std::min(offset, length_);
  start_ += offset;
  length_ = std::min(length, length_ - offset);
}

vmime::utility::inputStream& ImapDecodeBuffer::Reader() {
  in_.reset();
  return in_;
}

void ImapDecodeBuffer::Out::writeImpl(const vmime::byte_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::pwrite(buffer_.fd_, data, count, static_cast<off_t>(buffer_.length_));
    if (written < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot write the temporary file", buffer_.path_, errno);
    }
    data += written;
    count -= static_cast<std::size_t>(written);
    buffer_.length_ += static_cast<std::size_t>(written);
  }
}

std::size_t ImapDecodeBuffer::In::read(vmime::byte_t* data, std::size_t count) {
  count = std::min(count, buffer_.length_ - std::min(position_, buffer_.length_));
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(buffer_.fd_, data + done, count - done,
                                static_cast<off_t>(buffer_.start_ + position_));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot read the temporary file", buffer_.path_, errno);
    }
    if (got == 0) throw FileError("cannot read the temporary file", buffer_.path_, EIO);
    done += static_cast<std::size_t>(got);
    position_ += static_cast<std::size_t>(got);
  }
  return done;
}

std::size_t ImapDecodeBuffer::In::skip(std::size_t count) {
  count = std::min(count, buffer_.length_ - std::min(position_, buffer_.length_));
  position_ += count;
  return count;
}

}  // namespace tollbook::mail
