#include "mail/imap/parser.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "base/text.h"

namespace tollbook::mail {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// How much of a line nested too deep is read to find its UID before giving up on it.
constexpr std::uint64_t kLongestDrain = std::uint64_t{64} << 20;

bool IsAtomByte(int c) { return c > 0x20 && c != 0x7F && std::strchr("(){\"", c) == nullptr; }

std::string Upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsStatus(const std::string& word) {
  return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

}  // namespace

std::string ImapParser::CurrentMessage() const {
  if (!uid_.empty()) return "UID " + uid_;
  if (fetchLine_) return "message number " + sequence_;
  return {};
}

void ImapParser::Fail(const std::string& why) {
  failure_ = why;
  throw ImapError(ImapGrade::kMessage, why);
}

void ImapParser::Refill() {
  buffer_.resize(kChunk);
  const std::size_t got = source_(buffer_.data(), kChunk);
  buffer_.resize(got);
  position_ = 0;
}

int ImapParser::Peek() {
  if (position_ == buffer_.size()) Refill();
  return static_cast<unsigned char>(buffer_[position_]);
}

char ImapParser::Take() {
  const char c = static_cast<char>(Peek());
  ++position_;
  CountLine(1);
  return c;
}

void ImapParser::CountLine(std::size_t bytes) {
  lineBytes_ += bytes;
  if (beforeLogin_ && lineBytes_ > kImapLongestLineBeforeLogin) {
    Fail("the server sent a line longer than 64 KiB before log-in");
  }
  if (lineBytes_ > kImapLongestLine) {
    const std::string which = CurrentMessage();
    Fail("a line of " + (which.empty() ? std::string("a response") : which) + " is longer than " +
         std::to_string(kImapLongestLine) + " bytes");
  }
}

void ImapParser::EndOfLine() {
  if (Take() != '\r' || Take() != '\n') Fail("a response line does not end in CR LF where it must");
}

std::string ImapParser::RestOfLine() {
  std::string text;
  for (;;) {
    const int c = Peek();
    if (c == '\r' || c == '\n') break;
    if (c == 0) Fail("the server sent a NUL byte in a response line");
    text += Take();
    if (text.size() > kImapLongestQuoted) {
      Fail("a response line's text is longer than " + std::to_string(kImapLongestQuoted) +
           " bytes");
    }
  }
  if (Peek() == '\n') {
    Take();  // a bare LF ends a text line too
  } else {
    EndOfLine();
  }
  return text;
}

// An atom; "BODY[HEADER.FIELDS (A B)]<0>" is one: a bracket's contents, blanks
// and parentheses included, belong to the atom.
std::string ImapParser::Atom() {
  std::string atom;
  int brackets = 0;
  for (;;) {
    const int c = Peek();
    if (c == 0) Fail("the server sent a NUL byte in an atom");
    if (c == '\r' || c == '\n') break;
    if (brackets == 0 && !IsAtomByte(c)) break;
    if (brackets > 0 && c == '"') {
      // A quoted field name inside a section ("BODY[HEADER.FIELDS ("Date")]"): kept as sent.
      atom += '"' + Quoted() + '"';
      continue;
    }
    if (c == '[') ++brackets;
    if (c == ']' && brackets > 0) --brackets;
    atom += Take();
    if (atom.size() > kImapLongestQuoted) {
      Fail("an atom is longer than " + std::to_string(kImapLongestQuoted) + " bytes");
    }
  }
  if (atom.empty()) {
    Fail("the server sent byte " + ShownServerText(std::string(1, static_cast<char>(Peek()))) +
         " where an item must start");
  }
  return atom;
}

std::string ImapParser::Quoted() {
  Take();  // the opening quote
  std::string text;
  for (;;) {
    char c = Take();
    if (c == '"') return text;
    if (c == '\r' || c == '\n') Fail("a quoted string is not closed on its line");
    if (c == '\0') Fail("the server sent a NUL byte in a quoted string");
    if (c == '\\') {
      c = Take();
      if (c == '\r' || c == '\n' || c == '\0') Fail("a quoted string ends in a lone backslash");
    }
    text += c;
    if (text.size() > kImapLongestQuoted) {
      Fail("a quoted string is longer than " + std::to_string(kImapLongestQuoted) + " bytes");
    }
  }
}

void ImapParser::Literal(ImapItem& item, ImapLiteralSink* sink, const std::string& name) {
  Take();  // '{'
  std::string digits;
  std::uint64_t count = 0;
  const std::string which = CurrentMessage();
  const std::string of = which.empty() ? std::string() : " of " + which;
  while (Peek() >= '0' && Peek() <= '9') {
    const char c = Take();
    digits += c;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (count > (UINT64_MAX - digit) / 10) {
      Fail("a literal" + of + " announces " + digits + "... bytes, more than any answer may hold");
    }
    count = count * 10 + digit;
  }
  if (digits.empty() || Take() != '}') Fail("a literal's length is malformed");
  EndOfLine();
  if (beforeLogin_) Fail("the server sent a literal before log-in");
  const bool streamed = sink != nullptr && drained_ == 0 && sink->Wants(name);
  const std::uint64_t limit = streamed ? kImapLargestBody : kImapLargestHeldLiteral;
  if (count > limit) {
    Fail("a literal" + of + " announces " + std::to_string(count) + " bytes, more than the " +
         std::to_string(limit) + " accepted here");
  }
  item.kind = ImapItem::Kind::kString;
  item.streamed = streamed;
  if (streamed) item.offset = sink->written;
  item.length = count;
  for (std::uint64_t left = count; left > 0;) {
    if (position_ == buffer_.size()) Refill();
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size() - position_));
    const char* data = buffer_.data() + position_;
    if (drained_ > 0) {
      drained_ += n;
    } else if (streamed) {
      sink->Write(data, n);
      sink->written += n;
    } else {
      item.text.append(data, n);
    }
    position_ += n;
    left -= n;
  }
}

void ImapParser::NoteAtom(const std::string& atom, int depth) {
  if (depth == 0) {
    ++topItems_;
    if (topItems_ == 1) sequence_ = atom;
    if (topItems_ == 2 && EqualsIgnoreCase(atom, "FETCH")) fetchLine_ = true;
    return;
  }
  if (!fetchLine_ || depth != 1) return;
  if (uidNext_ && atom.find_first_not_of("0123456789") == std::string::npos) uid_ = atom;
  uidNext_ = EqualsIgnoreCase(atom, "UID");
}

void ImapParser::Items(ImapResponse& response, ImapLiteralSink* sink) {
  std::vector<std::vector<ImapItem>*> stack{&response.items};
  int depth = 0;
  std::string lastAtom;  // the atom before the item being read, in its list
  for (;;) {
    const int c = Peek();
    if (c == ' ') {
      Take();
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (drained_ > 0) {
        Fail((CurrentMessage().empty() ? std::string("a response") : CurrentMessage()) +
             " is described with parentheses nested deeper than " +
             std::to_string(kImapMaxNesting) + " levels; it is left on the server");
      }
      if (depth > 0) Fail("a response line ends inside a parenthesised list");
      if (c == '\n') {
        Take();
      } else {
        EndOfLine();
      }
      return;
    }
    if (drained_ > kLongestDrain) {
      Fail("a response is nested deeper than " + std::to_string(kImapMaxNesting) + " levels");
    }
    ImapItem item;
    if (c == '(') {
      Take();
      ++depth;
      if (depth > kImapMaxNesting && drained_ == 0) drained_ = 1;
      if (drained_ > 0) {
        ++drained_;
        continue;
      }
      item.kind = ImapItem::Kind::kList;
      stack.back()->push_back(std::move(item));
      stack.push_back(&stack.back()->back().items);
      lastAtom.clear();
      continue;
    }
    if (c == ')') {
      Take();
      if (depth == 0) Fail("the server sent ')' with no '(' open");
      if (depth <= kImapMaxNesting) stack.pop_back();
      --depth;
      lastAtom.clear();
      continue;
    }
    if (c == '"') {
      item.kind = ImapItem::Kind::kString;
      item.text = Quoted();
      if (depth <= 1) NoteAtom(item.text, depth);
    } else if (c == '{') {
      Literal(item, sink, lastAtom);
      if (depth <= 1) NoteAtom(item.streamed ? std::string() : item.text, depth);
    } else {
      item.text = Atom();
      if (depth <= 1) NoteAtom(item.text, depth);
      if (EqualsIgnoreCase(item.text, "NIL")) {
        item.kind = ImapItem::Kind::kNil;
        item.text.clear();
      }
    }
    lastAtom = item.kind == ImapItem::Kind::kAtom ? item.text : std::string();
    if (drained_ > 0) {
      drained_ += item.text.size() + 1;
      continue;
    }
    stack.back()->push_back(std::move(item));
  }
}

ImapResponse ImapParser::Next(bool beforeLogin, ImapLiteralSink* sink) {
  if (failure_) throw ImapError(ImapGrade::kConnection, "the connection is unusable: " + *failure_);
  beforeLogin_ = beforeLogin;
  lineBytes_ = 0;
  drained_ = 0;
  topItems_ = 0;
  fetchLine_ = false;
  sequence_.clear();
  uid_.clear();
  uidNext_ = false;
  ImapResponse response;
  if (Peek() == '+') {
    Take();
    response.tag = "+";
    if (Peek() == ' ') Take();
    response.text = RestOfLine();
    return response;
  }
  response.tag = Atom();
  if (Peek() != ' ') Fail("a response line holds nothing but its tag");
  Take();
  const int first = Peek();
  std::string word;
  if (first != '(' && first != '"' && first != '{' && first != '\r' && first != '\n') {
    word = Atom();
  }
  if (IsStatus(Upper(word))) {
    response.status = Upper(word);
    if (Peek() == ' ') Take();
    std::string text = RestOfLine();
    if (text.starts_with('[')) {
      const auto close = text.find(']');
      if (close == std::string::npos) Fail("a response code is not closed");
      response.code = text.substr(1, close - 1);
      text.erase(0, close + 1);
      if (text.starts_with(' ')) text.erase(0, 1);
    }
    response.text = std::move(text);
    return response;
  }
  if (!response.Untagged()) {
    Fail("the server answered a command with " + ShownServerText(word) + ", not OK, NO or BAD");
  }
  if (!word.empty()) {
    NoteAtom(word, 0);
    ImapItem item;
    item.text = std::move(word);
    response.items.push_back(std::move(item));
  }
  Items(response, sink);
  return response;
}

}  // namespace tollbook::mail
