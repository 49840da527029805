#include "mail/session_factory.h"

#include <cstdlib>

#include "base/text.h"
#include "mail/imap/imap.h"
#include "mail/maildir/maildir.h"

namespace tollbook::mail {
namespace {

// path with a leading "~" or "~/" replaced by $HOME.
std::string ExpandHome(std::string_view path) {
  if (path != "~" && !path.starts_with("~/")) return std::string(path);
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    throw SettingError("cannot expand ~ in the mailbox location " + std::string(path) +
                       ": HOME is not set");
  }
  return std::string(home) + std::string(path.substr(1));
}

bool HasScheme(std::string_view location, std::string_view scheme) {
  return location.size() >= scheme.size() &&
         EqualsIgnoreCase(location.substr(0, scheme.size()), scheme);
}

}  // namespace

std::string DefaultMailboxLocation() {
  for (const char* name : {"TOLLBOOK_MAILBOX", "MAILDIR"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") + "/Maildir";
}

std::unique_ptr<Session> CreateSession(std::string_view location, const SessionOptions& options) {
  if (HasScheme(location, "imap://") || HasScheme(location, "imaps://")) {
    return CreateImapSession(location, options);
  }
  if (HasScheme(location, "maildir:")) {
    location.remove_prefix(8);
    if (location.starts_with("//")) location.remove_prefix(2);
    return CreateMaildirSession(ExpandHome(location), options.trace);
  }
  const auto colon = location.find("://");
  if (colon != std::string_view::npos) {
    throw SettingError("unknown mailbox scheme in " + std::string(location.substr(0, colon + 3)) +
                       "... (use maildir:PATH, imap:// or imaps://)");
  }
  return CreateMaildirSession(ExpandHome(location), options.trace);
}

}  // namespace tollbook::mail
