// One IMAP message of a walk and its first attachment.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vmime/net/message.hpp>

#include "mail/mail_source.h"

namespace tollbook::mail {

// A message whose UID, FLAGS and BODYSTRUCTURE (with the top-level
// Content-Type, Content-Disposition, Content-ID, Content-Location and
// Content-Transfer-Encoding fields) are already fetched. markDeleted is
// called with the message's UID by Delete(). where names the folder for
// messages ("INBOX on imaps://host:993").
std::unique_ptr<Message> MakeImapMessage(std::shared_ptr<vmime::net::message> message,
                                         std::string where,
                                         std::function<void(const std::string& uid)> markDeleted);

// The header fields that decide whether the message itself is an attachment.
const std::vector<std::string>& ImapTopLevelFields();

}  // namespace tollbook::mail
