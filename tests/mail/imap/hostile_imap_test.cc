// tollbook-cli against a scripted server that misbehaves in one way at a
// time. Whatever the server does: no crash, a failed run ends with one
// "tollbook-cli: ..." line and never shows the password, a failed log-in
// never sent it, nothing is expunged whose lines are not in fullacct.csv, and
// a run that succeeds wrote exactly the fullacct.csv of the same messages
// read from a Maildir.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "mail/imap/scripted_imap_server.h"
#include "sample/maildir_writer.h"
#include "support/run_program.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::ImapFault;
using testing::ReadFile;
using testing::ScriptedImapServer;
using testing::ScriptedMessage;
using testing::TempDir;

std::vector<ScriptedMessage> Messages() {
  std::vector<ScriptedMessage> messages;
  for (unsigned uid = 1; uid <= 4; ++uid) {
    ScriptedMessage m;
    m.uid = uid;
    // UID 4's attachment is too large to be fetched ahead: it streams.
    for (int line = 0; line < (uid == 4 ? 1200 : 6); ++line) {
      char text[200];
      std::snprintf(
          text, sizeof text,
          "I,11/30/"
          "2026,%02u:%02d:%02d,6A1B%04X.%03d,Mail,Normal,CORP,PO1,U%u,GWACCT%u,Report,CORP,GWIA,"
          "<%u.%d@mx.example.net>,RFC822,partner.example,1,0,%d,\r\n",
          10 + uid, line / 60, line % 60, uid, line, uid, uid, uid, line, 1000 + 37 * line);
      m.accounting += text;
    }
    messages.push_back(std::move(m));
  }
  return messages;
}

// The time-out is short only for the rows whose server falls silent or
// trickles; a server that answers is never cut off by a busy machine.
testing::ProgramResult RunCli(const std::vector<std::string>& args,
                              const std::string& timeout = "600") {
  return testing::RunProgram(TOLLBOOK_CLI_PATH, args, {},
                             {{"TOLLBOOK_IMAP_TIMEOUT", timeout},
                              {"HOME", "/nonexistent"},
                              {"TOLLBOOK_IMAP_CA_FILE", ScriptedImapServer::CaFile()}});
}

constexpr std::string_view kClearTextWarning =
    "tollbook-cli: warning: ?tls=none: the password travels in clear text\n";

class HostileImapTest : public ::testing::Test {
 protected:
  // fullacct.csv of the same messages read from a Maildir.
  static void SetUpTestSuite() {
    maildir_ = new TempDir;
    const std::string folder = *maildir_ / ".Accounting";
    mail::CreateMaildirFolder(maildir_->Path(), false);
    mail::CreateMaildirFolder(folder, true);
    for (const auto& m : Messages()) {
      mail::WriteMaildirMessage(folder, "cur",
                                std::to_string(1000000000 + m.uid) + ".M1P1.test:2,S",
                                mail::ToMaildirLineEnds(m.Raw()));
    }
    const TempDir out;
    const auto result =
        testing::RunProgram(TOLLBOOK_CLI_PATH, {"--mailbox", "maildir:" + maildir_->Path(),
                                                "--folder", "Accounting", "--output", out.Path()});
    ASSERT_EQ(result.status, 0) << result.err;
    expected_ = new std::string(ReadFile(out / "fullacct.csv"));
    ASSERT_NE(*expected_, "");
  }
  static void TearDownTestSuite() {
    delete maildir_;
    delete expected_;
  }

  static std::string Url(const ScriptedImapServer& server) {
    return "imap://acct:" + std::string(testing::kScriptedPassword) +
           "@127.0.0.1:" + std::to_string(server.Port());
  }

  static TempDir* maildir_;
  static std::string* expected_;
  TempDir dir_;
};

TempDir* HostileImapTest::maildir_ = nullptr;
std::string* HostileImapTest::expected_ = nullptr;

TEST_F(HostileImapTest, EveryMisbehaviourEndsCleanly) {
  const struct {
    const char* what;
    ImapFault fault;
    bool remove;
    int status;
    std::string cause;  // a part of the error line; the whole of it for a run that succeeds
    bool hint = false;  // the error line names ?tls=none too
    std::string query = "";
  } cases[] = {
      {"a well-behaved server", ImapFault::kNone, false, 0, ""},
      {"a well-behaved server, deleting", ImapFault::kNone, true, 0, ""},
      {"BODYSTRUCTURE 10,000 deep", ImapFault::kDeepStructure, true, 1,
       "UID 2 is described with parentheses nested deeper than 100 levels"},
      {"malformed BODYSTRUCTURE", ImapFault::kMalformedStructure, true, 1,
       "reading the messages of Accounting"},
      {"a body shorter than announced", ImapFault::kShortBody, true, 1,
       "UID 2 in Accounting on imap://acct@127.0.0.1"},
      {"a body shorter than announced, once", ImapFault::kShortBodyOnce, true, 0, ""},
      {"bodies of other messages in the answer", ImapFault::kUnsolicitedBody, true, 0, ""},
      {"a literal past 4 GB", ImapFault::kHugeLiteral, true, 1, "announces 4294967336 bytes"},
      {"a literal cut short", ImapFault::kCutLiteral, true, 1,
       "reading the attachments of UID 3 in Accounting"},
      {"a drop in the middle of a FETCH", ImapFault::kDropMidFetch, true, 1,
       "reading the messages of Accounting"},
      {"a stall in the middle of a FETCH", ImapFault::kStallMidFetch, true, 1,
       "did not answer within 2 s"},
      {"NO to UID STORE", ImapFault::kNoStore, true, 1, "the server refused UID STORE"},
      {"NO to UID EXPUNGE", ImapFault::kNoExpunge, true, 1, "the server refused UID EXPUNGE"},
      {"no UIDPLUS, deleting", ImapFault::kNoUidplus, true, 1, "lacks UIDPLUS"},
      {"no UIDPLUS, reading", ImapFault::kNoUidplus, false, 0, ""},
      {"a stalled greeting", ImapFault::kStalledGreeting, false, 3, "did not answer within 2 s"},
      {"UIDVALIDITY changed before the deletion", ImapFault::kUidValidityChange, true, 1,
       "UIDVALIDITY changed"},
      {"UIDVALIDITY fixed by the first SELECT", ImapFault::kUidValidityFixedOnSelect, true, 0, ""},
      {"folder names that do not decode", ImapFault::kOddFolderNames, true, 0, ""},
      {"Cyrus: the folder is INBOX.Accounting", ImapFault::kCyrusNamespace, true, 0, ""},
      {"no STARTTLS", ImapFault::kNoStartTls, false, 3, "does not offer STARTTLS", true},
      {"no STARTTLS, ?tls=none", ImapFault::kNoStartTls, true, 0, std::string(kClearTextWarning),
       false, "?tls=none"},
      {"STARTTLS answered BAD", ImapFault::kStartTlsBad, false, 3, "refused STARTTLS", true},
      {"a NO injected after the STARTTLS answer", ImapFault::kStartTlsInjection, false, 3,
       "the server sent data after STARTTLS before TLS began"},
      {"PREAUTH before TLS", ImapFault::kPreauth, false, 3, "PREAUTH", true},
      {"LOGINDISABLED before TLS only", ImapFault::kLoginDisabled, true, 0, ""},
      {"LOGINDISABLED inside TLS", ImapFault::kLoginDisabledAfterTls, false, 3, "LOGINDISABLED"},
      {"LOGINDISABLED inside TLS, AUTH=PLAIN", ImapFault::kAuthPlainOnly, true, 0, ""},
      {"a greeting that never ends", ImapFault::kEndlessGreeting, false, 3, "longer than 64 KiB"},
      {"a greeting trickled a byte at a time", ImapFault::kTrickledGreeting, false, 3, "timed out"},
      {"a literal in CAPABILITY", ImapFault::kLiteralCapability, false, 3, "literal before log-in"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedImapServer server(Messages(), c.fault);
    const std::string out = dir_ / c.what;
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    std::vector<std::string> args{
        "--mailbox", Url(server) + c.query, "--folder", "Accounting", "--output", out};
    if (c.remove) args.push_back("--delete");
    const bool silent = c.fault == ImapFault::kStallMidFetch ||
                        c.fault == ImapFault::kStalledGreeting ||
                        c.fault == ImapFault::kTrickledGreeting;
    const auto result = RunCli(args, silent ? "2" : "600");
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    const std::string all = result.out + result.err;
    EXPECT_EQ(all.find(testing::kScriptedPassword), std::string::npos) << all;
    const std::optional<std::string> full = testing::FileExists(out + "/fullacct.csv")
                                                ? std::optional(ReadFile(out + "/fullacct.csv"))
                                                : std::nullopt;
    if (c.status == 0) {
      EXPECT_EQ(result.err, c.cause);
      EXPECT_EQ(full.value_or("(none)"), *expected_);
      if (c.remove) {
        EXPECT_EQ(server.Expunged(), (std::set<unsigned>{1, 2, 3, 4}));
      }
    } else {
      EXPECT_TRUE(result.err.starts_with("tollbook-cli: ")) << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
      EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
      if (c.hint) {
        EXPECT_NE(result.err.find("?tls=none"), std::string::npos) << result.err;
      }
    }
    if (c.status == 3) {
      EXPECT_EQ(server.Received().find(testing::kScriptedPassword), std::string::npos)
          << server.Received();
      EXPECT_FALSE(full.has_value());
    }
    // Nothing expunged whose lines are not whole in fullacct.csv.
    for (const unsigned uid : server.Expunged()) {
      ASSERT_TRUE(full.has_value()) << "UID " << uid;
      std::istringstream lines(Messages()[uid - 1].accounting);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_NE(full->find(line), std::string::npos) << "UID " << uid << ": " << line;
      }
    }
  }
}

// Odd folder names are listed escaped, one a line, and the one that is raw
// 8-bit opens by its escaped text, as the server spelt it.
TEST_F(HostileImapTest, FolderNamesAreListedEscapedAndOpenAsShown) {
  ScriptedImapServer server(Messages(), ImapFault::kOddFolderNames);
  const auto listed = RunCli({"--mailbox", Url(server), "--list-folders"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "INBOX\nAccounting\nBare\\xFF\nBroken&Jjo\nCaf\\xE9\nSmårg\nTwo\\r\\nLines\n");
  const auto run =
      RunCli({"--mailbox", Url(server), "--folder", "Caf\\xE9", "--output", dir_.Path()});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto opened = server.Opened();
  EXPECT_NE(std::find(opened.begin(), opened.end(), "Caf\xE9"), opened.end());
}

}  // namespace
}  // namespace tollbook
