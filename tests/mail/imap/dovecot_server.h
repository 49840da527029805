// A throwaway Dovecot for the IMAP tests, run through scripts/test-dovecot:
// started in a temporary folder on free ports of 127.0.0.1, stopped by its PID.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tollbook::testing {

class DovecotServer {
 public:
  // Whether dovecot is installed. Tests must fail, not skip, without it when
  // $CI is set.
  static bool Available();

  // Starts a server with the given "user:password" accounts; with oauth it
  // also takes the bearer tokens of BearerToken through XOAUTH2 and
  // OAUTHBEARER. Throws std::runtime_error with the script's message when it
  // does not start.
  explicit DovecotServer(std::vector<std::string> users = {"acct:secret"}, bool oauth = false);
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  // Copies a Maildir++ tree into user's mailbox.
  void Fill(const std::string& user, const std::string& maildir);
  // Stops the server now (the destructor does nothing more).
  void Stop();

  int ImapPort() const { return imapPort_; }
  int ImapsPort() const { return imapsPort_; }
  // The server's self-signed certificate, to trust through TOLLBOOK_IMAP_CA_FILE.
  std::string CaFile() const { return dir_ / "server.crt"; }
  // An OAuth 2.0 bearer token for user (a JWT signed with HS256) that
  // expires at the given Unix time, with a claim of padding bytes besides;
  // signed with the server's key, or with another one when wrongKey.
  std::string BearerToken(const std::string& user, std::int64_t expires, bool wrongKey = false,
                          std::size_t padding = 0) const;
  // Where the server logs every log-in and its refusals.
  std::string LogFile() const { return dir_ / "dovecot.log"; }
  // The user's Maildir on the server's disk.
  std::string MaildirOf(const std::string& user) const {
    return dir_ / ("home/" + user + "/Maildir");
  }

 private:
  TempDir dir_;
  int imapPort_ = 0;
  int imapsPort_ = 0;
  bool running_ = false;
};

}  // namespace tollbook::testing
