// A temporary file through which an IMAP walk decodes its attachments, so no
// attachment is held in memory. One file serves the whole walk: making and
// deleting a file per attachment costs milliseconds each on a journalled file
// system, more than fetching the attachment.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tollbook::mail {

class ImapDecodeBuffer {
 public:
  // The file is made at the first Start() call, in $TMPDIR (else /tmp),
  // and unlinked at once, so it disappears with the process.
  ImapDecodeBuffer() = default;
  ~ImapDecodeBuffer();
  ImapDecodeBuffer(const ImapDecodeBuffer&) = delete;
  ImapDecodeBuffer& operator=(const ImapDecodeBuffer&) = delete;

  // Forgets what was written: Write() writes from the start. Throws
  // FileError when the file cannot be made.
  void Start();
  // Appends size bytes. Throws FileError.
  void Write(const char* data, std::size_t size);
  // From now until the next Start(), ReadAll() reads back only the length
  // bytes from offset of what was written (both within it).
  void Narrow(std::size_t offset, std::size_t length);
  // Hands what was written to write, in blocks. Read errors throw FileError.
  void ReadAll(const std::function<void(const char* data, std::size_t size)>& write);

 private:
  int fd_ = -1;
  std::string path_;        // for messages; the file itself is already unlinked
  std::size_t length_ = 0;  // bytes written since the last Start()
  std::size_t start_ = 0;   // where ReadAll() starts (see Narrow())
};

}  // namespace tollbook::mail
