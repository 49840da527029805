// The location of an IMAP mailbox: imap://[user[:password]@]host[:port][?tls=...]
// or imaps://... , and the log-in name and password that go with it.
#pragma once

#include <string>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::mail {

enum class ImapTls {
  kStartTlsIfOffered,  // imap:// : STARTTLS when the server offers it
  kStartTlsRequired,   // imap://...?tls=required : refuse to go on without STARTTLS
  kImplicit            // imaps:// : TLS from the first byte
};

struct ImapUrl {
  ImapTls tls = ImapTls::kStartTlsIfOffered;
  std::string user;      // percent-decoded; empty when the URL names none
  std::string password;  // percent-decoded
  bool hasPassword = false;
  std::string host;
  int port = 143;

  // The location without the password, for messages: "imaps://ann@host:993".
  std::string Shown() const;
};

// Parses an imap:// or imaps:// location (the scheme in any case). Throws
// SettingError naming what is wrong (the message never repeats the password).
ImapUrl ParseImapUrl(std::string_view url);

// Fills in user and password that the URL left out from the netrc file at
// netrcPath ("machine HOST login USER password PASS", as curl reads it); a
// missing file is no error. Throws LoginError when no user or no password can
// be found. A password taken from a file that others can read is used, and
// warn (when set) is told so.
void CompleteImapCredentials(ImapUrl& url, const std::string& netrcPath, const TraceSink& warn = {});

}  // namespace tollbook::mail
