#include "mail/imap/folder_names.h"

#include <cstdint>

#include "mail/modified_utf7.h"

namespace tollbook::mail {
namespace {

// The length of the valid UTF-8 sequence at text[at], 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string EscapeFolderText(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) {
      if (const std::size_t length = Utf8Length(name, i); length > 0) {
        out.append(name.substr(i, length));
        i += length;
        continue;
      }
    }
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F || c >= 0x80) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

std::string ShownImapFolderName(std::string_view raw) {
  if (auto decoded = DecodeModifiedUtf7(raw)) return EscapeFolderText(*decoded);
  return EscapeFolderText(raw);
}

std::string ImapMailboxArgument(std::string_view raw, bool literalPlus) {
  bool quotable = raw.size() < 1024;
  for (const char c : raw) {
    const unsigned char u = static_cast<unsigned char>(c);
    quotable = quotable && u >= 0x20 && u <= 0x7E;
  }
  if (!quotable) {
    return "{" + std::to_string(raw.size()) + (literalPlus ? "+" : "") + "}\r\n" + std::string(raw);
  }
  std::string out = "\"";
  for (const char c : raw) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::optional<std::string> PersonalNamespacePrefix(std::string_view line) {
  // "* NAMESPACE " then the personal namespaces: NIL or (("prefix" "sep")...).
  std::size_t at = line.find("((");
  const std::size_t nil = line.find_first_not_of(' ', line.find(' ', 2));
  if (at == std::string_view::npos || (nil != std::string_view::npos && nil < at))
    return std::nullopt;
  at += 2;
  while (at < line.size() && line[at] == ' ') ++at;
  if (at >= line.size() || line[at] != '"') return std::nullopt;
  std::string prefix;
  for (++at; at < line.size(); ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) {
      prefix += line[++at];
    } else if (line[at] == '"') {
      return prefix;
    } else {
      prefix += line[at];
    }
  }
  return std::nullopt;
}

}  // namespace tollbook::mail
