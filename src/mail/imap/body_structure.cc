#include "mail/imap/body_structure.h"

#include <cctype>

#include "mail/imap/errors.h"

namespace tollbook::mail {
namespace {

[[noreturn]] void Malformed(const std::string& why) {
  throw ImapError(ImapGrade::kMessage, "the BODYSTRUCTURE cannot be read: " + why);
}

std::string Lower(const ImapItem& item, const char* what) {
  if (item.IsList() || item.streamed) Malformed(std::string("the ") + what + " is not a string");
  std::string text = item.text;
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

ImapBodyPart ParseBodyStructure(const ImapItem& value) {
  if (!value.IsList() || value.items.empty()) Malformed("a part is not a list");
  const auto& items = value.items;
  ImapBodyPart part;
  if (items[0].IsList()) {
    part.type = "multipart";
    std::size_t i = 0;
    for (; i < items.size() && items[i].IsList(); ++i)
      part.parts.push_back(ParseBodyStructure(items[i]));
    if (i == items.size()) Malformed("a multipart has no subtype");
    part.subtype = Lower(items[i], "multipart subtype");
    return part;
  }
  if (items.size() < 7)
    Malformed("a part has " + std::to_string(items.size()) + " fields, not 7 or more");
  part.type = Lower(items[0], "media type");
  part.subtype = Lower(items[1], "media subtype");
  const auto size = items[6].Number();
  if (!size) Malformed("a part's size is not a number");
  if (part.type != "message") part.size = size;
  return part;
}

}  // namespace tollbook::mail
