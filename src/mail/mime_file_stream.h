// A message file as vmime's parser reads it: a seekable input stream over a
// file descriptor, read through one buffer window, so a parsed message keeps
// only its structure in memory and its bodies stay in the file until they are
// extracted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>
#include <vmime/utility/seekableInputStream.hpp>

namespace tollbook::mail {

class MimeFileStream : public vmime::utility::seekableInputStream {
 public:
  // Takes ownership of fd, an open file of size bytes; path names it in errors.
  MimeFileStream(int fd, std::size_t size, std::string path);
  ~MimeFileStream() override;

  // Opens path for reading. Returns nullptr with errno set when it cannot be
  // opened.
  static vmime::shared_ptr<MimeFileStream> Open(const std::string& path);

  std::size_t Size() const { return size_; }

  // The raw bytes from begin to end (clamped to the file).
  std::string ReadRange(std::size_t begin, std::size_t end);

  bool eof() const override { return position_ >= size_; }
  void reset() override { position_ = 0; }
  std::size_t read(vmime::byte_t* data, std::size_t count) override;
  std::size_t skip(std::size_t count) override;
  std::size_t getPosition() const override { return position_; }
  void seek(std::size_t position) override { position_ = position < size_ ? position : size_; }

 private:
  // Reads count bytes at offset straight from the file; throws MessageError.
  std::size_t ReadAt(std::size_t offset, vmime::byte_t* data, std::size_t count);

  int fd_;
  std::size_t size_;
  std::string path_;
  std::size_t position_ = 0;
  std::vector<vmime::byte_t> window_;
  std::size_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace tollbook::mail
