#include "mail/imap/response_limits.h"

#include <cctype>
#include <cstring>

namespace tollbook::mail {
namespace {

constexpr std::string_view kNamespaceHead = "* NAMESPACE ";
// How much of a refused line is read to find its UID before giving up on it.
constexpr std::uint64_t kLongestDrain = std::uint64_t{64} << 20;

bool IsAtomChar(char c) { return std::strchr(" ()\"{}[]<>\r\n", c) == nullptr; }

}  // namespace

std::optional<std::string> ImapResponseGuard::TakeNamespaceLine() {
  auto line = std::move(namespaceLine_);
  namespaceLine_.reset();
  return line;
}

void ImapResponseGuard::receive(vmime::string& buffer) {
  if (failure_) throw ImapAnswerError(*failure_);
  buffer.clear();
  while (out_.empty()) {
    vmime::string chunk;
    inner_->receive(chunk);
    if (chunk.empty()) break;
    Feed(chunk);
  }
  buffer.swap(out_);
}

std::size_t ImapResponseGuard::receiveRaw(vmime::byte_t* buffer, const std::size_t count) {
  if (failure_) throw ImapAnswerError(*failure_);
  while (out_.empty()) {
    vmime::string chunk;
    inner_->receive(chunk);
    if (chunk.empty()) break;
    Feed(chunk);
  }
  const std::size_t n = std::min(count, out_.size());
  std::memcpy(buffer, out_.data(), n);
  out_.erase(0, n);
  return n;
}

void ImapResponseGuard::Fail(const std::string& why) {
  failure_ = why;
  out_.clear();
  throw ImapAnswerError(why);
}

std::string ImapResponseGuard::WhichMessage() const {
  if (!uid_.empty()) return "UID " + uid_;
  if (fetchLine_) return "message number " + sequence_;
  return "a response";
}

void ImapResponseGuard::Emit(const std::string& text) {
  if (draining_) {
    drained_ += text.size();
  } else if (capturing_) {
    capture_ += text;
  } else {
    out_ += text;
  }
}

void ImapResponseGuard::Emit(char c) {
  if (draining_) {
    ++drained_;
  } else if (capturing_) {
    capture_ += c;
  } else {
    out_ += c;
  }
}

void ImapResponseGuard::Feed(const std::string& chunk) {
  for (std::size_t i = 0; i < chunk.size();) {
    if (state_ == State::kLiteral) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, chunk.size() - i));
      if (draining_) {
        drained_ += n;
      } else if (capturing_) {
        capture_.append(chunk, i, n);
      } else {
        out_.append(chunk, i, n);
      }
      remaining_ -= n;
      i += n;
      if (remaining_ == 0) state_ = State::kText;
    } else {
      const char c = chunk[i++];
      if (state_ == State::kLineStart) {
        head_ += c;
        const std::size_t n = head_.size();
        if (std::toupper(static_cast<unsigned char>(c)) != kNamespaceHead[n - 1]) {
          std::string head = std::move(head_);
          head_.clear();
          state_ = State::kText;
          for (const char h : head) FeedText(h);
        } else if (n == kNamespaceHead.size()) {
          capturing_ = true;
          capture_ = std::move(head_);
          head_.clear();
          state_ = State::kText;
        }
      } else {
        FeedText(c);
      }
    }
    if (draining_ && drained_ > kLongestDrain) {
      Fail(WhichMessage() + " is described with parentheses nested deeper than " +
           std::to_string(kImapMaxNesting) + " levels; it is left on the server");
    }
  }
}

void ImapResponseGuard::EndAtom() {
  if (atom_.empty()) return;
  bool eightBit = false;
  for (const char c : atom_) eightBit = eightBit || static_cast<unsigned char>(c) >= 0x80;
  if (eightBit) {
    // Not an atom at all (a folder name sent bare, say): the parser reads it
    // as the string it was meant to be.
    Emit("{" + std::to_string(atom_.size()) + "}\r\n");
  }
  Emit(atom_);
  ++atoms_;
  std::string word = atom_.size() <= 64 ? std::move(atom_) : std::string();
  atom_.clear();
  for (auto& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (atoms_ == 2) sequence_ = word;
  if (atoms_ == 3 && word == "FETCH") fetchLine_ = true;
  if (fetchLine_ && depth_ == 1 && lastAtom_ == "UID" &&
      word.find_first_not_of("0123456789") == std::string::npos) {
    uid_ = word;
  }
  lastAtom_ = std::move(word);
}

void ImapResponseGuard::EndLine() {
  if (draining_) {
    Fail(WhichMessage() + " is described with parentheses nested deeper than " +
         std::to_string(kImapMaxNesting) + " levels; it is left on the server");
  }
  if (capturing_) {
    while (!capture_.empty() && (capture_.back() == '\n' || capture_.back() == '\r'))
      capture_.pop_back();
    namespaceLine_ = std::move(capture_);
    capture_.clear();
    capturing_ = false;
  }
  depth_ = 0;
  lineBytes_ = 0;
  atoms_ = 0;
  atom_.clear();
  lastAtom_.clear();
  sequence_.clear();
  uid_.clear();
  fetchLine_ = false;
  state_ = State::kLineStart;
}

void ImapResponseGuard::EndQuoted() {
  bool eightBit = false;
  for (const char c : quoted_) eightBit = eightBit || static_cast<unsigned char>(c) >= 0x80;
  if (!eightBit) {
    Emit('"');
    Emit(quoted_);
    Emit('"');
  } else {
    // The same string as a literal: the parser reads those byte for byte.
    std::string value;
    for (std::size_t i = 0; i < quoted_.size(); ++i) {
      if (quoted_[i] == '\\' && i + 1 < quoted_.size() &&
          (quoted_[i + 1] == '"' || quoted_[i + 1] == '\\'))
        ++i;
      value += quoted_[i];
    }
    Emit("{" + std::to_string(value.size()) + "}\r\n");
    Emit(value);
  }
  quoted_.clear();
  state_ = State::kText;
}

void ImapResponseGuard::FeedText(char c) {
  if (++lineBytes_ > kImapLongestLine && !draining_) {
    Fail("a line of " + WhichMessage() + " is longer than " + std::to_string(kImapLongestLine) +
         " bytes");
  }
  switch (state_) {
    case State::kQuoted:
      if (c == '\\') {
        quoted_ += c;
        state_ = State::kQuotedEscape;
      } else if (c == '"') {
        EndQuoted();
      } else if (c == '\r' || c == '\n') {
        // Not closed on its line: handed on as it came, for the parser to refuse.
        Emit('"');
        Emit(quoted_);
        quoted_.clear();
        state_ = State::kText;
        FeedText(c);
      } else {
        quoted_ += c;
      }
      if (quoted_.size() > kImapLongestQuoted) {
        Fail("a quoted string of " + WhichMessage() + " is longer than " +
             std::to_string(kImapLongestQuoted) + " bytes");
      }
      return;
    case State::kQuotedEscape:
      quoted_ += c;
      state_ = State::kQuoted;
      return;
    case State::kCount:
      if (c >= '0' && c <= '9') {
        countText_ += c;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (countText_.size() > 21 || count_ > (UINT64_MAX - digit) / 10) {
          Fail("a literal of " + WhichMessage() + " announces " + countText_ +
               "... bytes, more than any answer may hold");
        }
        count_ = count_ * 10 + digit;
        return;
      }
      if (c == '+' && countText_.size() > 1 && countText_.back() != '+') {
        countText_ += c;
        return;
      }
      if (c == '}' && countText_.size() > 1) {
        countText_ += c;
        if (count_ > literalLimit_) {
          Fail("a literal of " + WhichMessage() + " announces " + std::to_string(count_) +
               " bytes, more than the " + std::to_string(literalLimit_) + " accepted here");
        }
        state_ = State::kCountCr;
        return;
      }
      break;  // not a literal after all
    case State::kCountCr:
      if (c == '\r') {
        countText_ += c;
        state_ = State::kCountLf;
        return;
      }
      break;
    case State::kCountLf:
      if (c == '\n') {
        countText_ += c;
        Emit(countText_);
        countText_.clear();
        remaining_ = count_;
        state_ = remaining_ > 0 ? State::kLiteral : State::kText;
        return;
      }
      break;
    default:
      break;
  }
  if (state_ == State::kCount || state_ == State::kCountCr || state_ == State::kCountLf) {
    Emit(countText_);
    countText_.clear();
    state_ = State::kText;
  }
  if (IsAtomChar(c)) {
    atom_ += c;
    if (atom_.size() > kImapLongestQuoted) {
      Fail("an atom of " + WhichMessage() + " is longer than " +
           std::to_string(kImapLongestQuoted) + " bytes");
    }
    return;
  }
  EndAtom();
  switch (c) {
    case '(':
      if (++depth_ > kImapMaxNesting && !draining_) {
        // Nothing of this line reaches the parser; read on to learn its UID.
        draining_ = true;
        out_.clear();
      }
      Emit(c);
      return;
    case ')':
      if (depth_ > 0) --depth_;
      Emit(c);
      return;
    case '"':
      state_ = State::kQuoted;
      quoted_.clear();
      return;
    case '{':
      state_ = State::kCount;
      countText_ = "{";
      count_ = 0;
      return;
    case '\n':
      Emit(c);
      EndLine();
      return;
    default:
      Emit(c);
      return;
  }
}

std::shared_ptr<ImapResponseGuard> ImapGuardOf(const vmime::net::imap::IMAPConnection& connection) {
  return std::dynamic_pointer_cast<ImapResponseGuard>(
      std::const_pointer_cast<vmime::net::socket>(connection.getSocket()));
}

std::shared_ptr<ImapResponseGuard> GuardImapConnection(
    vmime::net::imap::IMAPConnection& connection) {
  if (auto guard = ImapGuardOf(connection)) return guard;
  auto inner = std::const_pointer_cast<vmime::net::socket>(connection.getSocket());
  if (!inner) return nullptr;
  auto guard = std::make_shared<ImapResponseGuard>(inner);
  connection.setSocket(guard);
  return guard;
}

}  // namespace tollbook::mail
