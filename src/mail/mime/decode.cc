#include "mail/mime/decode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vmime/encoding.hpp>
#include <vmime/headerField.hpp>

#include "base/text.h"
#include "mail/mail_source.h"
#include "mail/mime/uudecode.h"

namespace tollbook::mail {
namespace {

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

// Checks base64 text as it streams past. Blanks and line ends are skipped,
// as RFC 2045 says, and padding may stand anywhere (the decoder stops at it).
// Refused: any other byte outside the alphabet, a letter after padding (the
// decoder would drop it), and text that ends inside a group of four (the
// decoder drops the broken group).
class Base64Check : public vmime::utility::outputStream {
 public:
  void flush() override {}

  void Finish() const {
    if (symbols_ % 4 != 0) {
      throw MimeDecodeRefusal{lastSymbol_, "the base64 text ends inside a group of four"};
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
        throw MimeDecodeRefusal{offset_ + i, "byte " + MimeByteText(data[i]) + " is not base64"};
      } else {
        throw MimeDecodeRefusal{offset_ + i,
                                "byte " + MimeByteText(data[i]) + " follows the base64 padding '='"};
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

// Restores the wire form of lines: each LF that does not follow a CR becomes
// CR LF; everything else passes unchanged.
class CanonicalLineEnds : public vmime::utility::outputStream {
 public:
  explicit CanonicalLineEnds(vmime::utility::outputStream& out) : out_(out) {}
  void flush() override {}

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    const vmime::byte_t* from = data;
    const vmime::byte_t* const end = data + count;
    for (const vmime::byte_t* p = data; p != end;) {
      const auto* lf = static_cast<const vmime::byte_t*>(std::memchr(p, '\n', end - p));
      if (lf == nullptr) break;
      const bool hasCr = lf != data ? lf[-1] == '\r' : lastWasCr_;
      if (!hasCr) {
        out_.write(from, lf - from);
        out_.write("\r", 1);
        from = lf;
      }
      p = lf + 1;
    }
    out_.write(from, end - from);
    if (count > 0) lastWasCr_ = end[-1] == '\r';
  }

 private:
  vmime::utility::outputStream& out_;
  bool lastWasCr_ = false;
};

int HexValue(vmime::byte_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes quoted-printable text whose line breaks are CR LF (after
// CanonicalLineEnds): "=XX" is the byte XX (either case), "=" at the end
// of a line (blanks after it allowed) is a soft line break, and blanks at
// the end of a line are dropped, as RFC 2045 asks. An "=" that starts
// neither stays as it stands, with what follows it.
class QuotedPrintableDecode : public vmime::utility::outputStream {
 public:
  explicit QuotedPrintableDecode(BlockOutput& out) : out_(out) {}
  void flush() override {}

  // The text's last line ends at the boundary's line break.
  void Finish() {
    if (state_ == State::kEqualsHex) Emit(pending_.data(), pending_.size());
    if (state_ == State::kText && cr_) {
      Emit(pending_.data(), pending_.size());
      Emit("\r", 1);
    }
    pending_.clear();
    state_ = State::kText;
    cr_ = false;
  }

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) Byte(data[i]);
  }

 private:
  enum class State { kText, kEquals, kEqualsHex, kEqualsBlanks, kEqualsCr };

  void Emit(const char* data, std::size_t count) { out_.Append(data, count); }

  void Byte(vmime::byte_t c) {
    switch (state_) {
      case State::kText:
        if (cr_) {
          cr_ = false;
          if (c == '\n') {  // a hard line break: the blanks before it go
            pending_.clear();
            Emit("\r\n", 2);
            return;
          }
          Emit(pending_.data(), pending_.size());
          pending_.clear();
          Emit("\r", 1);
        }
        if (c == ' ' || c == '\t') {
          pending_ += static_cast<char>(c);
        } else if (c == '\r') {
          cr_ = true;
        } else {
          Emit(pending_.data(), pending_.size());
          pending_.clear();
          if (c == '=') {
            state_ = State::kEquals;
            pending_ = "=";
          } else {
            const char text = static_cast<char>(c);
            Emit(&text, 1);
          }
        }
        return;
      case State::kEquals:
        if (HexValue(c) >= 0) {
          pending_ += static_cast<char>(c);
          state_ = State::kEqualsHex;
        } else if (c == ' ' || c == '\t') {
          pending_ += static_cast<char>(c);
          state_ = State::kEqualsBlanks;
        } else if (c == '\r') {
          state_ = State::kEqualsCr;
        } else {
          Literal(c);
        }
        return;
      case State::kEqualsHex:
        if (HexValue(c) >= 0) {
          const char byte = static_cast<char>(HexValue(static_cast<vmime::byte_t>(pending_[1])) * 16 + HexValue(c));
          Emit(&byte, 1);
          pending_.clear();
          state_ = State::kText;
        } else {
          Literal(c);
        }
        return;
      case State::kEqualsBlanks:
        if (c == ' ' || c == '\t') {
          pending_ += static_cast<char>(c);
        } else if (c == '\r') {
          state_ = State::kEqualsCr;
        } else {
          Literal(c);
        }
        return;
      case State::kEqualsCr:
        if (c == '\n') {  // a soft line break
          pending_.clear();
          state_ = State::kText;
        } else {
          pending_ += '\r';
          Literal(c);
        }
        return;
    }
  }

  // The "=" sequence in pending_ was no escape: it stands as it is, and c is
  // read as text.
  void Literal(vmime::byte_t c) {
    Emit(pending_.data(), pending_.size());
    pending_.clear();
    state_ = State::kText;
    Byte(c);
  }

  BlockOutput& out_;
  State state_ = State::kText;
  std::string pending_;  // blanks not yet known to be inside the line, or an "=" sequence
  bool cr_ = false;      // a CR was read in kText, its LF not yet
};

bool IsIdentity(std::string_view encoding) {
  return encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

class LineCounter : public vmime::utility::outputStream {
 public:
  explicit LineCounter(std::size_t offset) : remaining_(offset) {}
  void flush() override {}
  std::size_t Line() const { return line_; }

 protected:
  void writeImpl(const vmime::byte_t* const data, const std::size_t count) override {
    const std::size_t n = std::min(count, remaining_);
    line_ += static_cast<std::size_t>(std::count(data, data + n, '\n'));
    remaining_ -= n;
  }

 private:
  std::size_t remaining_;
  std::size_t line_ = 1;
};

}  // namespace

std::string MimeByteText(unsigned char c) {
  char text[16];
  if (c > ' ' && c < 0x7F) {
    std::snprintf(text, sizeof text, "'%c'", c);
  } else {
    std::snprintf(text, sizeof text, "\\x%02X", c);
  }
  return text;
}

std::string MimeTransferEncoding(const vmime::header& header) {
  const auto field = header.findField(vmime::fields::CONTENT_TRANSFER_ENCODING);
  if (!field) return "7bit";
  const auto value = vmime::dynamicCast<const vmime::encoding>(field->getValue());
  std::string name = value ? value->getName() : field->getValue()->generate();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return name.empty() ? "7bit" : name;
}

bool IsUuencoding(std::string_view encoding) {
  return EqualsIgnoreCase(encoding, "x-uuencode") || EqualsIgnoreCase(encoding, "uuencode") ||
         EqualsIgnoreCase(encoding, "x-uue");
}

void DecodeMimeBody(std::string_view encoding, const MimeRawBody& raw, std::ostream& out) {
  BlockOutput output(out);
  if (EqualsIgnoreCase(encoding, "base64")) {
    Base64Check check;
    raw(check);
    check.Finish();
    Base64Decode decode(output);
    raw(decode);
  } else if (IsUuencoding(encoding)) {
    UudecodeStream check(nullptr);
    raw(check);
    check.Finish();
    UudecodeStream decode(&output);
    raw(decode);
    decode.Finish();
  } else if (EqualsIgnoreCase(encoding, "quoted-printable")) {
    QuotedPrintableDecode decode(output);
    CanonicalLineEnds lines(decode);
    raw(lines);
    decode.Finish();
  } else if (EqualsIgnoreCase(encoding, "binary")) {
    raw(output);
  } else if (IsIdentity(encoding)) {
    CanonicalLineEnds lines(output);
    raw(lines);
  } else {
    throw MessageError("the content transfer encoding \"" + std::string(encoding) + "\" is not known");
  }
  output.flush();
}

std::size_t MimeLineAt(const MimeRawBody& raw, std::size_t offset) {
  LineCounter counter(offset);
  raw(counter);
  return counter.Line();
}

}  // namespace tollbook::mail
