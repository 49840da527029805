#include "mail/imap/errors.h"

#include "base/errors.h"
#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

std::string Scrub(std::string text, const std::string& secret) {
  if (secret.size() < 3) return text;
  for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
    text.replace(at, secret.size(), "****");
  }
  return text;
}

}  // namespace

void RethrowAsMailError(ImapStage stage, const std::string& context, const std::string& secret) {
  const bool login = stage == ImapStage::kLogin;
  try {
    throw;
  } catch (const MailError&) {
    throw;
  } catch (const tollbook::Failure&) {
    throw;
  } catch (const ImapError& e) {
    const std::string text = Scrub(context + ": " + e.what(), secret);
    if (login || e.Grade() == ImapGrade::kLogin) throw LoginError(text);
    if (e.Grade() == ImapGrade::kConnection) throw ConnectionError(text);
    throw MessageError(text);
  } catch (const std::exception& e) {
    const std::string text = Scrub(context + ": " + e.what(), secret);
    if (login) throw LoginError(text);
    throw MessageError(text);
  } catch (...) {
    if (login) throw LoginError(context + ": unexpected failure");
    throw MessageError(context + ": unexpected failure");
  }
}

}  // namespace tollbook::mail
