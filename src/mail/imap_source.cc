#include "mail/session_factory.h"

namespace tollbook::mail {

std::unique_ptr<Session> CreateImapSession(std::string_view url) {
  throw LoginError("IMAP mailboxes are not supported yet: " + std::string(url.substr(0, url.find('@'))));
}

}  // namespace tollbook::mail
