// uuencode, as Eudora and older gateways send attachments
// (Content-Transfer-Encoding x-uuencode, uuencode or x-uue): a "begin MODE
// NAME" line, data lines each led by a length character (the byte count
// plus 32, a backquote standing for 0) followed by 4 characters for every 3
// bytes or part of 3, a zero-length line, and "end". Lines end in CR LF or LF.
#pragma once

#include <cstddef>
#include <string>
#include <vmime/utility/outputStream.hpp>

namespace tollbook::mail {

// Decodes uuencoded text as it streams past into out, or only checks it when
// out is null. Lines before "begin" and after "end" are skipped; a line left
// empty where a data line belongs (its blank length character stripped) is
// the zero-length line. Throws MimeDecodeRefusal (mime/decode.h), offsets
// in the text: a byte outside the uuencode alphabet (space to backquote),
// a line shorter than its length character says, another line where "end"
// belongs, a missing "begin" or "end" line.
class UudecodeStream : public vmime::utility::outputStream {
 public:
  explicit UudecodeStream(vmime::utility::outputStream* out) : out_(out) {}
  void flush() override {}
  // Ends the text: refuses it when it stopped before its "end" line.
  void Finish();

 protected:
  void writeImpl(const vmime::byte_t* data, std::size_t count) override;

 private:
  enum class State { kBeforeBegin, kData, kBeforeEnd, kDone };
  void Line();

  vmime::utility::outputStream* out_;
  State state_ = State::kBeforeBegin;
  std::string line_;
  std::size_t offset_ = 0;     // of the next byte written
  std::size_t lineStart_ = 0;  // offset of line_'s first byte
};

}  // namespace tollbook::mail
