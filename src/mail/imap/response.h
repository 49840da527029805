// An IMAP server's responses as the parser gives them: a tree of atoms,
// strings and lists, with NIL told apart, and the status responses' code and
// text split off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook::mail {

struct ImapItem {
  enum class Kind : std::uint8_t { kAtom, kString, kNil, kList };
  Kind kind = Kind::kAtom;
  std::string text;             // an atom's or a string's bytes
  std::vector<ImapItem> items;  // a list's members
  // A literal that went to the answer's sink instead of text: where it lies
  // in what the sink received.
  bool streamed = false;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  bool IsList() const { return kind == Kind::kList; }
  bool IsString() const { return kind == Kind::kString; }
  bool IsNil() const { return kind == Kind::kNil; }
  // An atom equal to word, case aside.
  bool Is(std::string_view word) const;
  // An atom or string read as a number of at most 64 bits; nullopt otherwise.
  std::optional<std::uint64_t> Number() const;
};

struct ImapResponse {
  std::string tag;  // "*" untagged, "+" a continuation request, else the command's tag
  // Untagged data other than a status: "5 FETCH (...)" gives 5, FETCH and the list.
  std::vector<ImapItem> items;
  // Status responses (OK, NO, BAD, BYE, PREAUTH; upper case), "" for data.
  std::string status;
  std::string code;  // what stood in brackets at the text's start, "" for none
  std::string text;  // the rest: human-readable text (a continuation's whole line)

  bool Untagged() const { return tag == "*"; }
  // The first word of code, upper case ("UIDVALIDITY").
  std::string CodeName() const;
  // What follows the code's first word ("7" for "UIDVALIDITY 7").
  std::string CodeArguments() const;
};

// The server's text, safe to show: control bytes escaped, at most 200 bytes.
std::string ShownServerText(std::string_view text);

}  // namespace tollbook::mail
