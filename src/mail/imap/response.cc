#include "mail/imap/response.h"

#include <cctype>
#include <charconv>

#include "base/text.h"
#include "mail/imap/folder_names.h"

namespace tollbook::mail {

bool ImapItem::Is(std::string_view word) const {
  return kind == Kind::kAtom && EqualsIgnoreCase(text, word);
}

std::optional<std::uint64_t> ImapItem::Number() const {
  if ((kind != Kind::kAtom && kind != Kind::kString) || text.empty() || streamed)
    return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string ImapResponse::CodeName() const {
  std::string name = code.substr(0, code.find(' '));
  for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string ImapResponse::CodeArguments() const {
  const auto space = code.find(' ');
  return space == std::string::npos ? std::string() : code.substr(space + 1);
}

std::string ShownServerText(std::string_view text) {
  constexpr std::size_t kLongest = 200;
  std::string shown = EscapeFolderText(text.substr(0, kLongest));
  if (text.size() > kLongest) shown += "...";
  return shown;
}

}  // namespace tollbook::mail
