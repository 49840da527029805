#include "mail/session_factory.h"

namespace tollbook::mail {

std::unique_ptr<Session> CreateMaildirSession(std::string path) {
  throw LoginError("Maildir mailboxes are not supported yet: " + path);
}

}  // namespace tollbook::mail
