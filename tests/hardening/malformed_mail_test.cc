// The malformed-mail corpus (tests/hardening/malformed/): each message, alone
// in a real Maildir, goes through a deleting run. It is either handled (its
// first attachment "acct" saved byte for byte and merged), left alone, or the
// run fails with a message naming the message file; none crashes, and a
// message is deleted only when it was handled.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hardening/crash_harness.h"
#include "hardening/hardening_support.h"
#include "mail/maildir/maildir.h"
#include "run/processing_run.h"

namespace tollbook::testing {
namespace {

const std::string kLines =
    "I,12/01/99,10:15,M1,Mail,Normal,DOM,PO1,ann,ACC,Subj,G,GATE,F,SMTP,ADDR,1,0,100,X\r\n"
    "O,12/01/99,10:16,M2,Mail,Normal,DOM,PO1,bob,ACC,Subj,G,GATE,F,SMTP,ADDR,1,0,250,X\r\n";

// Stands for the message file's path in an expected failure.
constexpr const char* kMessageMark = "MESSAGE";

std::string Replace(std::string text, std::string_view mark, const std::string& by) {
  if (const auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), by);
  return text;
}

enum class Outcome {
  kHandled,         // saved byte for byte as `saved`, merged, message deleted
  kLeftAlone,       // not an accounting message: not saved, not deleted
  kFailed           // the run fails naming the message file; nothing merged or deleted
};

struct MalformedCase {
  const char* file;
  Outcome outcome;
  std::string saved;    // kHandled: the scratch file's bytes
  std::string failure;  // kFailed: text the failure holds (besides the file name)
};

std::vector<MalformedCase> Cases() {
  static const char kNul[] =
      "I,12/01/99,10:15,M1,Mail,Nor\0mal,DOM,PO1,a\0n,ACC,Subj,G,GATE,F,SMTP,ADDR,1,0,100,X\r\n"
      "\0\0\r\n";
  const std::string nul(kNul, sizeof kNul - 1);
  std::string linesLf = kLines;
  for (std::size_t p; (p = linesLf.find("\r\n")) != std::string::npos;) linesLf.erase(p, 1);
  // A text part's last line break belongs to the boundary that follows it;
  // its stored LFs are CR LF on the wire.
  const std::string linesLastBreakless = kLines.substr(0, kLines.size() - 2);
  // "X=0D" before a stored LF: the encoded CR, then the line break.
  std::string linesQp = linesLastBreakless;
  for (std::size_t p = 0; (p = linesQp.find("\r\n", p)) != std::string::npos; p += 3) linesQp.insert(p, "\r");
  linesQp += "\r";
  linesLf.pop_back();
  return {
      {"truncated-base64.eml", Outcome::kFailed, "",
       ": line 17: the base64 text ends inside a group of four"},
      {"missing-closing-boundary.eml", Outcome::kHandled, kLines, ""},
      {"eight-bit-headers.eml", Outcome::kHandled, kLines, ""},
      {"eight-bit-attachment-name.eml", Outcome::kLeftAlone, "", ""},
      {"nested-multipart.eml", Outcome::kHandled, kLines, ""},
      {"forwarded-message-first.eml", Outcome::kLeftAlone, "", ""},
      {"nul-bytes-in-attachment.eml", Outcome::kHandled, nul, ""},
      {"empty-attachment.eml", Outcome::kHandled, "", ""},
      {"quoted-printable.eml", Outcome::kHandled, linesQp, ""},
      {"rfc2047-encoded-name.eml", Outcome::kHandled, kLines, ""},
      {"rfc2231-encoded-name.eml", Outcome::kHandled, kLines, ""},
      {"not-mime-binary.eml", Outcome::kLeftAlone, "", ""},
      {"empty-file.eml", Outcome::kLeftAlone, "", ""},
      {"headers-only-no-body.eml", Outcome::kLeftAlone, "", ""},
      {"garbage-boundary-lines.eml", Outcome::kHandled, kLines, ""},
      {"invalid-base64-characters.eml", Outcome::kFailed, "",
       "cannot decode attachment 1 \"acct\" of message " + std::string(kMessageMark) +
           ": line 16: byte '*' is not base64"},
      {"base64-control-byte.eml", Outcome::kFailed, "", ": line 17: byte \\x01 is not base64"},
      {"base64-data-after-padding.eml", Outcome::kFailed, "",
       ": line 18: byte 'C' follows the base64 padding '='"},
      {"base64-blanks-inside-lines.eml", Outcome::kHandled, kLines, ""},
      {"huge-header-line.eml", Outcome::kHandled, kLines, ""},
      {"lf-only-seven-bit.eml", Outcome::kHandled, linesLastBreakless, ""},
  };
}

void PrintTo(const MalformedCase& row, std::ostream* out) { *out << row.file; }

class MalformedMail : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedMail, IsHandledLeftAloneOrRefusedClearly) {
  const MalformedCase& row = GetParam();
  TempDir dir;
  const std::string mail = dir / "mail", out = dir / "out";
  for (const char* sub : {"cur", "new", "tmp"}) std::filesystem::create_directories(mail + "/" + sub);
  std::filesystem::create_directory(out);
  const std::string original = ReadFile(std::string(TOLLBOOK_TEST_DATA_DIR "/malformed/") + row.file);
  const std::string messagePath = mail + "/cur/0001.M1.host:2,S";
  WriteFile(messagePath, original);

  RecordingFrontEnd frontEnd;
  frontEnd.settings = FolderSettings(out, /*cleanup=*/false);
  frontEnd.settings.generateSummary = false;
  RunState state(1000);
  auto account = mail::CreateMaildirSession(mail)->Login("", "");
  const bool completed = RunProcessing(state, *account, frontEnd) == RunOutcome::kCompleted;
  const std::string failure = frontEnd.failures.empty() ? "" : frontEnd.failures.back();

  switch (row.outcome) {
    case Outcome::kHandled:
      EXPECT_TRUE(completed) << failure;
      EXPECT_EQ(ReadFile(out + "/acct 1"), row.saved);
      EXPECT_EQ(ReadFile(out + "/fullacct.csv").ends_with(AsMerged(row.saved)), true);
      EXPECT_FALSE(FileExists(messagePath));
      break;
    case Outcome::kLeftAlone:
      EXPECT_TRUE(completed) << failure;
      EXPECT_FALSE(FileExists(out + "/acct 1"));
      EXPECT_EQ(ReadFile(out + "/fullacct.csv"), "");
      EXPECT_EQ(ReadFile(messagePath), original);
      break;
    case Outcome::kFailed:
      EXPECT_FALSE(completed);
      EXPECT_NE(failure.find(messagePath), std::string::npos) << failure;
      EXPECT_NE(failure.find(Replace(row.failure, kMessageMark, messagePath)), std::string::npos)
          << failure;
      EXPECT_EQ(ReadFile(messagePath), original);
      EXPECT_EQ(ReadFile(out + "/fullacct.csv"), "");
      EXPECT_EQ(ReadFile(out + "/acct 1"), "");
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, MalformedMail, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                           std::string name;
                           for (char c : std::string(info.param.file)) {
                             if (c == '.') break;
                             if (c != '-') name += c;
                           }
                           return name;
                         });

}  // namespace
}  // namespace tollbook::testing
