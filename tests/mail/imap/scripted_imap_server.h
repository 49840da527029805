// A small IMAP server on the loopback interface that serves one folder of
// accounting messages and misbehaves in one chosen way: for the cases a real
// server cannot be made to produce. IMAP with STARTTLS (a certificate for
// 127.0.0.1 and localhost, CaFile()), one connection at a time, user "acct"
// with password kScriptedPassword. Everything a client sends is recorded as
// the server read it (inside TLS: decrypted), for Received().
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tollbook::testing {

inline constexpr std::string_view kScriptedPassword = "s3cr3t-Pw";

enum class ImapFault {
  kNone,
  kDeepStructure,       // UID 2's BODYSTRUCTURE nests 10,000 parentheses deep
  kMalformedStructure,  // UID 2's BODYSTRUCTURE does not parse
  kShortBody,           // BODY[2] of UID 2 is valid base64 of half the part
  kShortBodyOnce,       // the same, the first time only
  kUnsolicitedBody,     // answers about other messages: bodies of UIDs 99 (before) and 98
                        // (after) with each body, a flag change and UID 99 with the structures
  kHugeLiteral,         // BODY[2] of UID 2 announces 2^32 + 40 bytes and sends 40
  kCutLiteral,          // the connection ends inside the body literal of UID 3
  kDropMidFetch,        // the connection ends after the first message of the FETCH
  kStallMidFetch,       // the server falls silent after the first message of the FETCH
  kNoStore,             // UID STORE answered NO
  kNoExpunge,           // UID EXPUNGE answered NO
  kNoUidplus,           // no UIDPLUS capability
  kStalledGreeting,     // no greeting at all
  kUidValidityChange,   // the folder's second opening gives another UIDVALIDITY than the first
  kUidValidityFixedOnSelect,  // EXAMINE gives one UIDVALIDITY until the folder is first
                              // selected, SELECT and all after it another
  kOddFolderNames,  // names with CR LF (literal), raw 8-bit (quoted and bare), broken modified
                    // UTF-7
  kCyrusNamespace,  // the folder is INBOX.Accounting, personal namespace "INBOX."
  // Before log-in:
  kNoStartTls,             // no STARTTLS capability; STARTTLS answered BAD
  kStartTlsBad,            // STARTTLS offered, answered BAD
  kStartTlsInjection,      // "OK" to STARTTLS followed, before the handshake, by a NO with the
                           // next tag
  kPreauth,                // a PREAUTH greeting on the plain connection
  kLoginDisabled,          // LOGINDISABLED before TLS only
  kLoginDisabledAfterTls,  // LOGINDISABLED inside TLS too, no AUTH=PLAIN
  kAuthPlainOnly,          // LOGINDISABLED inside TLS too, AUTH=PLAIN offered
  kEndlessGreeting,        // a greeting line of 16 MiB, then silence
  kTrickledGreeting,       // the greeting one byte every 100 ms
  kLiteralCapability,      // a literal in every CAPABILITY answer (none in the greeting)
};

struct ScriptedMessage {
  unsigned uid = 0;
  std::string accounting;  // the attachment's content, CR LF lines
  // The whole message as a mail file holds it.
  std::string Raw() const;
};

class ScriptedImapServer {
 public:
  ScriptedImapServer(std::vector<ScriptedMessage> messages, ImapFault fault);
  ~ScriptedImapServer();
  ScriptedImapServer(const ScriptedImapServer&) = delete;
  ScriptedImapServer& operator=(const ScriptedImapServer&) = delete;

  int Port() const { return port_; }
  // The certificate the server presents (self-signed), to trust through
  // TOLLBOOK_IMAP_CA_FILE. Made once per process.
  static std::string CaFile();
  // Every byte the clients sent, as the server read it.
  std::string Received();
  // The UIDs removed by UID EXPUNGE, and the raw mailbox names opened.
  std::set<unsigned> Expunged();
  std::vector<std::string> Opened();

 private:
  struct Connection;
  void Serve();
  void Handle(int fd);

  std::vector<ScriptedMessage> messages_;
  ImapFault fault_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::set<unsigned> expunged_;
  std::vector<std::string> opened_;
  std::string received_;
  int openings_ = 0;           // the folder's openings, over every connection
  bool selectedOnce_ = false;  // the folder was once selected read-write
  std::thread thread_;
};

}  // namespace tollbook::testing
