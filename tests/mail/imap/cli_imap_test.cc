// tollbook-cli run against the test Dovecot: the built binary, its exit
// status, standard output and error, and the files it writes, beside the
// same binary run on the Maildir the server was filled from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "mail/imap/dovecot_server.h"
#include "sample/sample_mailbox.h"
#include "support/run_program.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::DovecotServer;
using testing::ReadFile;
using testing::TempDir;

constexpr std::string_view kStartUpFailure = "Groupwise 5 32-bit client not correctly Installed\n";

using Result = testing::ProgramResult;

// Runs tollbook-cli with args, the variables of environment set on top of
// this process's.
Result RunCli(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment) {
  std::map<std::string, std::optional<std::string>> changes(environment.begin(), environment.end());
  return testing::RunProgram(TOLLBOOK_CLI_PATH, args, {}, changes);
}

// A sample mailbox served by its own Dovecot (user acct, password secret).
class CliImapTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!DovecotServer::Available()) return;
    maildir_ = new TempDir;
    mail::SampleOptions options;
    options.messages = 80;
    options.seed = 11;
    options.linesPerFile = 5;
    mail::WriteSampleMailbox(maildir_->Path(), options);
    server_ = new DovecotServer;
    server_->Fill("acct", maildir_->Path());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete maildir_;
    server_ = nullptr;
    maildir_ = nullptr;
  }

  void SetUp() override {
    if (server_ == nullptr) {
      if (std::getenv("CI") != nullptr) FAIL() << "dovecot is not installed (CI)";
      GTEST_SKIP() << "dovecot is not installed";
    }
  }

  static std::string Imaps(const std::string& credentials = "acct:secret") {
    return "imaps://" + credentials + "@127.0.0.1:" + std::to_string(server_->ImapsPort());
  }
  static std::map<std::string, std::string> Trusting() {
    return {{"TOLLBOOK_IMAP_CA_FILE", server_->CaFile()}, {"TOLLBOOK_IMAP_TIMEOUT", "5"}};
  }
  // Runs a summary run of the Accounting folder of mailbox into a new folder.
  std::string RunInto(const std::string& mailbox, const std::string& name) {
    const std::string out = dir_ / name;
    EXPECT_EQ(::mkdir(out.c_str(), 0700), 0);
    const Result result = RunCli({"--mailbox", mailbox, "--folder", "Accounting", "--output", out,
                                  "--summary", "--cleanup"},
                                 Trusting());
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    return out;
  }

  static TempDir* maildir_;
  static DovecotServer* server_;
  TempDir dir_;
};

TempDir* CliImapTest::maildir_ = nullptr;
DovecotServer* CliImapTest::server_ = nullptr;

TEST_F(CliImapTest, ImapsRunWritesTheSameFilesAsTheMaildirRun) {
  const std::string fromMaildir = RunInto("maildir:" + maildir_->Path(), "maildir");
  const std::string fromImap = RunInto(Imaps(), "imap");
  const std::string full = ReadFile(fromImap + "/fullacct.csv");
  EXPECT_NE(full, "");
  EXPECT_EQ(full, ReadFile(fromMaildir + "/fullacct.csv"));
  EXPECT_EQ(ReadFile(fromImap + "/summary.csv"), ReadFile(fromMaildir + "/summary.csv"));
  EXPECT_EQ(testing::ListFolder(fromImap), testing::ListFolder(fromMaildir));
}

TEST_F(CliImapTest, ListFoldersGivesTheServersFolders) {
  const Result imap = RunCli({"--mailbox", Imaps(), "--list-folders"}, Trusting());
  EXPECT_EQ(imap.status, 0) << imap.err;
  EXPECT_EQ(imap.err, "");
  const Result maildir = RunCli({"--mailbox", "maildir:" + maildir_->Path(), "--list-folders"}, {});
  EXPECT_EQ(imap.out, maildir.out);
  EXPECT_TRUE(imap.out.starts_with("INBOX\n")) << imap.out;
}

// Start-up failures take the error route: its text on stdout, the cause on
// stderr, exit status 3, and no output file.
TEST_F(CliImapTest, FailedStartUpsTakeTheErrorRoute) {
  const TempDir untrusted;
  const std::string otherCa = untrusted / "other.crt";
  // A certificate that did not sign the server's.
  {
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                "-days 1 -subj /CN=other -keyout " +
                                (untrusted / "other.key") + " -out " + otherCa + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  const struct {
    const char* what;
    std::string mailbox;
    std::map<std::string, std::string> environment;
    std::string cause;  // a part of the stderr text
  } cases[] = {
      {"wrong password", Imaps("acct:wrong"), Trusting(), "log-in refused"},
      {"untrusted certificate", Imaps(), {{"TOLLBOOK_IMAP_CA_FILE", otherCa}}, "certificate"},
      {"no trusted certificate at all", Imaps(), {{"SSL_CERT_FILE", otherCa}, {"TOLLBOOK_IMAP_CA_FILE", ""}}, "certificate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir_ / (std::string("out-") + c.what);
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    auto environment = c.environment;
    environment.emplace("TOLLBOOK_IMAP_TIMEOUT", "5");
    const Result result = RunCli({"--mailbox", c.mailbox, "--folder", "Accounting", "--output", out}, environment);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, kStartUpFailure);
    EXPECT_TRUE(result.err.starts_with("tollbook-cli: cannot log in to imaps://acct@127.0.0.1:")) << result.err;
    EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("wrong"), std::string::npos) << "the password leaked: " << result.err;
    EXPECT_EQ(testing::ListFolder(out), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace tollbook
