#include "mail/mime/attachment.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include <vmime/contentDispositionField.hpp>
#include <vmime/contentHandler.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/header.hpp>
#include <vmime/parameter.hpp>
#include <vmime/attachmentHelper.hpp>
#include <vmime/bodyPart.hpp>
#include <vmime/utility/outputStream.hpp>

#include <cstdio>

#include "base/text.h"
#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What a byte is in base64 text: the value of a letter (0 to 63), or one of
// the kinds below. One table serves the check and the decoder.
constexpr unsigned char kBase64Blank = 64;    // blanks and line ends, skipped
constexpr unsigned char kBase64Padding = 65;  // '='
constexpr unsigned char kBase64Other = 66;    // anything else

unsigned char Base64Value(vmime::byte_t c) {
  static const std::array<unsigned char, 256> values = [] {
    std::array<unsigned char, 256> table{};
    table.fill(kBase64Other);
    const std::string_view letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < letters.size(); ++i) {
      table[static_cast<unsigned char>(letters[i])] = static_cast<unsigned char>(i);
    }
    for (vmime::byte_t blank : {' ', '\t', '\r', '\n'}) table[blank] = kBase64Blank;
    table['='] = kBase64Padding;
    return table;
  }();
  return values[c];
}

std::string ByteText(vmime::byte_t c) {
  char text[16];
  if (c > ' ' && c < 0x7F) {
    std::snprintf(text, sizeof text, "'%c'", c);
  } else {
    std::snprintf(text, sizeof text, "\\x%02X", c);
  }
  return text;
}

// Base64 text that cannot be decoded without losing data, and where.
struct Base64Refusal {
  std::size_t offset;  // in the encoded text
  std::string why;
};

// Checks base64 text as it streams past. Blanks and line ends are skipped,
// as RFC 2045 says, and padding may stand anywhere (the decoder stops at it).
// Refused with a Base64Refusal: any other byte outside the alphabet, a
// letter after padding (the decoder would drop it), and text that ends
// inside a group of four (the decoder drops the broken group).
class Base64Check : public vmime::utility::outputStream {
 public:
  void flush() override {}

  void Finish() const {
    if (symbols_ % 4 != 0) {
      throw Base64Refusal{lastSymbol_, "the base64 text ends inside a group of four"};
    }
  }

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char value = Base64Value(data[i]);
      if (value == kBase64Blank) continue;
      ++symbols_;
      lastSymbol_ = offset_ + i;
      if (value < 64 && !padded_) continue;
      if (value == kBase64Padding) {
        padded_ = true;
      } else if (value == kBase64Other) {
        throw Base64Refusal{offset_ + i, "byte " + ByteText(data[i]) + " is not base64"};
      } else {
        throw Base64Refusal{offset_ + i,
                            "byte " + ByteText(data[i]) + " follows the base64 padding '='"};
      }
    }
    offset_ += count;
  }

 private:
  std::size_t offset_ = 0;
  std::size_t symbols_ = 0;  // letters and padding
  std::size_t lastSymbol_ = 0;
  bool padded_ = false;
};

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

// Refuses base64 content that would not decode to the sender's bytes, before
// anything of it is written.
void CheckBase64(const vmime::attachment& attachment, const vmime::contentHandler& data,
                 MimeFileStream& source) {
  Base64Check check;
  try {
    data.extractRaw(check);
    check.Finish();
  } catch (const Base64Refusal& refusal) {
    std::size_t start = 0;
    if (const auto part = vmime::dynamicCast<const vmime::bodyPart>(attachment.getPart())) {
      start = part->getBody()->getParsedOffset();
    }
    throw MessageError("line " + std::to_string(LineAt(source, start + refusal.offset)) + ": " +
                       refusal.why);
  }
}

// Collects what it is given into blocks before they go to out: decoders
// write a few bytes at a time, and a stream write for each costs more than
// the decoding.
class BlockOutput : public vmime::utility::outputStream {
 public:
  explicit BlockOutput(std::ostream& out) : out_(out) { block_.reserve(kBlockBytes); }

  void Append(const char* data, std::size_t count) {
    if (block_.size() + count > kBlockBytes) {
      out_.write(block_.data(), static_cast<std::streamsize>(block_.size()));
      block_.clear();
    }
    if (count >= kBlockBytes) {
      out_.write(data, static_cast<std::streamsize>(count));
    } else {
      block_.append(data, count);
    }
  }

  void flush() override {
    if (!block_.empty()) out_.write(block_.data(), static_cast<std::streamsize>(block_.size()));
    block_.clear();
    out_.flush();
  }

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    Append(reinterpret_cast<const char*>(data), count);
  }

 private:
  static constexpr std::size_t kBlockBytes = 1 << 16;
  std::ostream& out_;
  std::string block_;
};

// Decodes base64 text that Base64Check let through: groups of four letters,
// then at most one group cut short by padding ("XY==" gives one byte, "XYZ="
// two, "X===" none), after which only padding and blanks may stand. The same
// bytes as vmime's decoder gives, which costs over a hundred instructions a
// byte where this costs a few.
class Base64Decode : public vmime::utility::outputStream {
 public:
  explicit Base64Decode(BlockOutput& out) : out_(out) {}

  void flush() override { out_.flush(); }

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    char decoded[3 * 1024];
    std::size_t length = 0;
    for (std::size_t i = 0; i < count && !ended_; ++i) {
      const unsigned char value = Base64Value(data[i]);
      if (value < 64) {
        group_ = (group_ << 6) | value;
        if (++symbols_ == 4) {
          decoded[length++] = static_cast<char>(group_ >> 16);
          decoded[length++] = static_cast<char>(group_ >> 8);
          decoded[length++] = static_cast<char>(group_);
          group_ = 0;
          symbols_ = 0;
          if (length == sizeof decoded) {
            out_.Append(decoded, length);
            length = 0;
          }
        }
      } else if (value == kBase64Padding) {
        // length is at most sizeof decoded - 3 here: room for two more.
        if (symbols_ == 2) decoded[length++] = static_cast<char>(group_ >> 4);
        if (symbols_ == 3) {
          decoded[length++] = static_cast<char>(group_ >> 10);
          decoded[length++] = static_cast<char>(group_ >> 2);
        }
        ended_ = true;
      }
    }
    out_.Append(decoded, length);
  }

 private:
  BlockOutput& out_;
  std::uint32_t group_ = 0;
  int symbols_ = 0;
  bool ended_ = false;
};

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

}  // namespace

MimeMessage ParseMimeMessage(vmime::shared_ptr<MimeFileStream> stream) {
  MimeMessage parsed;
  parsed.stream = std::move(stream);
  parsed.message = vmime::make_shared<vmime::message>();
  parsed.message->parse(parsed.stream, parsed.stream->Size());
  parsed.attachments = vmime::attachmentHelper::findAttachmentsInMessage(parsed.message);
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
  BlockOutput output(out);
  if (EqualsIgnoreCase(data->getEncoding().getName(), vmime::encodingTypes::BASE64)) {
    CheckBase64(attachment, *data, source);
    Base64Decode decode(output);
    data->extractRaw(decode);
  } else {
    data->extract(output);
  }
  output.flush();
}

}  // namespace tollbook::mail
