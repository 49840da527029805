#include "mail/session_factory.h"

#include <cstdlib>

#include "mail/imap/imap.h"
#include "mail/maildir/maildir.h"

namespace tollbook::mail {

std::string DefaultMailboxLocation() {
  for (const char* name : {"TOLLBOOK_MAILBOX", "MAILDIR"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") + "/Maildir";
}

std::unique_ptr<Session> CreateSession(std::string_view location) {
  if (location.starts_with("imap://") || location.starts_with("imaps://")) {
    return CreateImapSession(location);
  }
  if (location.starts_with("maildir:")) {
    location.remove_prefix(8);
    if (location.starts_with("//")) location.remove_prefix(2);
    return CreateMaildirSession(std::string(location));
  }
  const auto colon = location.find("://");
  if (colon != std::string_view::npos) {
    throw LoginError("unknown mailbox scheme in " + std::string(location.substr(0, colon + 3)) +
                     "... (use maildir:PATH, imap:// or imaps://)");
  }
  return CreateMaildirSession(std::string(location));
}

}  // namespace tollbook::mail
