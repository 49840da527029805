// The IMAP source: a mailbox on an IMAP server read through the mail source
// interface. The other headers of this folder are private to it.
#pragma once

#include <memory>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::mail {

// A session on the server an "imap://" or "imaps://" URL names (the scheme in
// any case). Nothing is opened until Login(). Throws SettingError for a URL it
// cannot use.
std::unique_ptr<Session> CreateImapSession(std::string_view url, const SessionOptions& options = {});

}  // namespace tollbook::mail
