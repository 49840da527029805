#include "mail/imap/folder_names.h"

#include <cstdint>

#include "base/text.h"
#include "mail/modified_utf7.h"

namespace tollbook::mail {

std::string EscapeFolderText(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) {
      std::uint32_t code = 0;
      if (const std::size_t length = Utf8SequenceAt(name, i, code); length > 0) {
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
