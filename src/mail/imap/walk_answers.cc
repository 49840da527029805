#include "mail/imap/walk_answers.h"

#include "base/text.h"
#include "mail/imap/body_structure.h"
#include "mail/imap/errors.h"
#include "mail/imap/fetch_items.h"

namespace tollbook::mail {
namespace {

// The response code named name (as UIDVALIDITY and PERMANENTFLAGS come, in
// an untagged OK) of an answer, nullopt when none.
std::optional<std::string> ResponseCode(const ImapAnswer& answer, std::string_view name) {
  for (const auto& response : answer.untagged) {
    if (response.status == "OK" && response.CodeName() == name) return response.CodeArguments();
  }
  return std::nullopt;
}

}  // namespace

unsigned long UidValidityOf(const ImapAnswer& answer) {
  const auto code = ResponseCode(answer, "UIDVALIDITY");
  if (!code) return 0;
  ImapItem number;
  number.text = *code;
  const auto value = number.Number();
  return value && *value <= 0xFFFFFFFFu ? static_cast<unsigned long>(*value) : 0;
}

bool KeepsHandledKeyword(const ImapAnswer& answer) {
  const auto code = ResponseCode(answer, "PERMANENTFLAGS");
  if (!code) return false;
  std::string_view flags = *code;
  while (!flags.empty()) {
    const auto end = flags.find_first_of(" ()");
    const std::string_view flag = flags.substr(0, end);
    if (flag == "\\*" || EqualsIgnoreCase(flag, kImapHandledKeyword)) return true;
    flags = end == std::string_view::npos ? std::string_view() : flags.substr(end + 1);
  }
  return false;
}

std::vector<ImapMessageInfo> MessagesOf(const ImapAnswer& answer) {
  std::vector<ImapMessageInfo> messages;
  for (const auto& response : answer.untagged) {
    const ImapItem* attributes = FetchAttributes(response);
    if (attributes == nullptr) continue;
    const auto uid = FetchUid(*attributes);
    if (!uid) continue;
    ImapMessageInfo message;
    message.uid = std::to_string(*uid);
    for (std::size_t i = 0; i + 1 < attributes->items.size(); i += 2) {
      const ImapItem& name = attributes->items[i];
      const ImapItem& value = attributes->items[i + 1];
      if (name.Is("FLAGS") && value.IsList()) {
        for (const auto& flag : value.items) {
          if (flag.Is("\\Deleted")) message.deleted = true;
          if (flag.Is(kImapHandledKeyword)) message.flaggedByTollbook = true;
        }
      } else if (name.Is("BODYSTRUCTURE")) {
        try {
          message.structure = std::make_shared<const ImapBodyPart>(ParseBodyStructure(value));
        } catch (const ImapError& e) {
          throw ImapError(ImapGrade::kMessage, "UID " + message.uid + ": " + e.what());
        }
      } else if (name.kind == ImapItem::Kind::kAtom && FetchSectionName(name.text) &&
                 (value.IsString() || value.IsNil())) {
        message.topLevelFields = value.text;
      }
    }
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace tollbook::mail
