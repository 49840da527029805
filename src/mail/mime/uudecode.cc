#include "mail/mime/uudecode.h"

#include <string_view>

#include "mail/mime/decode.h"

namespace tollbook::mail {
namespace {

// A line longer than any encoder writes: a data line holds at most 1 + 84
// characters (63 bytes), a "begin" line a mode and a file name.
constexpr std::size_t kMaxLine = 4096;

bool IsUuChar(unsigned char c) { return c >= 0x20 && c <= 0x60; }
unsigned Value(unsigned char c) { return (c - 0x20u) & 0x3Fu; }

// "end", blanks after it allowed.
bool IsEndLine(std::string_view line) {
  if (!line.starts_with("end")) return false;
  for (const char c : line.substr(3)) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

bool IsBlankLine(std::string_view line) {
  for (const char c : line) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

}  // namespace

void UudecodeStream::writeImpl(const vmime::byte_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      Line();
      line_.clear();
      lineStart_ = offset_ + i + 1;
    } else if (state_ != State::kDone) {
      if (line_.size() == kMaxLine) {
        throw MimeDecodeRefusal{lineStart_, "the uuencoded line is longer than " +
                                                std::to_string(kMaxLine) + " bytes"};
      }
      line_ += c;
    }
  }
  offset_ += count;
}

void UudecodeStream::Line() {
  const std::string_view line = line_;
  switch (state_) {
    case State::kBeforeBegin:
      if (line.starts_with("begin ")) state_ = State::kData;
      return;
    case State::kDone:
      return;
    case State::kBeforeEnd:
      if (IsEndLine(line)) {
        state_ = State::kDone;
      } else if (!IsBlankLine(line)) {
        throw MimeDecodeRefusal{lineStart_, "the uuencoded text goes on after its zero-length "
                                            "line where \"end\" belongs"};
      }
      return;
    case State::kData:
      break;
  }
  if (IsEndLine(line)) {
    state_ = State::kDone;
    return;
  }
  if (line.empty()) {
    state_ = State::kBeforeEnd;
    return;
  }
  const unsigned char lengthChar = static_cast<unsigned char>(line[0]);
  if (!IsUuChar(lengthChar)) {
    throw MimeDecodeRefusal{lineStart_, "byte " + MimeByteText(lengthChar) + " is not uuencoded"};
  }
  const std::size_t bytes = Value(lengthChar);
  if (bytes == 0) {
    state_ = State::kBeforeEnd;
    return;
  }
  const std::size_t needed = (bytes + 2) / 3 * 4;
  if (line.size() - 1 < needed) {
    throw MimeDecodeRefusal{lineStart_, "the uuencoded line holds " + std::to_string(line.size() - 1) +
                                            " characters where its length " + MimeByteText(lengthChar) +
                                            " asks for " + std::to_string(needed)};
  }
  vmime::byte_t decoded[64];  // 63 bytes at most
  std::size_t length = 0;
  for (std::size_t at = 1; at < 1 + needed; at += 4) {
    unsigned group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(line[at + k]);
      if (!IsUuChar(c)) {
        throw MimeDecodeRefusal{lineStart_ + at + k, "byte " + MimeByteText(c) + " is not uuencoded"};
      }
      group = (group << 6) | Value(c);
    }
    decoded[length++] = static_cast<vmime::byte_t>(group >> 16);
    decoded[length++] = static_cast<vmime::byte_t>(group >> 8);
    decoded[length++] = static_cast<vmime::byte_t>(group);
  }
  if (out_ != nullptr) out_->write(decoded, bytes);
}

void UudecodeStream::Finish() {
  if (!line_.empty()) {
    if (line_.back() == '\r') line_.pop_back();
    Line();
    line_.clear();
  }
  if (state_ == State::kBeforeBegin) {
    throw MimeDecodeRefusal{offset_, "the uuencoded text has no \"begin\" line"};
  }
  if (state_ != State::kDone) {
    throw MimeDecodeRefusal{offset_, "the uuencoded text ends before its \"end\" line"};
  }
}

}  // namespace tollbook::mail
