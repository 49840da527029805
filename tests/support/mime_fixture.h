// Real MIME messages for tests of the mail sources: raw message texts built
// from parts, written into real Maildir++ trees.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollbook::testing {

// The base64 encoding of bytes, in lines of 76 characters ended by LF.
std::string Base64Lines(std::string_view bytes);

// A MIME part of a multipart message: its header lines (each without line
// end) and its body exactly as it stands in the message.
struct MimePart {
  std::vector<std::string> headers;
  std::string body;
};

// An attachment part: application/octet-stream, Content-Disposition
// attachment with filename="name" (quoted as given), content base64 encoded.
MimePart AttachmentPart(std::string_view name, std::string_view content);

// A multipart/mixed message with a short text body first, then parts; lines
// end in LF as in a Maildir.
std::string MultipartMessage(std::string_view subject, const std::vector<MimePart>& parts);

// A Maildir++ tree under root (created with cur/, new/, tmp/).
class MaildirFixture {
 public:
  explicit MaildirFixture(std::string root);
  const std::string& Root() const { return root_; }
  // Creates the folder ".name" (with cur/, new/, tmp/); returns its path.
  std::string AddFolder(std::string_view name);
  // Writes a message file; folder "" is the mailbox. Returns its path.
  std::string Deliver(std::string_view folder, std::string_view subdirectory, std::string_view name,
                      std::string_view message);
  // The folder's message files as "new/NAME" and "cur/NAME", sorted.
  std::vector<std::string> Files(std::string_view folder) const;

 private:
  std::string FolderPath(std::string_view folder) const;
  std::string root_;
};

}  // namespace tollbook::testing
