#include "mail/imap/fetch_items.h"

#include <cctype>

#include "base/text.h"

namespace tollbook::mail {

const ImapItem* FetchAttributes(const ImapResponse& response) {
  if (!response.Untagged() || response.items.size() != 3 || !response.items[1].Is("FETCH") ||
      !response.items[2].IsList()) {
    return nullptr;
  }
  return &response.items[2];
}

const ImapItem* FetchValue(const ImapItem& attributes, std::string_view name) {
  for (std::size_t i = 0; i + 1 < attributes.items.size(); i += 2) {
    if (attributes.items[i].Is(name)) return &attributes.items[i + 1];
  }
  return nullptr;
}

std::optional<unsigned long> FetchUid(const ImapItem& attributes) {
  const ImapItem* value = FetchValue(attributes, "UID");
  if (value == nullptr || value->kind != ImapItem::Kind::kAtom) return std::nullopt;
  const auto number = value->Number();
  if (!number || *number == 0 || *number > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<unsigned long>(*number);
}

std::optional<std::string> FetchSectionName(std::string_view item) {
  if (item.size() < 6 || !EqualsIgnoreCase(item.substr(0, 5), "BODY[")) return std::nullopt;
  const auto close = item.rfind(']');
  if (close == std::string_view::npos || close < 5) return std::nullopt;
  std::string_view inside = item.substr(5, close - 5);
  inside = inside.substr(0, inside.find(' '));
  std::string numbers;
  while (!inside.empty() && std::isdigit(static_cast<unsigned char>(inside[0]))) {
    const auto dot = inside.find('.');
    const std::string_view number = inside.substr(0, dot);
    if (number.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    numbers += (numbers.empty() ? "" : ".") + std::string(number);
    inside = dot == std::string_view::npos ? std::string_view() : inside.substr(dot + 1);
  }
  if (inside.empty()) return numbers.empty() ? std::nullopt : std::optional(numbers);
  if (!numbers.empty()) {
    if (EqualsIgnoreCase(inside, "MIME")) return numbers + ".MIME";
    return std::nullopt;
  }
  if (EqualsIgnoreCase(inside, "HEADER.FIELDS")) return std::string("HEADER.FIELDS");
  if (EqualsIgnoreCase(inside, "TEXT")) return std::string("TEXT");
  return std::nullopt;
}

}  // namespace tollbook::mail
