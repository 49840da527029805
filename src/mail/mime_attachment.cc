#include "mail/mime_attachment.h"

#include <vmime/contentDispositionField.hpp>
#include <vmime/contentHandler.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/header.hpp>
#include <vmime/parameter.hpp>
#include <vmime/utility/outputStreamAdapter.hpp>

#include "accounting/text.h"

namespace tollbook::mail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of a plain quoted parameter, read from its raw text
// (name="value"), unescaped and unfolded. False when the parameter is not of
// that kind: an RFC 2231 one (name*=...), a token, or a value with RFC 2047
// encoded words, which are left to vmime's decoding.
bool PlainQuotedValue(std::string_view raw, std::string_view name, std::string& value) {
  const auto equals = raw.find('=');
  if (equals == std::string_view::npos) return false;
  auto attribute = raw.substr(0, equals);
  while (!attribute.empty() && IsBlank(attribute.back())) attribute.remove_suffix(1);
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

}  // namespace

std::string MimeAttachmentName(const vmime::attachment& attachment, MimeFileStream& source) {
  const auto header = attachment.getHeader();
  if (!header) return DecodedWord(attachment.getName());
  vmime::shared_ptr<const vmime::parameter> parameter;
  std::string_view parameterName;
  const auto disposition =
      header->findField<vmime::contentDispositionField>(vmime::fields::CONTENT_DISPOSITION);
  if (disposition && disposition->hasParameter("filename")) {
    parameter = disposition->findParameter("filename");
    parameterName = "filename";
  } else if (const auto type =
                 header->findField<vmime::contentTypeField>(vmime::fields::CONTENT_TYPE)) {
    parameter = type->findParameter("name");
    parameterName = "name";
  }
  if (!parameter) return {};
  if (parameter->getParsedLength() > 0) {
    const std::string raw = source.ReadRange(
        parameter->getParsedOffset(), parameter->getParsedOffset() + parameter->getParsedLength());
    std::string value;
    if (PlainQuotedValue(raw, parameterName, value)) return value;
  }
  return DecodedWord(parameter->getValue());
}

void WriteMimeAttachmentContent(const vmime::attachment& attachment, std::ostream& out) {
  vmime::utility::outputStreamAdapter adapter(out);
  attachment.getData()->extract(adapter);
  adapter.flush();
}

}  // namespace tollbook::mail
