#include "mail/modified_utf7.h"

#include <cstdint>

namespace tollbook::mail {
namespace {

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == ',') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> DecodeModifiedUtf7(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    if (c != '&') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t end = raw.find('-', i + 1);
    if (end == std::string_view::npos) return std::nullopt;
    if (end == i + 1) {
      out += '&';
      i = end + 1;
      continue;
    }
    std::uint32_t bits = 0;
    int count = 0;
    std::uint32_t high = 0;  // a pending high surrogate
    std::size_t units = 0;
    for (std::size_t j = i + 1; j < end; ++j) {
      const int value = Base64Value(raw[j]);
      if (value < 0) return std::nullopt;
      bits = (bits << 6) | static_cast<std::uint32_t>(value);
      count += 6;
      if (count >= 16) {
        count -= 16;
        const std::uint32_t unit = (bits >> count) & 0xFFFF;
        ++units;
        if (high != 0) {
          if (unit < 0xDC00 || unit > 0xDFFF) return std::nullopt;
          AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
          high = 0;
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
          high = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          return std::nullopt;
        } else {
          // Printable ASCII must not be encoded.
          if (unit >= 0x20 && unit <= 0x7E) return std::nullopt;
          AppendUtf8(out, unit);
        }
      }
    }
    // Left-over bits must be fewer than six, and zero.
    if (high != 0 || units == 0 || count >= 6 || (bits & ((1u << count) - 1)) != 0)
      return std::nullopt;
    i = end + 1;
  }
  return out;
}

}  // namespace tollbook::mail
