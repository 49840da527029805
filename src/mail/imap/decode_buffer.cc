#include "mail/imap/decode_buffer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/errors.h"

namespace tollbook::mail {

ImapDecodeBuffer::~ImapDecodeBuffer() {
  if (fd_ >= 0) ::close(fd_);
}

void ImapDecodeBuffer::Start() {
  if (fd_ < 0) {
    const char* dir = std::getenv("TMPDIR");
    std::string path =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tollbook-imap-XXXXXX";
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ < 0) throw FileError("cannot create a temporary file like", path, errno);
    ::unlink(path.c_str());
    path_ = std::move(path);
  }
  // The file keeps its old bytes past length_: overwriting is cheaper than
  // truncating, and nothing past length_ is ever read.
  length_ = 0;
  start_ = 0;
}

void ImapDecodeBuffer::Narrow(std::size_t offset, std::size_t length) {
  offset = std::min(offset, length_);
  start_ += offset;
  length_ = std::min(length, length_ - offset);
}

void ImapDecodeBuffer::Write(const char* data, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::pwrite(fd_, data, count, static_cast<off_t>(start_ + length_));
    if (written < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot write the temporary file", path_, errno);
    }
    data += written;
    count -= static_cast<std::size_t>(written);
    length_ += static_cast<std::size_t>(written);
  }
}

void ImapDecodeBuffer::ReadAll(
    const std::function<void(const char* data, std::size_t size)>& write) {
  std::vector<char> block(1 << 16);
  for (std::size_t position = 0; position < length_;) {
    const std::size_t want = std::min(block.size(), length_ - position);
    const ssize_t got = ::pread(fd_, block.data(), want, static_cast<off_t>(start_ + position));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot read the temporary file", path_, errno);
    }
    if (got == 0) throw FileError("cannot read the temporary file", path_, EIO);
    write(block.data(), static_cast<std::size_t>(got));
    position += static_cast<std::size_t>(got);
  }
}

}  // namespace tollbook::mail
