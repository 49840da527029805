// What an IMAP server may send before vmime's parser sees it.
//
// vmime's parser trusts the wire: it recurses once per parenthesis (a
// BODYSTRUCTURE nested ten thousand deep overflows the stack), reads a
// literal's length into a narrower integer than the wire allows, and gives up
// on a quoted string holding a raw 8-bit byte. ImapResponseGuard sits between
// the connection's socket and the parser and reads every byte of every answer
// first:
// - a response nested deeper than kImapMaxNesting parentheses (outside quoted
//   strings and literals) is refused, naming the UID of the FETCH response
//   it belongs to, before the parser has seen any of it;
// - a literal whose length, read as a 64-bit number, is past the limit of
//   the command being answered is refused before a byte of it is trusted, and
//   so is a line longer than kImapLongestLine;
// - a quoted string or atom holding 8-bit bytes is handed on as the same
//   string in literal form, which the parser reads as it stands;
// - an untagged NAMESPACE answer, which vmime does not know, is kept aside
//   for the caller instead of reaching the parser.
// A refusal leaves the connection unusable: every later read fails the same
// way, so nothing is ever read from a misframed answer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/socket.hpp>

namespace tollbook::mail {

// Deeper than any real message's structure.
inline constexpr int kImapMaxNesting = 100;
// The largest attachment body the IMAP source accepts, and so the largest
// literal a streamed body fetch may announce.
inline constexpr std::uint64_t kImapLargestBody = std::uint64_t{1} << 30;
// The largest literal of an answer that is held in memory (headers, folder
// names, bodies fetched ahead).
inline constexpr std::uint64_t kImapLargestHeldLiteral = std::uint64_t{16} << 20;
// The longest response line accepted, literals aside.
inline constexpr std::uint64_t kImapLongestLine = std::uint64_t{64} << 20;
// The longest quoted string or atom accepted.
inline constexpr std::size_t kImapLongestQuoted = std::size_t{1} << 20;

// The server sent an answer that cannot be read safely. what() says why
// without naming the command (the caller knows it).
class ImapAnswerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ImapResponseGuard : public vmime::net::socket {
 public:
  explicit ImapResponseGuard(std::shared_ptr<vmime::net::socket> inner)
      : inner_(std::move(inner)) {}

  // The largest literal accepted from now on.
  void SetLiteralLimit(std::uint64_t bytes) { literalLimit_ = bytes; }
  std::uint64_t LiteralLimit() const { return literalLimit_; }
  // The last untagged NAMESPACE line (without its CRLF) since the last call.
  std::optional<std::string> TakeNamespaceLine();
  // "UID n" (or "message number n") of the FETCH response being read, "" when
  // none is: after a failed read, the message whose answer was cut.
  std::string CurrentUid() const { return uid_; }
  std::string CurrentMessage() const {
    return uid_.empty() && !fetchLine_ ? std::string() : WhichMessage();
  }

  void connect(const vmime::string& address, const vmime::port_t port) override {
    inner_->connect(address, port);
  }
  void disconnect() override { inner_->disconnect(); }
  bool isConnected() const override { return inner_->isConnected(); }
  bool waitForRead(const int msecs) override { return !out_.empty() || inner_->waitForRead(msecs); }
  bool waitForWrite(const int msecs) override { return inner_->waitForWrite(msecs); }
  void receive(vmime::string& buffer) override;
  std::size_t receiveRaw(vmime::byte_t* buffer, const std::size_t count) override;
  void send(const vmime::string& buffer) override { inner_->send(buffer); }
  void send(const char* str) override { inner_->send(str); }
  void sendRaw(const vmime::byte_t* buffer, const std::size_t count) override {
    inner_->sendRaw(buffer, count);
  }
  std::size_t sendRawNonBlocking(const vmime::byte_t* buffer, const std::size_t count) override {
    return inner_->sendRawNonBlocking(buffer, count);
  }
  std::size_t getBlockSize() const override { return inner_->getBlockSize(); }
  unsigned int getStatus() const override { return inner_->getStatus(); }
  const vmime::string getPeerName() const override { return inner_->getPeerName(); }
  const vmime::string getPeerAddress() const override { return inner_->getPeerAddress(); }
  std::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override {
    return inner_->getTimeoutHandler();
  }
  void setTracer(std::shared_ptr<vmime::net::tracer> tracer) override { inner_->setTracer(tracer); }
  std::shared_ptr<vmime::net::tracer> getTracer() override { return inner_->getTracer(); }

 private:
  enum class State {
    kLineStart,
    kText,
    kQuoted,
    kQuotedEscape,
    kCount,
    kCountCr,
    kCountLf,
    kLiteral
  };

  void Feed(const std::string& chunk);
  void FeedText(char c);
  void Emit(const std::string& text);
  void Emit(char c);
  void EndAtom();
  void EndQuoted();
  void EndLine();
  [[noreturn]] void Fail(const std::string& why);
  std::string WhichMessage() const;

  std::shared_ptr<vmime::net::socket> inner_;
  std::uint64_t literalLimit_ = kImapLargestHeldLiteral;
  std::string out_;  // checked bytes the parser has not taken yet
  std::optional<std::string> failure_;

  State state_ = State::kLineStart;
  std::string head_;        // the start of a line, until it is known not to be NAMESPACE
  bool capturing_ = false;  // the line is a NAMESPACE answer, kept in capture_
  std::string capture_;
  std::optional<std::string> namespaceLine_;
  bool draining_ = false;  // the line is refused: read to its end, then fail
  std::uint64_t drained_ = 0;
  int depth_ = 0;
  std::uint64_t lineBytes_ = 0;  // of this line, literals aside
  std::string quoted_;           // a quoted string's content as sent, escapes included
  std::string countText_;        // "{123}" as sent
  std::uint64_t count_ = 0;
  std::uint64_t remaining_ = 0;  // of the literal being passed on
  std::string atom_;             // the atom being read
  std::string lastAtom_;         // the atom before it, upper case
  int atoms_ = 0;                // atoms so far on this line
  std::string sequence_;         // "* N FETCH": N
  bool fetchLine_ = false;
  std::string uid_;  // the UID this FETCH line gave so far
};

// Puts a guard between connection and its socket (once; a second call does
// nothing) and returns it.
std::shared_ptr<ImapResponseGuard> GuardImapConnection(
    vmime::net::imap::IMAPConnection& connection);

// The guard of connection, null when it has none.
std::shared_ptr<ImapResponseGuard> ImapGuardOf(const vmime::net::imap::IMAPConnection& connection);

}  // namespace tollbook::mail
