// A dry run: the walk of a processing run without its effects. It lists what
// a run with the same settings would collect and changes nothing: no file is
// written, no message is deleted or flagged, the folder is opened read-only.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook {

// Walks the folder at folderIndex (as RunSettings::folderIndex chooses it: 0,
// 1 or -1 the mailbox) and writes to out, for each message whose first
// attachment is named "acct", one line:
//   STORE-ID MESSAGE-ID "NAME" SIZE bytes
// (MESSAGE-ID "-" when the message has none; ", would be deleted" after it
// when deleteMessages is set), then the count:
//   "3 accounting files would be collected." (with deleteMessages: "... and
//   their 3 messages deleted."). SIZE is the decoded size, which takes a read
// of the attachment. Throws MailError; step (when given) then says what the
// walk was doing.
std::int64_t DryRun(mail::Account& account, int folderIndex, bool deleteMessages, std::ostream& out,
                    std::string* step = nullptr);

}  // namespace tollbook
