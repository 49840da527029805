// A part's MIME header on its own, for a source that gets each part's header
// separately (the IMAP walk): the attachment rule's view of it, its file
// name and its transfer encoding; and decoding a raw body that comes as
// bytes. Nothing of the MIME library shows here.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "mail/mime/part_role.h"

namespace tollbook::mail {

class MimePartProbe {
 public:
  // Parses raw, a part's header block as the server sent it.
  explicit MimePartProbe(std::string raw);
  ~MimePartProbe();
  MimePartProbe(MimePartProbe&&) noexcept;
  MimePartProbe& operator=(MimePartProbe&&) noexcept;

  const std::string& Raw() const;
  // Parses raw in place of the header held.
  void Reparse(std::string raw);
  // The attachment rule's role of the part (mime/attachment_rule.h).
  MimePartRole Role(const MimeParent& parent) const;
  // What the rule asks of this multipart for its part at index (from 0).
  MimeParent ChildParent(std::size_t index) const;
  // The file name, decoded as HeaderAttachmentName() does; "" when none.
  std::string AttachmentName() const;
  // The Content-Transfer-Encoding, lower case; "7bit" when none.
  std::string TransferEncoding() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Raw text that cannot be decoded without losing data: what is wrong, and
// the offset in the raw body where it is.
struct MimeDecodeRefusal {
  std::size_t offset;
  std::string why;
};

// Writes bytes of a raw body; called by a MimeRawBytes.
using MimeByteWriter = std::function<void(const char* data, std::size_t size)>;
// Writes the whole raw body through the writer given; called once per pass.
using MimeRawBytes = std::function<void(const MimeByteWriter& write)>;

// DecodeMimeBody() and MimeLineAt() (mime/decode.h) for a body given as bytes.
void DecodeMimeBytes(std::string_view encoding, const MimeRawBytes& raw, std::ostream& out);
std::size_t MimeLineAtBytes(const MimeRawBytes& raw, std::size_t offset);

}  // namespace tollbook::mail
