// A message file as vmime's parser reads it: a seekable input stream over a
// file descriptor, read through one buffer window, so a parsed message keeps
// only its structure in memory and its bodies stay in the file until they are
// extracted.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>
#include <vmime/utility/seekableInputStream.hpp>

namespace tollbook::mail {

class MimeFileStream : public vmime::utility::seekableInputStream {
 public:
  // vmime parses a part's header by extracting everything from the header's
  // start to the end of the part into memory (twice: an array, then a
  // string). A read of at least this many bytes is taken for such an
  // extraction and served only up to the blank line that ends the header
  // block, where vmime's header parser stops anyway; the caller's buffer is
  // not touched beyond it, so the body never becomes resident. The parser's
  // other reads (scans, decoders, copies) ask for 64 KiB or less, and its
  // only other extractions, a multipart's prologue and epilogue, are unused.
  static constexpr std::size_t kHeaderExtractBytes = std::size_t{1} << 20;

  // Takes ownership of fd, an open file of size bytes; path names it in errors.
  // headerExtractBytes (at least 64 KiB + 1) is lowered only by tests.
  MimeFileStream(int fd, std::size_t size, std::string path,
                 std::size_t headerExtractBytes = kHeaderExtractBytes);
  ~MimeFileStream() override;

  // Opens path for reading. Returns nullptr with errno set when it cannot be
  // opened.
  static vmime::shared_ptr<MimeFileStream> Open(
      const std::string& path, std::size_t headerExtractBytes = kHeaderExtractBytes);

  std::size_t Size() const { return size_; }

  // The raw bytes from begin to end (clamped to the file).
  std::string ReadRange(std::size_t begin, std::size_t end);

  // The offset just past the first blank line (LF LF or LF CR LF) that
  // starts in [begin, end), or end when there is none: where the header
  // block that starts at begin ends for vmime's header parser, which stops
  // at that line or before it and never looks past it.
  std::size_t HeaderBlockEnd(std::size_t begin, std::size_t end);

  // The offset of the first occurrence of token at or after from, or
  // vmime::string::npos. Like vmime's parser stream search, an empty token,
  // one longer than 2,048 bytes or one that starts with a byte outside ASCII
  // is never found. Reads through the window,
  // so a small message is read from the file once however often it is
  // searched.
  std::size_t FindNext(std::string_view token, std::size_t from);

  bool eof() const override { return position_ >= size_; }
  void reset() override { position_ = 0; }
  std::size_t read(vmime::byte_t* data, std::size_t count) override;
  std::size_t skip(std::size_t count) override;
  std::size_t getPosition() const override { return position_; }
  void seek(std::size_t position) override { position_ = position < size_ ? position : size_; }

 private:
  // Makes the window hold the byte at offset (offset < size), and at least
  // `wanted` bytes from it where the file has them; returns how many bytes
  // from offset it holds. Throws MessageError.
  std::size_t LoadWindow(std::size_t offset, std::size_t wanted = 1);

  // Reads count bytes at offset straight from the file; throws MessageError.
  std::size_t ReadAt(std::size_t offset, vmime::byte_t* data, std::size_t count);

  int fd_;
  std::size_t size_;
  std::string path_;
  std::size_t headerExtractBytes_;
  std::size_t position_ = 0;
  std::vector<vmime::byte_t> window_;
  std::size_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace tollbook::mail
