// A message file through the Maildir source's MIME code: parse it, find its
// attachments, take the first one's display name and decoded content, as a
// run does. Parsing may be refused (a vmime or message error), decoding too;
// anything else is a finding. Checked besides:
//  - base64 content that decodes equals a plain reference decoding of the raw
//    text, and the raw text holds nothing that the check should have refused;
//  - the message parsed a second time with the header extraction cut short
//    for every part (as it is for parts of a megabyte or more) yields the same
//    attachments, the same first name and the same content;
//  - the light attachment scan that runs use finds the same attachments, the
//    same first name and the same content as the full parse.
//
// Input: the bytes of one message file.
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vmime/contentHandler.hpp>
#include <vmime/encoding.hpp>
#include <vmime/exception.hpp>
#include <vmime/utility/outputStreamStringAdapter.hpp>

#include "base/text.h"
#include "fuzz_support.h"
#include "mail/mail_source.h"
#include "mail/mime/attachment.h"
#include "mail/mime/file_stream.h"
#include "mail/mime/scan.h"
#include "mail/vmime_init.h"

using namespace tollbook;
using tollbook::fuzz::Require;

namespace {

// Above every read of vmime's scans (4 KiB), below its decoders and copies.
constexpr std::size_t kSmallHeaderExtract = 4097;

struct FirstAttachment {
  std::size_t count = 0;
  std::string name;
  std::optional<std::string> content;  // empty when decoding was refused
  std::string raw;                     // the encoded text
  bool base64 = false;
};

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Blanks and line ends skipped; groups of four decoded until the first '='
// ("XY==" gives one byte, "XYZ=" two). Empty when the text holds a byte
// outside the alphabet, a letter after '=', or ends inside a group.
std::optional<std::string> ReferenceBase64(std::string_view raw) {
  std::string symbols;
  for (char c : raw) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c != '=' && (Value(c) < 0 || symbols.find('=') != std::string::npos)) return std::nullopt;
    symbols += c;
  }
  if (symbols.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < symbols.size(); i += 4) {
    const char* g = symbols.data() + i;
    if (g[0] == '=' || g[1] == '=') break;
    const std::uint32_t v = (Value(g[0]) << 18) | (Value(g[1]) << 12) |
                            (g[2] == '=' ? 0 : Value(g[2]) << 6) |
                            (g[2] == '=' || g[3] == '=' ? 0 : Value(g[3]));
    out += static_cast<char>(v >> 16);
    if (g[2] == '=') break;
    out += static_cast<char>(v >> 8);
    if (g[3] == '=') break;
    out += static_cast<char>(v);
  }
  return out;
}

enum class Reader { kFullParse, kScan };

// nullopt when parsing was refused.
std::optional<FirstAttachment> Read(const std::string& path, std::size_t headerExtract,
                                    Reader reader = Reader::kFullParse) {
  auto stream = mail::MimeFileStream::Open(path, headerExtract);
  Require(stream != nullptr, "memory file did not open");
  mail::MimeMessage parsed;
  try {
    if (reader == Reader::kFullParse) {
      parsed = mail::ParseMimeMessage(stream);
    } else {
      parsed.stream = stream;
      parsed.attachments = mail::ScanMimeAttachments(stream);
    }
  } catch (const vmime::exception&) {
    return std::nullopt;
  } catch (const mail::MessageError&) {
    return std::nullopt;
  }
  FirstAttachment first;
  first.count = parsed.attachments.size();
  if (first.count == 0) return first;
  const vmime::attachment& attachment = *parsed.attachments.front();
  try {
    first.name = mail::MimeAttachmentName(attachment, *stream);
  } catch (const vmime::exception&) {
    first.name = "<refused>";
  }
  const auto data = attachment.getData();
  first.base64 = EqualsIgnoreCase(data->getEncoding().getName(), vmime::encodingTypes::BASE64);
  vmime::utility::outputStreamStringAdapter rawOut(first.raw);
  data->extractRaw(rawOut);
  std::ostringstream out;
  try {
    mail::WriteMimeAttachmentContent(attachment, *stream, out);
    first.content = out.str();
  } catch (const vmime::exception&) {
  } catch (const mail::MessageError&) {
  }
  return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemoryFile file;
  static const bool initialised = (mail::EnsureVmimeInitialised(), true);
  (void)initialised;
  const std::string& path =
      file.Hold(std::string_view(reinterpret_cast<const char*>(data), size));

  const auto plain = Read(path, mail::MimeFileStream::kHeaderExtractBytes);
  const auto cut = Read(path, kSmallHeaderExtract);
  Require(plain.has_value() == cut.has_value(), "cut header extraction changed parsing");
  if (!plain) return 0;
  const auto scanned = Read(path, mail::MimeFileStream::kHeaderExtractBytes, Reader::kScan);
  Require(scanned.has_value(), "the scan refused a message the full parse takes");
  Require(scanned->count == plain->count, "the scan found other attachments");
  Require(scanned->name == plain->name, "the scan found another first name");
  Require(scanned->content == plain->content, "the scan found other content");
  Require(plain->count == cut->count, "cut header extraction changed the attachments");
  if (plain->count == 0) return 0;
  Require(plain->name == cut->name, "cut header extraction changed the name");
  Require(plain->content == cut->content, "cut header extraction changed the content");

  if (plain->base64) {
    const auto reference = ReferenceBase64(plain->raw);
    Require(plain->content.has_value() == reference.has_value(), "base64 check disagrees");
    if (reference) Require(*plain->content == *reference, "base64 decoding differs");
  }
  return 0;
}
