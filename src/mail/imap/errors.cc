#include "mail/imap/errors.h"

#include <stdexcept>
#include <vmime/security/cert/certificateException.hpp>
#include <vmime/security/cert/certificateExpiredException.hpp>
#include <vmime/security/cert/certificateNotTrustedException.hpp>
#include <vmime/security/cert/certificateNotYetValidException.hpp>
#include <vmime/security/cert/serverIdentityException.hpp>
#include <vmime/vmime.hpp>

#include "base/errors.h"
#include "mail/imap/connection.h"
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

// vmime's text for an exception and the ones it wraps, without trailing dots.
std::string Describe(const vmime::exception& e) {
  std::string text = e.what();
  for (const vmime::exception* inner = e.other(); inner != nullptr; inner = inner->other()) {
    const std::string more = inner->what();
    if (!more.empty() && text.find(more) == std::string::npos) text += ": " + more;
  }
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) {
    text.pop_back();
  }
  return text;
}

// A connection that could not be made (during log-in) or broke (later).
[[noreturn]] void Broken(bool login, const std::string& message) {
  if (login) throw LoginError(message);
  throw ConnectionError(message);
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
  } catch (const vmime::security::cert::serverIdentityException&) {
    throw LoginError(context + ": the server's certificate is not issued for this host name");
  } catch (const vmime::security::cert::certificateExpiredException&) {
    throw LoginError(context + ": the server's certificate has expired");
  } catch (const vmime::security::cert::certificateNotYetValidException&) {
    throw LoginError(context + ": the server's certificate is not valid yet");
  } catch (const vmime::security::cert::certificateException& e) {
    throw LoginError(Scrub(context + ": the server's certificate is not trusted (" + Describe(e) +
                               "); a private certificate authority can be named in " +
                               std::string(kImapCaFileVariable),
                           secret));
  } catch (const vmime::exceptions::authentication_error& e) {
    const std::string response = e.response();
    throw LoginError(Scrub(context + ": log-in refused" +
                               (response.empty() ? std::string() : " (" + response + ")"),
                           secret));
  } catch (const vmime::exceptions::operation_timed_out&) {
    Broken(login, Scrub(context + ": " + "the server did not answer within " + std::to_string(ImapTimeoutSeconds()) + " s", secret));
  } catch (const vmime::exceptions::connection_greeting_error& e) {
    Broken(login, Scrub(context + ": " + "the server did not greet as an IMAP server (" + Describe(e) + ")", secret));
  } catch (const vmime::exceptions::tls_exception& e) {
    Broken(login, Scrub(context + ": " + "TLS failed: " + Describe(e), secret));
  } catch (const vmime::exceptions::socket_exception& e) {
    Broken(login, Scrub(context + (login ? ": cannot connect: " : ": the connection was lost: ") + Describe(e), secret));
  } catch (const vmime::exceptions::not_connected&) {
    Broken(login, Scrub(context + ": " + "the connection was lost", secret));
  } catch (const vmime::exceptions::command_error& e) {
    const std::string why = "the server refused " + e.command() +
                            (e.response().empty() ? std::string() : ": " + e.response());
    if (login) throw LoginError(Scrub(context + ": " + why, secret));
    throw MessageError(Scrub(context + ": " + why, secret));
  } catch (const vmime::exception& e) {
    if (login) throw LoginError(Scrub(context + ": " + Describe(e), secret));
    throw MessageError(Scrub(context + ": " + Describe(e), secret));
  } catch (const std::exception& e) {
    if (login) throw LoginError(Scrub(context + ": " + e.what(), secret));
    throw MessageError(Scrub(context + ": " + e.what(), secret));
  } catch (...) {
    if (login) throw LoginError(context + ": unexpected failure");
    throw MessageError(context + ": unexpected failure");
  }
  throw MessageError(context);  // not reached: every handler above throws
}

}  // namespace tollbook::mail
