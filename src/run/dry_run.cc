#include "run/dry_run.h"

#include "base/text.h"

namespace tollbook {

std::int64_t DryRun(mail::Account& account, int folderIndex, bool deleteMessages, std::ostream& out,
                    std::string* step) {
  std::string scratch;
  std::string& where = step != nullptr ? *step : scratch;
  where = "opening the folder";
  auto folder = folderIndex > 1 ? account.AllFolders()->Item(folderIndex) : account.Mailbox();
  where = "opening the folder " + folder->Name();
  auto messages = folder->Messages(false);
  std::int64_t count = 0;
  for (std::int64_t walked = 1;; ++walked) {
    where = "reading message " + std::to_string(walked);
    auto message = messages->Next();
    if (!message) break;
    where = "message " + std::to_string(walked) + " (" + message->Describe() + ")";
    message->SetConvertAttachments(true);
    auto attachments = message->Attachments();
    if (attachments->Count() <= 0) continue;
    auto attachment = attachments->Item(1);
    const std::string name = attachment->DisplayName();
    if (!EqualsIgnoreCase(name, "acct")) continue;
    ++count;
    const mail::MessageIdentity identity = message->Identity();
    const std::uint64_t size = attachment->DecodedSize();
    out << PrintableText(identity.store) << ' '
        << (identity.messageId.empty() ? std::string("-") : PrintableText(identity.messageId))
        << " \"" << PrintableText(name) << "\" " << size << " bytes"
        << (deleteMessages ? ", would be deleted" : "") << '\n';
  }
  out << count << (count == 1 ? " accounting file" : " accounting files") << " would be collected";
  if (deleteMessages)
    out << " and " << (count == 1 ? "its message" : "their " + std::to_string(count) + " messages")
        << " deleted";
  out << ".\n";
  out.flush();
  return count;
}

}  // namespace tollbook
