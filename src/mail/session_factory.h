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
// path for a Maildir++ tree ("~" or "~/..." at the start of the path is the
// home directory); "imap://..." or "imaps://..." for an IMAP server. Schemes
// are matched ignoring ASCII case. Nothing is opened until Login(). Throws
// SettingError for a location it cannot use (an unknown scheme, a malformed
// IMAP location or time-out).
std::unique_ptr<Session> CreateSession(std::string_view location, const SessionOptions& options = {});

}  // namespace tollbook::mail
