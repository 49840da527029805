#include "mail/mime/attachment.h"

#include <algorithm>
#include <functional>

#include <vmime/contentDispositionField.hpp>
#include <vmime/contentHandler.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/header.hpp>
#include <vmime/parameter.hpp>
#include <vmime/bodyPart.hpp>
#include <vmime/bodyPartAttachment.hpp>
#include <vmime/utility/outputStream.hpp>

#include <cstdio>

#include "base/text.h"
#include "mail/mail_source.h"
#include "mail/mime/attachment_rule.h"
#include "mail/mime/decode.h"

namespace tollbook::mail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of a plain quoted parameter, read from its raw text
// (name="value"), unescaped and unfolded, blanks at either end of the value
// kept (vmime trims them). False when the parameter is not of that kind: an
// RFC 2231 one (name*=...), a token, or a value with RFC 2047 encoded words,
// which are left to vmime's decoding.
bool PlainQuotedValue(std::string_view raw, std::string_view name, std::string& value) {
  const auto equals = raw.find('=');
  if (equals == std::string_view::npos) return false;
  auto attribute = raw.substr(0, equals);
  while (!attribute.empty() && IsBlank(attribute.back())) attribute.remove_suffix(1);
  while (!attribute.empty() && IsBlank(attribute.front())) attribute.remove_prefix(1);
  if (!EqualsIgnoreCase(attribute, name)) return false;
  std::size_t i = equals + 1;
  while (i < raw.size() && IsBlank(raw[i])) ++i;
  if (i >= raw.size() || raw[i] != '"') return false;
  value.clear();
  for (++i; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < raw.size()) {
      value += raw[++i];
    } else if (c != '\r' && c != '\n') {  // a folded line goes on with its blank
      value += c;
    }
  }
  return value.find("=?") == std::string::npos;
}

// The text of an RFC 2047 word in UTF-8; the bytes as they stand when its
// charset is unknown.
std::string DecodedWord(const vmime::word& word) {
  const vmime::charset& charset = word.getCharset();
  if (charset == vmime::charset(vmime::charsets::US_ASCII) ||
      charset == vmime::charset(vmime::charsets::UTF_8)) {
    return word.getBuffer();
  }
  try {
    return word.getConvertedText(vmime::charset(vmime::charsets::UTF_8));
  } catch (const vmime::exception&) {
    return word.getBuffer();  // an unknown charset: the bytes as they stand
  }
}

// The 1-based line of the message file that holds offset.
std::size_t LineAt(MimeFileStream& source, std::size_t offset) {
  std::size_t line = 1;
  constexpr std::size_t kChunk = 1 << 16;
  for (std::size_t at = 0; at < offset; at += kChunk) {
    const std::string bytes = source.ReadRange(at, std::min(offset, at + kChunk));
    if (bytes.empty()) break;
    line += static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  }
  return line;
}

// The attachments of a parsed part by the rule of mime/attachment_rule.h.
void CollectAttachments(const vmime::shared_ptr<vmime::bodyPart>& part, const MimeParent& parent,
                        MimeFileStream& source,
                        std::vector<vmime::shared_ptr<const vmime::attachment>>& found) {
  const vmime::header& header = *part->getHeader();
  const MimePartRole role = ClassifyMimePart(header, parent, [&] {
    return !HeaderAttachmentName(header, [&source](std::size_t offset, std::size_t length) {
              return source.ReadRange(offset, offset + length);
            }).empty();
  });
  if (role == MimePartRole::kAttachment) {
    found.push_back(vmime::make_shared<vmime::bodyPartAttachment>(part));
  } else if (role == MimePartRole::kMultipart) {
    const auto body = part->getBody();
    for (std::size_t i = 0; i < body->getPartCount(); ++i) {
      CollectAttachments(body->getPartAt(i), MimeChildOf(header, i), source, found);
    }
  }
}

}  // namespace

MimeMessage ParseMimeMessage(vmime::shared_ptr<MimeFileStream> stream) {
  MimeMessage parsed;
  parsed.stream = std::move(stream);
  parsed.message = vmime::make_shared<vmime::message>();
  parsed.message->parse(parsed.stream, parsed.stream->Size());
  CollectAttachments(parsed.message, MimeParent{}, *parsed.stream, parsed.attachments);
  return parsed;
}

std::string HeaderAttachmentName(
    const vmime::header& header,
    const std::function<std::string(std::size_t offset, std::size_t length)>& rawText) {
  vmime::shared_ptr<const vmime::parameter> parameter;
  std::string_view parameterName;
  const auto disposition =
      header.findField<vmime::contentDispositionField>(vmime::fields::CONTENT_DISPOSITION);
  if (disposition && disposition->hasParameter("filename")) {
    parameter = disposition->findParameter("filename");
    parameterName = "filename";
  } else if (const auto type =
                 header.findField<vmime::contentTypeField>(vmime::fields::CONTENT_TYPE)) {
    parameter = type->findParameter("name");
    parameterName = "name";
  }
  if (!parameter) return {};
  if (parameter->getParsedLength() > 0) {
    const std::string raw = rawText(parameter->getParsedOffset(), parameter->getParsedLength());
    std::string value;
    if (PlainQuotedValue(raw, parameterName, value)) return value;
  }
  return DecodedWord(parameter->getValue());
}

std::string MimeAttachmentName(const vmime::attachment& attachment, MimeFileStream& source) {
  const auto header = attachment.getHeader();
  if (!header) return DecodedWord(attachment.getName());
  return HeaderAttachmentName(*header, [&source](std::size_t offset, std::size_t length) {
    return source.ReadRange(offset, offset + length);
  });
}

void WriteMimeAttachmentContent(const vmime::attachment& attachment, MimeFileStream& source,
                                std::ostream& out) {
  const auto data = attachment.getData();
  const auto header = attachment.getHeader();
  const std::string encoding =
      header ? MimeTransferEncoding(*header) : data->getEncoding().getName();
  const MimeRawBody raw = [&data](vmime::utility::outputStream& to) { data->extractRaw(to); };
  try {
    DecodeMimeBody(encoding, raw, out);
  } catch (const MimeDecodeRefusal& refusal) {
    std::size_t start = 0;
    if (const auto part = vmime::dynamicCast<const vmime::bodyPart>(attachment.getPart())) {
      start = part->getBody()->getParsedOffset();
    }
    throw MessageError("line " + std::to_string(LineAt(source, start + refusal.offset)) + ": " +
                       refusal.why);
  }
}

}  // namespace tollbook::mail
