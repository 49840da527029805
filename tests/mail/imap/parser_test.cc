// The IMAP parser on byte strings: what it makes of well-formed responses,
// and the bounds a hostile server runs into. Each row is read once whole and
// once a byte at a time, so a token cut by a read reads the same.
#include "mail/imap/parser.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tollbook::mail {
namespace {

std::string Render(const ImapItem& item) {
  switch (item.kind) {
    case ImapItem::Kind::kNil:
      return "NIL";
    case ImapItem::Kind::kAtom:
      return item.text;
    case ImapItem::Kind::kList: {
      std::string text = "(";
      for (const auto& member : item.items) text += (text.size() > 1 ? " " : "") + Render(member);
      return text + ")";
    }
    case ImapItem::Kind::kString:
      break;
  }
  if (item.streamed) {
    return "<" + std::to_string(item.offset) + "+" + std::to_string(item.length) + ">";
  }
  std::string text = "\"";
  for (const unsigned char c : item.text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c < 0x20 || c >= 0x7F ? "\\x%02X" : "%c", c);
    text += escaped;
  }
  return text + "\"";
}

std::string Render(const ImapResponse& response) {
  std::string text = response.tag;
  if (!response.status.empty()) text += " " + response.status;
  if (!response.code.empty()) text += " [" + response.code + "]";
  for (const auto& item : response.items) text += " " + Render(item);
  if (!response.text.empty() || response.tag == "+") text += " |" + response.text + "|";
  return text;
}

// Takes the BODY[2] literals.
class Sink : public ImapLiteralSink {
 public:
  bool Wants(std::string_view item) override { return item == "BODY[2]"; }
  void Write(const char* data, std::size_t size) override { taken.append(data, size); }
  std::string taken;
};

TEST(ImapParserTest, ResponsesAndBounds) {
  const std::string deep = std::string(101, '(') + std::string(101, ')');
  const std::string deepest = std::string(99, '(') + "x" + std::string(99, ')');
  const struct {
    std::string wire;
    bool beforeLogin;
    std::string expected;  // the rendered response, or "error: " and a part of the error
  } rows[] = {
      {"* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] Dovecot ready.\r\n", true,
       "* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] |Dovecot ready.|"},
      {"T1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", true,
       "T1 NO [AUTHENTICATIONFAILED] |Authentication failed.|"},
      {"+ eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n", true,
       "+ |eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=|"},
      {"* 12 FETCH (UID 7 FLAGS (\\Seen $TollbookHandled) BODY[HEADER.FIELDS (Content-Type)] "
       "{5}\r\nab\r\nc BODYSTRUCTURE (\"text\" \"plain\" NIL nil NIL \"7bit\" 3 1))\r\n",
       false,
       "* 12 FETCH (UID 7 FLAGS (\\Seen $TollbookHandled) BODY[HEADER.FIELDS (Content-Type)] "
       "\"ab\\x0D\\x0Ac\" BODYSTRUCTURE (\"text\" \"plain\" NIL NIL NIL \"7bit\" 3 1))"},
      {"* 3 FETCH (BODY[2] {4}\r\nQUJD BODY[1] {1}\r\nx UID 9 BODY[2] \"RA==\")\r\n", false,
       "* 3 FETCH (BODY[2] <0+4> BODY[1] \"x\" UID 9 BODY[2] \"RA==\")"},
      {"* LIST (\\HasNoChildren) \"/\" \"Caf\xE9 \\\"q\\\" \\\\\"\r\n", false,
       "* LIST (\\HasNoChildren) \"/\" \"Caf\\xE9 \"q\" \\\""},
      {"* LIST () \"/\" Bare\xFF\r\n", false, "* LIST () \"/\" Bare\xFF"},
      {"* 1 FETCH (UID 2 BODY[1] {0}\r\n)\r\n", false, "* 1 FETCH (UID 2 BODY[1] \"\")"},
      {"* 1 FETCH (UID 2 BODY[HEADER.FIELDS (\"Date\")] NIL)\r\n", false,
       "* 1 FETCH (UID 2 BODY[HEADER.FIELDS (\"Date\")] NIL)"},
      {"* SEARCH 1 2 18446744073709551615\r\n", false, "* SEARCH 1 2 18446744073709551615"},
      {"* X " + deepest + "\r\n", false, "* X " + deepest},
      // Must fail.
      {"* 1 FETCH (UID 2 BODYSTRUCTURE " + deep + ")\r\n", false,
       "error: UID 2 is described with parentheses nested deeper than 100 levels"},
      {"* 1 FETCH (UID 3 BODY[1] {4294967296}\r\n", false,
       "error: a literal of UID 3 announces 4294967296 bytes, more than the 16777216 accepted "
       "here"},
      {"* 1 FETCH (UID 3 BODY[2] {1073741825}\r\n", false,
       "error: announces 1073741825 bytes, more than the 1073741824 accepted here"},
      {"* 1 FETCH (UID 3 BODY[1] {18446744073709551616}\r\n", false,
       "error: announces 18446744073709551616... bytes, more than any answer may hold"},
      {"* CAPABILITY {5}\r\nIMAP4\r\n", true, "error: literal before log-in"},
      {"* OK " + std::string(70000, 'a') + "\r\n", true, "error: longer than 64 KiB"},
      {"* LIST () \"/\" \"unclosed\r\n", false, "error: a quoted string is not closed on its line"},
      {"* CAPABILITY IMAP4rev1 AB" + std::string(1, '\0') + "C\r\n", true,
       "error: NUL byte in an atom"},
      {"* LIST (\\Noselect \"/\" x\r\n", false, "error: ends inside a parenthesised list"},
      {"* X a)\r\n", false, "error: ')' with no '(' open"},
      {"T2 FETCH (UID 1)\r\n", false, "error: not OK, NO or BAD"},
  };
  for (const auto& row : rows) {
    for (const std::size_t step : {std::size_t{1} << 20, std::size_t{1}}) {
      SCOPED_TRACE(row.wire.substr(0, 80) + (step == 1 ? " (a byte at a time)" : ""));
      std::size_t at = 0;
      ImapParser parser([&](char* data, std::size_t size) -> std::size_t {
        if (at == row.wire.size()) throw ImapError(ImapGrade::kConnection, "end of the test data");
        const std::size_t n = std::min({size, step, row.wire.size() - at});
        row.wire.copy(data, n, at);
        at += n;
        return n;
      });
      Sink sink;
      std::string got;
      try {
        got = Render(parser.Next(row.beforeLogin, &sink));
      } catch (const ImapError& e) {
        got = std::string("error: ") + e.what();
        // A refused stream stays refused.
        EXPECT_THROW(parser.Next(row.beforeLogin), ImapError);
      }
      if (row.expected.starts_with("error: ")) {
        EXPECT_NE(got.find(row.expected.substr(7)), std::string::npos) << got;
      } else {
        EXPECT_EQ(got, row.expected);
        EXPECT_FALSE(parser.Buffered());
      }
      if (got.find("<0+4>") != std::string::npos) {
        EXPECT_EQ(sink.taken, "QUJD");
      }
    }
  }
}

}  // namespace
}  // namespace tollbook::mail
