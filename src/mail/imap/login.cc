// The log-in of ImapClient: greeting, STARTTLS, capabilities and
// authentication, all within one deadline.
#include "mail/imap/client.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/sasl.h"

namespace tollbook::mail {
namespace {

constexpr std::string_view kPlainHint = "use imaps:// or, to log in without TLS, ?tls=none";

}  // namespace

void ImapClient::LogIn(const std::string& secret) {
  loggedIn_ = false;
  broken_ = false;
  loginDeadline_ = ImapClock::now() + std::chrono::seconds(timeoutSeconds_);
  try {
    transport_.Connect(url_.host, url_.port, loginDeadline_);
    if (url_.tls == ImapTls::kImplicit) transport_.StartTls(url_.host, loginDeadline_);
  } catch (const ImapTimedOut&) {
    transport_.Close();
    throw ImapError(ImapGrade::kConnection, "timed out: the server did not answer within " +
                                                std::to_string(timeoutSeconds_) + " s");
  }
  const ImapResponse greeting = Read();
  if (!greeting.Untagged() || greeting.status == "BYE") {
    transport_.Close();
    throw ImapError(ImapGrade::kLogin, greeting.status == "BYE"
                                           ? "the server turned the connection away (BYE " +
                                                 ShownServerText(greeting.text) + ")"
                                           : "the server did not greet as an IMAP server");
  }
  if (greeting.status != "OK" && greeting.status != "PREAUTH") {
    transport_.Close();
    throw ImapError(ImapGrade::kLogin, "the server did not greet as an IMAP server (" +
                                           greeting.status + " " + ShownServerText(greeting.text) +
                                           ")");
  }
  const bool preauthenticated = greeting.status == "PREAUTH";
  if (preauthenticated && url_.tls == ImapTls::kStartTls) {
    transport_.Close();
    throw ImapError(ImapGrade::kLogin,
                    "the server greeted with PREAUTH before TLS, so the connection cannot be made "
                    "private with STARTTLS; " +
                        std::string(kPlainHint));
  }
  if (greeting.CodeName() != "CAPABILITY") AskCapabilities();
  if (url_.tls == ImapTls::kStartTls) UpgradeToTls();
  if (!preauthenticated) {
    const unsigned before = capabilityLists_;
    Authenticate(secret);
    // What the server offers may change with the log-in.
    if (capabilityLists_ == before) AskCapabilities();
  }
  loggedIn_ = true;
}

void ImapClient::AskCapabilities() { Run("CAPABILITY", "CAPABILITY", nullptr, ImapGrade::kLogin); }

void ImapClient::UpgradeToTls() {
  if (!Has("STARTTLS")) {
    transport_.Close();
    throw ImapError(ImapGrade::kLogin,
                    "the server does not offer STARTTLS, and the password would travel in clear "
                    "text; " +
                        std::string(kPlainHint));
  }
  const std::string tag = NextTag();
  Send(tag + " STARTTLS\r\n");
  ImapResponse done;
  for (;;) {
    done = Read();
    if (done.tag == tag) break;
    if (!done.Untagged()) {
      transport_.Close();
      throw ImapError(ImapGrade::kLogin,
                      "the server answered STARTTLS with a continuation request");
    }
  }
  if (done.status != "OK") {
    transport_.Close();
    throw ImapError(ImapGrade::kLogin, "the server refused STARTTLS (" + done.status + " " +
                                           ShownServerText(done.text) + "); " +
                                           std::string(kPlainHint));
  }
  // Whatever came with the answer or after it came in clear text and would be
  // taken for the server's words inside TLS.
  if (parser_.Buffered() || transport_.HasArrived()) {
    broken_ = true;
    transport_.Close();
    throw ImapError(
        ImapGrade::kConnection,
        "the server sent data after STARTTLS before TLS began; the connection is refused");
  }
  try {
    transport_.StartTls(url_.host, loginDeadline_);
  } catch (const ImapTimedOut&) {
    transport_.Close();
    throw ImapError(ImapGrade::kConnection, "timed out: the log-in did not finish within " +
                                                std::to_string(timeoutSeconds_) + " s");
  }
  // What the server said before TLS is forgotten.
  capabilities_.clear();
  AskCapabilities();
}

void ImapClient::LogInRefused(const ImapResponse& done, const std::string& status) {
  std::string why = done.status;
  if (!done.code.empty()) why += " [" + ShownServerText(done.code) + "]";
  if (!done.text.empty()) why += " " + ShownServerText(done.text);
  if (!status.empty()) why += "; the server's OAuth 2.0 status: " + ShownServerText(status);
  throw ImapError(ImapGrade::kLogin, "log-in refused (" + why + ")");
}

void ImapClient::Authenticate(const std::string& secret) {
  const std::string& mechanism = url_.mechanism;
  if (mechanism == "XOAUTH2" || mechanism == "OAUTHBEARER") {
    if (!Has("AUTH=" + mechanism)) {
      throw ImapError(ImapGrade::kLogin, "the server does not offer AUTH=" + mechanism);
    }
    SaslExchange(mechanism,
                 mechanism == "XOAUTH2" ? SaslXoauth2(url_.user, secret)
                                        : SaslOauthBearer(url_.user, url_.host, url_.port, secret),
                 mechanism == "XOAUTH2" ? "" : Base64Encode("\x01"));
    return;
  }
  if (Has("LOGINDISABLED")) {
    if (!Has("AUTH=PLAIN")) {
      throw ImapError(ImapGrade::kLogin,
                      "the server disables LOGIN (LOGINDISABLED) and offers no AUTH=PLAIN");
    }
    SaslExchange("PLAIN", SaslPlain(url_.user, secret), "*");
    return;
  }
  const bool literalPlus = Has("LITERAL+");
  try {
    Run("LOGIN " + ImapMailboxArgument(url_.user, literalPlus) + " " +
            ImapMailboxArgument(secret, literalPlus),
        "LOGIN", nullptr, ImapGrade::kLogin);
  } catch (const ImapRefused& refused) {
    LogInRefused(refused.Done());
  }
}

void ImapClient::SaslExchange(const std::string& mechanism, const std::string& initial,
                              const std::string& onError) {
  const std::string tag = NextTag();
  const std::string encoded = Base64Encode(initial);
  const bool initialResponse = Has("SASL-IR");
  Send(tag + " AUTHENTICATE " + mechanism + (initialResponse ? " " + encoded : "") + "\r\n");
  bool sent = initialResponse;
  bool answered = false;
  std::string status;
  for (;;) {
    const ImapResponse response = Read();
    if (response.tag == tag) {
      if (response.status != "OK") LogInRefused(response, status);
      if (response.CodeName() == "CAPABILITY") TakeCapabilities(response.CodeArguments());
      return;
    }
    if (response.tag != "+") continue;
    if (!sent) {
      Send(encoded + "\r\n");
      sent = true;
    } else if (!answered) {
      // An error challenge: answered as the mechanism asks, then refused.
      if (auto json = Base64Decode(response.text)) status = OAuthErrorStatus(*json);
      Send(onError + "\r\n");
      answered = true;
    } else {
      Send("*\r\n");
    }
  }
}

}  // namespace tollbook::mail
