// A temporary file through which an IMAP walk decodes its attachments, so no
// attachment is held in memory. One file serves the whole walk: making and
// deleting a file per attachment costs milliseconds each on a journalled file
// system, more than fetching the attachment.
#pragma once

#include <string>
#include <vmime/utility/inputStream.hpp>
#include <vmime/utility/outputStream.hpp>

namespace tollbook::mail {

class ImapDecodeBuffer {
 public:
  // The file is made at the first Writer() call, in $TMPDIR (else /tmp),
  // and unlinked at once, so it disappears with the process.
  ImapDecodeBuffer() = default;
  ~ImapDecodeBuffer();
  ImapDecodeBuffer(const ImapDecodeBuffer&) = delete;
  ImapDecodeBuffer& operator=(const ImapDecodeBuffer&) = delete;

  // Forgets what was written and returns a stream that writes from the
  // start; valid until the next Writer() call. Throws FileError when the
  // file cannot be made; the stream's writes throw FileError.
  vmime::utility::outputStream& Writer();
  // A stream that reads back exactly what Writer() wrote; read errors throw
  // FileError.
  vmime::utility::inputStream& Reader();
  // From now until the next Writer() call, Reader() reads back only the
  // length bytes from offset of what Writer() wrote (both within it).
  void Narrow(std::size_t offset, std::size_t length);

 private:
  class Out : public vmime::utility::outputStream {
   public:
    explicit Out(ImapDecodeBuffer& buffer) : buffer_(buffer) {}
    void flush() override {}

   protected:
    void writeImpl(const vmime::byte_t* data, std::size_t count) override;

   private:
    ImapDecodeBuffer& buffer_;
  };
  class In : public vmime::utility::inputStream {
   public:
    explicit In(ImapDecodeBuffer& buffer) : buffer_(buffer) {}
    bool eof() const override { return position_ >= buffer_.length_; }
    void reset() override { position_ = 0; }
    std::size_t read(vmime::byte_t* data, std::size_t count) override;
    std::size_t skip(std::size_t count) override;

   private:
    friend class ImapDecodeBuffer;
    ImapDecodeBuffer& buffer_;
    std::size_t position_ = 0;
  };

  int fd_ = -1;
  std::string path_;         // for messages; the file itself is already unlinked
  std::size_t length_ = 0;   // bytes written since the last Writer()
  std::size_t start_ = 0;    // where Reader() starts (see Narrow())
  Out out_{*this};
  In in_{*this};
};

}  // namespace tollbook::mail
