// Opens the mail session that a mailbox location names.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::mail {

// The mailbox to use when none is given: $TOLLBOOK_MAILBOX, else $MAILDIR,
// else ~/Maildir.
std::string DefaultMailboxLocation();

// Creates the session for a location: "maildir:PATH" or a plain directory
// path for a Maildir++ tree; "imap://..." or "imaps://..." for an IMAP server.
// Nothing is opened until Login(). Throws LoginError for a location it cannot
// use (an unknown scheme).
std::unique_ptr<Session> CreateSession(std::string_view location);

}  // namespace tollbook::mail
