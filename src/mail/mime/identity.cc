#include "mail/mime/identity.h"

#include "base/text.h"
#include "mail/mime/header_fields.h"

namespace tollbook::mail {
namespace {

// The field's value: what follows the colon, its line breaks unfolded and
// the blanks at both ends dropped.
std::string FieldValue(std::string_view field) {
  const auto colon = field.find(':');
  if (colon == std::string_view::npos) return "";
  std::string value;
  for (const char c : field.substr(colon + 1)) {
    if (c == '\r' || c == '\n') continue;
    value += c == '\t' ? ' ' : c;
  }
  const auto first = value.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace

void ReadIdentityFields(std::string_view block, MessageIdentity& identity) {
  bool haveId = false, haveDate = false;
  for (const auto& field : SplitHeaderFields(block).fields) {
    if (!haveId && EqualsIgnoreCase(field.name, "Message-ID")) {
      identity.message_id = FieldValue(block.substr(field.begin, field.end - field.begin));
      haveId = true;
    } else if (!haveDate && EqualsIgnoreCase(field.name, "Date")) {
      identity.date = FieldValue(block.substr(field.begin, field.end - field.begin));
      haveDate = true;
    }
  }
}

}  // namespace tollbook::mail
