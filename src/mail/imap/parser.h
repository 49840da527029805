// The one tokenizer and parser of everything an IMAP server sends, from the
// greeting on. It trusts nothing: every line, string and literal is bounded
// before it is held, lists nest at most kImapMaxNesting deep, a literal's
// length is read as a 64-bit number and checked before a byte of it is
// taken, and before the log-in no literal is accepted and no line may pass
// 64 KiB. A response that breaks a bound throws ImapError, and the parser
// refuses to read on from then on: nothing is read from a misframed stream.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mail/imap/errors.h"
#include "mail/imap/response.h"

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
// The longest line accepted before the log-in is done.
inline constexpr std::uint64_t kImapLongestLineBeforeLogin = std::uint64_t{64} << 10;
// The longest quoted string or atom accepted.
inline constexpr std::size_t kImapLongestQuoted = std::size_t{1} << 20;

// Where the literals of chosen FETCH items go instead of into the response
// (a body streamed into a file). Wants() is asked with the name of the item
// the literal is the value of ("BODY[2]").
class ImapLiteralSink {
 public:
  virtual ~ImapLiteralSink() = default;
  virtual bool Wants(std::string_view item) = 0;
  virtual void Write(const char* data, std::size_t size) = 0;
  std::uint64_t written = 0;  // by the parser: every byte sent to Write()
};

class ImapParser {
 public:
  // Reads at least one byte into data (at most size), or throws.
  using Source = std::function<std::size_t(char* data, std::size_t size)>;

  explicit ImapParser(Source source) : source_(std::move(source)) {}

  // Reads one whole response. beforeLogin applies the bounds of the log-in;
  // sink (when given) takes the literals it wants. Throws ImapError for a
  // response that breaks a bound or cannot be read, and whatever the source
  // throws.
  ImapResponse Next(bool beforeLogin, ImapLiteralSink* sink = nullptr);

  // Whether bytes were read from the source that no response took yet.
  bool Buffered() const { return position_ < buffer_.size(); }
  // "UID n" (or "message number n") of the FETCH response being read or
  // last read, "" when it was none: after a failure, the message whose
  // answer was cut.
  std::string CurrentMessage() const;

 private:
  int Peek();
  char Take();
  void Refill();
  [[noreturn]] void Fail(const std::string& why);
  void CountLine(std::size_t bytes);
  std::string Atom();
  std::string Quoted();
  void Literal(ImapItem& item, ImapLiteralSink* sink, const std::string& name);
  std::string RestOfLine();
  void EndOfLine();
  void Items(ImapResponse& response, ImapLiteralSink* sink);
  void NoteAtom(const std::string& atom, int depth);

  Source source_;
  std::string buffer_;
  std::size_t position_ = 0;
  std::optional<std::string> failure_;
  bool beforeLogin_ = false;
  std::uint64_t lineBytes_ = 0;
  std::uint64_t drained_ = 0;  // bytes skipped past a nesting too deep
  // Which message the response is about.
  int topItems_ = 0;
  bool fetchLine_ = false;
  std::string sequence_;
  std::string uid_;
  bool uidNext_ = false;
};

}  // namespace tollbook::mail
