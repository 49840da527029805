#include "support/mime_fixture.h"

#include "sample/maildir_writer.h"
#include "support/test_support.h"

namespace tollbook::testing {

std::string Base64Lines(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t lineLength = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    lineLength += 4;
    if (lineLength == 76) {
      out += '\n';
      lineLength = 0;
    }
  }
  if (lineLength > 0) out += '\n';
  return out;
}

MimePart AttachmentPart(std::string_view name, std::string_view content) {
  return {{"Content-Type: application/octet-stream",
           "Content-Disposition: attachment; filename=\"" + std::string(name) + "\"",
           "Content-Transfer-Encoding: base64"},
          Base64Lines(content)};
}

std::string MultipartMessage(std::string_view subject, const std::vector<MimePart>& parts) {
  const std::string boundary = "=_test_boundary_42";
  std::string message = "From: GroupWise Gateway <gwia@example.net>\n"
                        "To: accounting@example.net\n"
                        "Subject: " + std::string(subject) + "\n"
                        "Date: Fri, 1 Mar 2024 10:00:00 +0000\n"
                        "MIME-Version: 1.0\n"
                        "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n"
                        "\n"
                        "--" + boundary + "\n"
                        "Content-Type: text/plain; charset=us-ascii\n"
                        "\n"
                        "Accounting data attached.\n";
  for (const auto& part : parts) {
    message += "--" + boundary + "\n";
    for (const auto& header : part.headers) message += header + "\n";
    message += "\n" + part.body;
    if (!part.body.empty() && part.body.back() != '\n') message += "\n";
  }
  message += "--" + boundary + "--\n";
  return message;
}

MaildirFixture::MaildirFixture(std::string root) : root_(std::move(root)) {
  mail::CreateMaildirFolder(root_, false);
}

std::string MaildirFixture::FolderPath(std::string_view folder) const {
  return folder.empty() ? root_ : root_ + "/." + std::string(folder);
}

std::string MaildirFixture::AddFolder(std::string_view name) {
  const std::string path = FolderPath(name);
  mail::CreateMaildirFolder(path, true);
  return path;
}

std::string MaildirFixture::Deliver(std::string_view folder, std::string_view subdirectory,
                                    std::string_view name, std::string_view message) {
  mail::WriteMaildirMessage(FolderPath(folder), subdirectory, name, message);
  return FolderPath(folder) + "/" + std::string(subdirectory) + "/" + std::string(name);
}

std::vector<std::string> MaildirFixture::Files(std::string_view folder) const {
  std::vector<std::string> files;
  for (const char* subdirectory : {"cur", "new"}) {
    for (const auto& name : ListFolder(FolderPath(folder) + "/" + subdirectory)) {
      files.push_back(std::string(subdirectory) + "/" + name);
    }
  }
  return files;
}

}  // namespace tollbook::testing
