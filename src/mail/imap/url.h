// The location of an IMAP mailbox:
// imap://[user[;AUTH=mechanism][:password]@]host[:port][/][?tls=...] or
// imaps://..., and the log-in name and password that go with it.
#pragma once

#include <string>
#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::mail {

enum class ImapTls {
  kStartTls,  // imap:// (?tls=required): STARTTLS, or no log-in at all
  kNone,      // imap://...?tls=none : plain IMAP, the password in clear text
  kImplicit   // imaps:// : TLS from the first byte
};

struct ImapUrl {
  ImapTls tls = ImapTls::kStartTls;
  std::string user;  // percent-decoded; empty when the URL names none
  // ";AUTH=" (RFC 5092): "XOAUTH2" or "OAUTHBEARER" (upper case) for a
  // bearer token; "" for LOGIN (also ";AUTH=*").
  std::string mechanism;
  std::string password;  // percent-decoded
  bool hasPassword = false;
  std::string host;
  int port = 143;

  // The location without the password, for messages: "imaps://ann@host:993",
  // "imaps://ann;AUTH=XOAUTH2@host:993", "imap://ann@host:143?tls=none".
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
void CompleteImapCredentials(ImapUrl& url, const std::string& netrcPath,
                             const TraceSink& warn = {});

}  // namespace tollbook::mail
