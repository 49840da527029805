#include "mail/imap/scripted_imap_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gnutls/gnutls.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "support/test_support.h"

namespace tollbook::testing {
namespace {

constexpr char kBoundary[] = "scripted-boundary";
constexpr char kTextBody[] = "Accounting attached.";

std::string Base64(const std::string& data) {
  static constexpr char kTable[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t column = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const unsigned b0 = static_cast<unsigned char>(data[i]);
    const unsigned b1 = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0;
    const unsigned b2 = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0;
    out += kTable[b0 >> 2];
    out += kTable[((b0 & 3) << 4) | (b1 >> 4)];
    out += i + 1 < data.size() ? kTable[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out += i + 2 < data.size() ? kTable[b2 & 63] : '=';
    column += 4;
    if (column == 76 && i + 3 < data.size()) {
      out += "\r\n";
      column = 0;
    }
  }
  return out;
}

std::string TopFields() {
  return std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n";
}
std::string TextHeader() { return "Content-Type: text/plain; charset=us-ascii\r\n"; }
std::string AcctHeader() {
  return "Content-Type: application/octet-stream; name=\"acct\"\r\n"
         "Content-Disposition: attachment; filename=\"acct\"\r\n"
         "Content-Transfer-Encoding: base64\r\n";
}

std::string Literal(const std::string& text) {
  return "{" + std::to_string(text.size()) + "}\r\n" + text;
}

std::string Upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The UIDs of a set such as "1:3,7".
std::set<unsigned> ParseSet(const std::string& text) {
  std::set<unsigned> uids;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(at, end - at);
    const auto colon = item.find(':');
    const unsigned from = static_cast<unsigned>(std::stoul(item.substr(0, colon)));
    const unsigned to = colon == std::string::npos
                            ? from
                            : static_cast<unsigned>(std::stoul(item.substr(colon + 1)));
    for (unsigned u = std::min(from, to);
         u <= std::max(from, to) && u - std::min(from, to) < 100000; ++u) {
      uids.insert(u);
    }
    at = end + 1;
  }
  return uids;
}

}  // namespace

std::string ScriptedMessage::Raw() const {
  return "From: GroupWise Gateway <gwia@gw1.example.net>\r\n"
         "To: accounting@example.net\r\n"
         "Subject: Gateway accounting #" +
         std::to_string(uid) +
         "\r\n"
         "Date: Mon, 30 Nov 2026 10:00:00 +0000\r\n"
         "Message-ID: <scripted." +
         std::to_string(uid) +
         "@tollbook.example>\r\n"
         "MIME-Version: 1.0\r\n" +
         TopFields() + "\r\n--" + kBoundary + "\r\n" + TextHeader() + "\r\n" + kTextBody +
         "\r\n--" + kBoundary + "\r\n" + AcctHeader() + "\r\n" + Base64(accounting) + "\r\n--" +
         kBoundary + "--\r\n";
}

namespace {

// The certificate and key, made once per process with the openssl tool.
struct Certificate {
  TempDir dir;
  gnutls_certificate_credentials_t credentials = nullptr;

  Certificate() {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout " +
        (dir / "server.key") + " -out " + (dir / "server.crt") + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl made no certificate");
    if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS ||
        gnutls_certificate_set_x509_key_file(credentials, (dir / "server.crt").c_str(),
                                             (dir / "server.key").c_str(),
                                             GNUTLS_X509_FMT_PEM) != GNUTLS_E_SUCCESS) {
      throw std::runtime_error("GnuTLS cannot load the test certificate");
    }
  }
  ~Certificate() { gnutls_certificate_free_credentials(credentials); }
};

Certificate& TheCertificate() {
  static Certificate certificate;
  return certificate;
}

// "a001" -> "a002": the tag a client sends next.
std::string NextTag(std::string tag) {
  std::size_t i = tag.size();
  while (i > 0 && std::isdigit(static_cast<unsigned char>(tag[i - 1]))) --i;
  if (i == tag.size()) return tag + "1";
  const std::string digits = tag.substr(i);
  std::string next = std::to_string(std::stoull(digits) + 1);
  if (next.size() < digits.size()) next.insert(0, digits.size() - next.size(), '0');
  return tag.substr(0, i) + next;
}

std::string Base64Decode(const std::string& text) {
  static constexpr std::string_view kTable =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (const char c : text) {
    const std::size_t value = kTable.find(c);
    if (value == std::string_view::npos) continue;
    bits = (bits << 6) | static_cast<unsigned>(value);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

}  // namespace

struct ScriptedImapServer::Connection {
  int fd;
  std::atomic<bool>& stop;
  std::mutex& mutex;
  std::string& received;
  std::string pending;
  bool closed = false;
  gnutls_session_t tls = nullptr;

  ~Connection() {
    if (tls != nullptr) gnutls_deinit(tls);
  }

  // Waits until fd is ready for events or 100 ms passed; false when the
  // server stops.
  bool Wait(short events) {
    if (stop) return false;
    pollfd p{fd, events, 0};
    ::poll(&p, 1, 100);
    return !stop;
  }
  // Reads what is there into pending; false when the client left or the
  // server stops.
  bool ReadSome() {
    char buffer[65536];
    for (;;) {
      if (tls == nullptr || gnutls_record_check_pending(tls) == 0) {
        if (!Wait(POLLIN)) return false;
      }
      const ssize_t got = tls != nullptr ? gnutls_record_recv(tls, buffer, sizeof buffer)
                                         : ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        pending.append(buffer, static_cast<std::size_t>(got));
        std::lock_guard lock(mutex);
        received.append(buffer, static_cast<std::size_t>(got));
        return true;
      }
      if (got == 0) return false;
      if (tls != nullptr ? got != GNUTLS_E_AGAIN && got != GNUTLS_E_INTERRUPTED
                         : errno != EAGAIN && errno != EINTR) {
        return false;
      }
    }
  }
  // Reads until the buffer holds n bytes; false when the client left or the
  // server stops.
  bool Fill(std::size_t n) {
    while (pending.size() < n) {
      if (!ReadSome()) return false;
    }
    return true;
  }
  // One command line, its literals included (the "+" sent for synchronising ones).
  bool ReadCommand(std::string& line) {
    line.clear();
    for (;;) {
      std::size_t end;
      while ((end = pending.find("\r\n")) == std::string::npos) {
        if (!Fill(pending.size() + 1)) return false;
      }
      std::string part = pending.substr(0, end);
      pending.erase(0, end + 2);
      line += part;
      if (part.empty() || part.back() != '}') return true;
      const auto open = part.rfind('{');
      if (open == std::string::npos) return true;
      std::string count = part.substr(open + 1, part.size() - open - 2);
      const bool plus = !count.empty() && count.back() == '+';
      if (plus) count.pop_back();
      const std::size_t n = std::stoul(count);
      if (!plus) Send("+ go on\r\n");
      if (!Fill(n)) return false;
      line += "\r\n" + pending.substr(0, n);
      pending.erase(0, n);
    }
  }
  void Send(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size() && !closed) {
      const ssize_t n = tls != nullptr
                            ? gnutls_record_send(tls, text.data() + done, text.size() - done)
                            : ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (tls != nullptr ? n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED
                                : n < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (!Wait(POLLOUT)) closed = true;
      } else {
        closed = true;
      }
    }
  }
  // Sends text a byte at a time, 100 ms apart, while the client stays.
  void Trickle(const std::string& text) {
    for (const char c : text) {
      Send(std::string(1, c));
      pollfd p{fd, POLLIN, 0};
      if (closed || stop || (::poll(&p, 1, 100) > 0 && !ReadSome())) {
        closed = true;
        return;
      }
    }
  }
  // The server's side of the TLS handshake; false when it failed.
  bool StartTls() {
    pending.clear();
    if (gnutls_init(&tls, GNUTLS_SERVER | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL) != GNUTLS_E_SUCCESS ||
        gnutls_set_default_priority(tls) != GNUTLS_E_SUCCESS ||
        gnutls_credentials_set(tls, GNUTLS_CRD_CERTIFICATE, TheCertificate().credentials) !=
            GNUTLS_E_SUCCESS) {
      return false;
    }
    gnutls_transport_set_int(tls, fd);
    for (;;) {
      const int result = gnutls_handshake(tls);
      if (result == GNUTLS_E_SUCCESS) return true;
      if (gnutls_error_is_fatal(result) != 0) return false;
      if (!Wait(gnutls_record_get_direction(tls) == 0 ? POLLIN : POLLOUT)) return false;
    }
  }
  // Waits, silent, until the client leaves or the server stops.
  void Stall() {
    while (Fill(pending.size() + 1)) pending.clear();
    closed = true;
  }
};

ScriptedImapServer::ScriptedImapServer(std::vector<ScriptedMessage> messages, ImapFault fault)
    : messages_(std::move(messages)), fault_(fault) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error("cannot listen on the loopback interface");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedImapServer::~ScriptedImapServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::set<unsigned> ScriptedImapServer::Expunged() {
  std::lock_guard lock(mutex_);
  return expunged_;
}

std::vector<std::string> ScriptedImapServer::Opened() {
  std::lock_guard lock(mutex_);
  return opened_;
}

std::string ScriptedImapServer::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string ScriptedImapServer::CaFile() { return TheCertificate().dir / "server.crt"; }

void ScriptedImapServer::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    Handle(fd);
    ::close(fd);
  }
}

void ScriptedImapServer::Handle(int fd) {
  Connection c{fd, stop_, mutex_, received_, {}};
  const bool cyrus = fault_ == ImapFault::kCyrusNamespace;
  const std::string folder = cyrus ? "INBOX.Accounting" : "Accounting";
  const std::string separator = cyrus ? "." : "/";
  const auto capabilities = [&] {
    // Without LITERAL+ where names must be sent as literals: the client waits for "+".
    std::string list = fault_ == ImapFault::kOddFolderNames ? "IMAP4rev1" : "IMAP4rev1 LITERAL+";
    if (fault_ != ImapFault::kNoUidplus) list += " UIDPLUS";
    if (cyrus) list += " NAMESPACE";
    if (c.tls == nullptr && fault_ != ImapFault::kNoStartTls) list += " STARTTLS";
    if ((c.tls == nullptr && fault_ == ImapFault::kLoginDisabled) ||
        fault_ == ImapFault::kLoginDisabledAfterTls || fault_ == ImapFault::kAuthPlainOnly) {
      list += " LOGINDISABLED";
    }
    if (fault_ == ImapFault::kAuthPlainOnly) list += " AUTH=PLAIN";
    return list;
  };
  const std::string greeting = "* OK [CAPABILITY " + capabilities() + "] scripted server ready\r\n";
  switch (fault_) {
    case ImapFault::kStalledGreeting:
      return c.Stall();
    case ImapFault::kPreauth:
      c.Send("* PREAUTH [CAPABILITY " + capabilities() + "] logged in already\r\n");
      break;
    case ImapFault::kEndlessGreeting:
      c.Send("* OK ");
      for (int i = 0; i < 256 && !c.closed; ++i) c.Send(std::string(65536, 'x'));
      return c.Stall();
    case ImapFault::kTrickledGreeting:
      c.Trickle(greeting);
      break;
    case ImapFault::kLiteralCapability:
      c.Send("* OK scripted server ready\r\n");
      break;
    default:
      c.Send(greeting);
  }
  const auto authenticated = [&](const std::string& tag, const std::string& credentials) {
    if (credentials.find(std::string(kScriptedPassword)) != std::string::npos) {
      c.Send(tag + " OK [CAPABILITY " + capabilities() + "] logged in\r\n");
    } else {
      c.Send(tag + " NO [AUTHENTICATIONFAILED] wrong\r\n");
    }
  };

  std::set<unsigned> deleted;
  bool inFolder = false;
  bool shortSent = false;
  std::string line;
  while (!c.closed && c.ReadCommand(line)) {
    const auto space = line.find(' ');
    const std::string tag = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    std::string verb = Upper(rest.substr(0, rest.find(' ')));
    rest = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
    if (verb == "UID") {
      verb += " " + Upper(rest.substr(0, rest.find(' ')));
      rest = rest.substr(rest.find(' ') + 1);
    }
    if (verb == "CAPABILITY") {
      const std::string list = capabilities();
      c.Send("* CAPABILITY " +
             (fault_ == ImapFault::kLiteralCapability ? Literal(list.substr(0, 9)) + list.substr(9)
                                                      : list) +
             "\r\n" + tag + " OK done\r\n");
    } else if (verb == "STARTTLS") {
      if (c.tls != nullptr || fault_ == ImapFault::kNoStartTls) {
        c.Send(tag + " BAD unknown command\r\n");
      } else if (fault_ == ImapFault::kStartTlsBad) {
        c.Send(tag + " BAD STARTTLS refused\r\n");
      } else {
        std::string answer = tag + " OK Begin TLS negotiation now\r\n";
        if (fault_ == ImapFault::kStartTlsInjection) {
          answer += NextTag(tag) + " NO [ALERT] log-in refused, call the help desk\r\n";
        }
        c.Send(answer);
        if (!c.StartTls()) return;
      }
    } else if (verb == "LOGIN") {
      if (capabilities().find("LOGINDISABLED") != std::string::npos) {
        c.Send(tag + " NO [PRIVACYREQUIRED] LOGIN is disabled\r\n");
      } else {
        authenticated(tag, rest);
      }
    } else if (verb == "AUTHENTICATE") {
      if (Upper(rest.substr(0, rest.find(' '))) != "PLAIN" ||
          capabilities().find("AUTH=PLAIN") == std::string::npos) {
        c.Send(tag + " NO unsupported mechanism\r\n");
        continue;
      }
      std::string response =
          rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
      if (response.empty()) {
        c.Send("+ \r\n");
        if (!c.ReadCommand(response)) return;
      }
      authenticated(tag, Base64Decode(response));
    } else if (verb == "LIST") {
      if (rest.find("\"*\"") == std::string::npos && rest.find('*') == std::string::npos) {
        c.Send("* LIST (\\Noselect) \"" + separator + "\" \"\"\r\n" + tag + " OK done\r\n");
        continue;
      }
      std::string list = "* LIST (\\HasChildren) \"" + separator + "\" INBOX\r\n";
      list += "* LIST (\\HasNoChildren) \"" + separator + "\" \"" + folder + "\"\r\n";
      if (fault_ == ImapFault::kOddFolderNames) {
        list += "* LIST () \"/\" " + Literal("Two\r\nLines") + "\r\n";
        list += "* LIST () \"/\" \"Caf\xE9\"\r\n";
        list += "* LIST () \"/\" Bare\xFF\r\n";
        list += "* LIST () \"/\" \"Broken&Jjo\"\r\n";
        list += "* LIST () \"/\" \"Sm&AOU-rg\"\r\n";
      }
      c.Send(list + tag + " OK done\r\n");
    } else if (verb == "NAMESPACE") {
      c.Send("* NAMESPACE ((\"" + std::string(cyrus ? "INBOX." : "") + "\" \"" + separator +
             "\")) NIL NIL\r\n" + tag + " OK done\r\n");
    } else if (verb == "EXAMINE" || verb == "SELECT") {
      std::string name = rest;
      if (name.size() >= 2 && name.front() == '"') {
        name = name.substr(1, name.size() - 2);
      } else if (!name.empty() && name.front() == '{') {
        name = name.substr(name.find("\r\n") + 2);
      }
      {
        std::lock_guard lock(mutex_);
        opened_.push_back(name);
      }
      inFolder = name == folder;
      std::size_t exists = 0;
      if (inFolder) {
        for (const auto& m : messages_) exists += Expunged().count(m.uid) == 0 ? 1 : 0;
      }
      int validity = 7;
      if (fault_ == ImapFault::kUidValidityChange && inFolder && openings_++ > 0) validity = 8;
      if (fault_ == ImapFault::kUidValidityFixedOnSelect) {
        selectedOnce_ = selectedOnce_ || verb == "SELECT";
        validity = selectedOnce_ ? 8 : 7;
      }
      c.Send("* " + std::to_string(exists) + " EXISTS\r\n* OK [UIDVALIDITY " +
             std::to_string(validity) +
             "] ok\r\n* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] ok\r\n" + tag + " OK [" +
             (verb == "SELECT" ? "READ-WRITE" : "READ-ONLY") + "] done\r\n");
    } else if (verb == "UID SEARCH") {
      std::string answer = "* SEARCH";
      if (inFolder) {
        for (const auto& m : messages_) {
          if (Expunged().count(m.uid) == 0) answer += " " + std::to_string(m.uid);
        }
      }
      c.Send(answer + "\r\n" + tag + " OK done\r\n");
    } else if (verb == "UID FETCH") {
      const std::set<unsigned> uids = ParseSet(rest.substr(0, rest.find(' ')));
      const std::string items = Upper(rest.substr(rest.find(' ') + 1));
      const bool structure = items.find("BODYSTRUCTURE") != std::string::npos;
      std::string answer;
      bool first = true;
      for (std::size_t seq = 0; seq < messages_.size() && !c.closed; ++seq) {
        const ScriptedMessage& m = messages_[seq];
        if (!inFolder || uids.count(m.uid) == 0 || Expunged().count(m.uid) != 0) continue;
        const std::string acct = Base64(m.accounting);
        std::string response =
            "* " + std::to_string(seq + 1) + " FETCH (UID " + std::to_string(m.uid);
        if (items.find("FLAGS") != std::string::npos) {
          response += deleted.count(m.uid) != 0 ? " FLAGS (\\Deleted)" : " FLAGS ()";
        }
        if (structure) {
          std::string bodystructure =
              "((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" " +
              std::to_string(sizeof kTextBody - 1) +
              " 1 NIL NIL NIL NIL)(\"application\" \"octet-stream\" (\"name\" \"acct\") NIL NIL "
              "\"base64\" " +
              std::to_string(acct.size()) +
              " NIL (\"attachment\" (\"filename\" \"acct\")) NIL NIL) \"mixed\" (\"boundary\" \"" +
              kBoundary + "\") NIL NIL NIL)";
          if (m.uid == 2 && fault_ == ImapFault::kDeepStructure) {
            bodystructure = std::string(10000, '(') +
                            "\"text\" \"plain\" NIL NIL NIL \"7bit\" 1 1" + std::string(10000, ')');
          }
          if (m.uid == 2 && fault_ == ImapFault::kMalformedStructure) {
            bodystructure = "((\"text\" \"plain\" (\"charset\" NIL \"7bit\" x 1) \"mixed\"";
          }
          response += " BODYSTRUCTURE " + bodystructure;
        }
        // Each BODY.PEEK[...] item asked, answered in the order asked.
        for (std::size_t at = items.find("BODY.PEEK["); at != std::string::npos;
             at = items.find("BODY.PEEK[", at + 1)) {
          const std::size_t close = items.find(']', at);
          const std::string section = items.substr(at + 10, close - at - 10);
          std::string value;
          if (section.starts_with("HEADER.FIELDS")) {
            value = TopFields() + "\r\n";
          } else if (section == "1.MIME") {
            value = TextHeader() + "\r\n";
          } else if (section == "2.MIME") {
            value = AcctHeader() + "\r\n";
          } else if (section == "1") {
            value = kTextBody;
          } else if (section == "2") {
            value = acct;
            if (m.uid == 2 && (fault_ == ImapFault::kShortBody ||
                               (fault_ == ImapFault::kShortBodyOnce && !shortSent))) {
              value = Base64(m.accounting.substr(0, m.accounting.size() / 2));
              shortSent = true;
            }
          }
          response += " BODY[" + section + "] ";
          if (section == "2" && m.uid == 2 && fault_ == ImapFault::kHugeLiteral) {
            response += "{" + std::to_string((1ull << 32) + value.substr(0, 40).size()) + "}\r\n" +
                        value.substr(0, 40);
            continue;
          }
          if (section == "2" && m.uid == 3 && fault_ == ImapFault::kCutLiteral) {
            c.Send(answer + response + "{" + std::to_string(value.size()) + "}\r\n" +
                   value.substr(0, value.size() / 2));
            c.closed = true;
            return;
          }
          response += Literal(value);
          if (section == "2" && fault_ == ImapFault::kUnsolicitedBody) {
            const std::string junk = Base64("not,an,accounting,line\r\n");
            // One before, its UID first; one after, its UID last.
            answer += "* 99 FETCH (UID 99 BODY[2] " + Literal(junk) + ")\r\n";
            response += ")\r\n* 98 FETCH (BODY[2] " + Literal(junk) + " UID 98";
          }
        }
        answer += response + ")\r\n";
        if (structure && first &&
            (fault_ == ImapFault::kDropMidFetch || fault_ == ImapFault::kStallMidFetch)) {
          c.Send(answer);
          if (fault_ == ImapFault::kStallMidFetch) c.Stall();
          c.closed = true;
          return;
        }
        first = false;
      }
      if (structure && fault_ == ImapFault::kUnsolicitedBody) {
        // A flag change of a message asked for, and a message not asked for.
        answer = "* 1 FETCH (UID 1 FLAGS (\\Seen))\r\n" + answer +
                 "* 99 FETCH (UID 99 FLAGS () BODYSTRUCTURE ((\"text\" \"plain\" NIL NIL NIL "
                 "\"7bit\" 4 1)"
                 "(\"application\" \"octet-stream\" (\"name\" \"acct\") NIL NIL \"base64\" 40) "
                 "\"mixed\"))\r\n";
      }
      c.Send(answer + tag + " OK done\r\n");
    } else if (verb == "UID STORE") {
      if (fault_ == ImapFault::kNoStore) {
        c.Send(tag + " NO store refused\r\n");
        continue;
      }
      for (const unsigned uid : ParseSet(rest.substr(0, rest.find(' ')))) deleted.insert(uid);
      c.Send(tag + " OK done\r\n");
    } else if (verb == "UID EXPUNGE") {
      if (fault_ == ImapFault::kNoExpunge) {
        c.Send(tag + " NO expunge refused\r\n");
        continue;
      }
      std::string answer;
      for (const unsigned uid : ParseSet(rest)) {
        if (deleted.count(uid) == 0) continue;
        std::lock_guard lock(mutex_);
        expunged_.insert(uid);
      }
      c.Send(answer + tag + " OK done\r\n");
    } else if (verb == "LOGOUT") {
      c.Send("* BYE bye\r\n" + tag + " OK done\r\n");
      return;
    } else {
      c.Send(tag + " OK done\r\n");
    }
  }
}

}  // namespace tollbook::testing
