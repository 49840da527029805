// The IMAP client: one connection to a server, the log-in on it and the
// commands the walk sends, each answer read by the one parser (parser.h).
//
// The log-in (connection, greeting, TLS, authentication) must end within
// one time-out; after it, the time-out bounds each wait for the server.
// imap:// goes through STARTTLS or not at all (?tls=none is the one way to
// log in without TLS): nothing is sent after STARTTLS before the handshake,
// a byte received there ends the connection, and the capabilities are asked
// again inside TLS. Credentials go only over TLS or where ?tls=none asked.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mail/imap/errors.h"
#include "mail/imap/parser.h"
#include "mail/imap/response.h"
#include "mail/imap/transport.h"
#include "mail/imap/url.h"
#include "mail/mail_source.h"

namespace tollbook::mail {

// How long to wait for the server, in seconds (default 20).
inline constexpr std::string_view kImapTimeoutVariable = "TOLLBOOK_IMAP_TIMEOUT";

// The time-out in seconds: $TOLLBOOK_IMAP_TIMEOUT, a number from 1 to 3600,
// or 20 when it is unset or empty. Throws SettingError for any other value.
int ImapTimeoutSeconds();

// The answer to one command: the untagged responses, then the tagged one.
struct ImapAnswer {
  std::vector<ImapResponse> untagged;
  ImapResponse done;
};

// The server answered a command with NO or BAD.
class ImapRefused : public ImapError {
 public:
  ImapRefused(ImapGrade grade, const std::string& why, ImapResponse done)
      : ImapError(grade, why), done_(std::move(done)) {}
  const ImapResponse& Done() const { return done_; }

 private:
  ImapResponse done_;
};

class ImapClient {
 public:
  ImapClient(ImapUrl url, int timeoutSeconds);
  ~ImapClient();
  ImapClient(const ImapClient&) = delete;
  ImapClient& operator=(const ImapClient&) = delete;

  // Connects and logs in with secret: the password, or the bearer token for
  // the URL's OAuth 2.0 mechanism. Throws ImapError naming the cause
  // (refused connection, time-out, closed connection, TLS, certificate,
  // no STARTTLS, refused log-in ...); its text never holds secret.
  void LogIn(const std::string& secret);

  // Sends command (synchronising literals in it wait for the server's "+")
  // and reads the whole answer; sink takes the literals it wants. Throws
  // ImapError: graded refusal unless the answer ends in OK ("the server
  // refused NAME ..."), kConnection when the connection breaks or times out,
  // kMessage when the answer cannot be read (the connection is then
  // unusable).
  ImapAnswer Run(const std::string& command, const std::string& name,
                 ImapLiteralSink* sink = nullptr, ImapGrade refusal = ImapGrade::kMessage);

  // A capability of the server as last announced (case aside).
  bool Has(std::string_view capability) const;
  bool Open() const { return transport_.Open() && !broken_; }
  // See ImapParser::CurrentMessage().
  std::string CurrentMessage() const { return parser_.CurrentMessage(); }
  // Says LOGOUT (not waiting for the answer) and closes the connection.
  void LogOut() noexcept;

 private:
  ImapResponse Read(ImapLiteralSink* sink = nullptr);
  void Send(std::string_view text);
  std::string NextTag();
  ImapClock::time_point Deadline() const;
  void TakeCapabilities(std::string_view list);
  void AskCapabilities();
  void UpgradeToTls();
  void Authenticate(const std::string& secret);
  void SaslExchange(const std::string& mechanism, const std::string& initial,
                    const std::string& onError);
  [[noreturn]] void LogInRefused(const ImapResponse& done, const std::string& status = "");

  ImapUrl url_;
  int timeoutSeconds_;
  ImapTransport transport_;
  ImapParser parser_;
  bool loggedIn_ = false;
  bool broken_ = false;
  ImapClock::time_point loginDeadline_;
  std::uint64_t receivedSinceSend_ = 0;
  unsigned tags_ = 0;
  std::set<std::string> capabilities_;  // upper case
  unsigned capabilityLists_ = 0;        // how many times the server announced them
  std::string bye_;                     // the text of an untagged BYE
};

}  // namespace tollbook::mail
