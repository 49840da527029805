// tollbook-cli run against the test Dovecot: the built binary, its exit
// status, standard output and error, and the files it writes, beside the
// same binary run on the Maildir the server was filled from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
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
Result RunCli(const std::vector<std::string>& args,
              const std::map<std::string, std::string>& environment) {
  std::map<std::string, std::optional<std::string>> changes(environment.begin(), environment.end());
  return testing::RunProgram(TOLLBOOK_CLI_PATH, args, {}, changes);
}

// The text added to the file at path after its first offset bytes once it
// holds needle there, waiting for the file to grow as long as it takes (the
// test's own time-out guards against a needle that never comes).
std::string WaitForText(const std::string& path, std::size_t offset, const std::string& needle) {
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ::inotify_add_watch(watch, path.c_str(), IN_MODIFY);
  std::string text;
  for (;;) {
    text = ReadFile(path).substr(offset);
    if (text.find(needle) != std::string::npos) break;
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, -1) > 0) {
      char events[4096];
      [[maybe_unused]] const auto n = ::read(watch, events, sizeof events);
    }
  }
  ::close(watch);
  return text;
}

// A sample mailbox served by its own Dovecot (user acct, password secret, or
// a bearer token).
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
    server_ = new DovecotServer({"acct:secret"}, /*oauth=*/true);
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
    return {{"TOLLBOOK_IMAP_CA_FILE", server_->CaFile()}, {"TOLLBOOK_IMAP_TIMEOUT", "600"}};
  }
  // Runs a summary run of the Accounting folder of mailbox into a new folder.
  std::string RunInto(const std::string& mailbox, const std::string& name) {
    const std::string out = dir_ / name;
    EXPECT_EQ(::mkdir(out.c_str(), 0700), 0);
    const Result result = RunCli(
        {"--mailbox", mailbox, "--folder", "Accounting", "--output", out, "--summary", "--cleanup"},
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

// Each dry-run line from its Message-ID on: the lines without the store's
// own identity of the message.
std::string WithoutFirstColumn(const std::string& text) {
  std::string out;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    out += (line.find('<') == std::string::npos ? line : line.substr(line.find(" <") + 1)) + "\n";
  }
  return out;
}

// The dry run finds on the server what it finds in the Maildir the server
// was filled from; -v tells the log-in and never the password.
TEST_F(CliImapTest, DryRunAndVerboseOverImap) {
  const std::vector<std::string> dry = {"--folder", "Accounting", "--dry-run", "--output",
                                        dir_.Path()};
  auto args = dry;
  args.insert(args.begin(), {"--mailbox", "maildir:" + maildir_->Path()});
  const Result fromMaildir = RunCli(args, {});
  args = dry;
  args.insert(args.begin(), {"-v", "--mailbox", Imaps()});
  const Result fromImap = RunCli(args, Trusting());
  EXPECT_EQ(fromImap.status, 0) << fromImap.err;
  EXPECT_NE(fromImap.out, fromMaildir.out);  // UIDs, not unique names
  EXPECT_EQ(WithoutFirstColumn(fromImap.out), WithoutFirstColumn(fromMaildir.out));
  const std::string server = "imaps://acct@127.0.0.1:" + std::to_string(server_->ImapsPort());
  EXPECT_EQ(fromImap.err, "tollbook-cli: connecting to " + server + " and logging in as acct\n" +
                              "tollbook-cli: logged in to " + server + " as acct\n");
  EXPECT_EQ(testing::ListFolder(dir_.Path()), std::vector<std::string>{});
}

// The password command comes first, then the URL's password, then the
// netrc file (a warning when others can read it); a failing command takes
// the start-up error route with its cause. The password shows nowhere.
TEST_F(CliImapTest, PasswordCommandAndNetrc) {
  const std::string netrc = dir_ / "netrc";
  testing::WriteFile(netrc, "machine 127.0.0.1 login acct password secret\n");
  const struct {
    std::string mailbox;
    const char* command;  // nullptr: none; "$..." through the variable
    mode_t netrcMode;
    int status;
    std::string err;  // the whole text for status 0, a part of it else
  } cases[] = {
      {Imaps("acct"), "printf 'secret\\nmore\\n'", 0600, 0, ""},
      {Imaps("acct:wrong"), "$echo secret", 0600, 0, ""},
      {Imaps("acct"), "exit 4", 0600, 3,
       "the password command \"exit 4\" failed with exit status 4"},
      {Imaps("acct"), "true", 0600, 3, "the password command \"true\" printed nothing"},
      {Imaps("acct"), "echo", 0600, 3, "the password command \"echo\" printed an empty first line"},
      {Imaps("acct"), "kill -TERM $$", 0600, 3, "was killed by signal 15"},
      {Imaps("acct:secret"), nullptr, 0644, 0, ""},  // the URL's password: the netrc is not read
      {Imaps("acct"), nullptr, 0600, 0, ""},
      {Imaps("acct"), nullptr, 0644, 0,
       "tollbook-cli: warning: " + netrc +
           " can be read by other users, and with it the password for "
           "127.0.0.1; make it private with: chmod 600 " +
           netrc + "\n"},
      {Imaps("acct"), "echo wrong", 0600, 3, "log-in refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command != nullptr ? c.command : "no command");
    ASSERT_EQ(::chmod(netrc.c_str(), c.netrcMode), 0);
    auto environment = Trusting();
    environment["NETRC"] = c.command != nullptr ? "/nonexistent/netrc" : netrc;
    std::vector<std::string> args = {"--mailbox", c.mailbox, "--list-folders"};
    if (c.command != nullptr && c.command[0] == '$') {
      environment["TOLLBOOK_IMAP_PASSWORD_COMMAND"] = c.command + 1;
    } else if (c.command != nullptr) {
      args.insert(args.end(), {"--password-command", c.command});
    }
    const Result result = RunCli(args, environment);
    EXPECT_EQ(result.status, c.status) << result.err;
    if (c.status == 0) {
      EXPECT_TRUE(result.out.starts_with("INBOX\n")) << result.out;
      EXPECT_EQ(result.err, c.err);
    } else {
      EXPECT_EQ(result.out, kStartUpFailure);
      EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
    EXPECT_EQ(result.err.find("secret"), std::string::npos) << result.err;
  }
}

// Start-up failures take the error route: its text on stdout, the cause on
// stderr, exit status 3, and no output file.
TEST_F(CliImapTest, FailedStartUpsTakeTheErrorRoute) {
  const TempDir untrusted;
  const std::string otherCa = untrusted / "other.crt";
  // A certificate that did not sign the server's.
  {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
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
      {"no trusted certificate at all",
       Imaps(),
       {{"SSL_CERT_FILE", otherCa}, {"TOLLBOOK_IMAP_CA_FILE", ""}},
       "certificate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir_ / (std::string("out-") + c.what);
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    auto environment = c.environment;
    environment.emplace("TOLLBOOK_IMAP_TIMEOUT", "600");
    const Result result =
        RunCli({"--mailbox", c.mailbox, "--folder", "Accounting", "--output", out}, environment);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, kStartUpFailure);
    EXPECT_TRUE(result.err.starts_with("tollbook-cli: cannot log in to imaps://acct@127.0.0.1:"))
        << result.err;
    EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("wrong"), std::string::npos) << "the password leaked: " << result.err;
    EXPECT_EQ(testing::ListFolder(out), std::vector<std::string>{});
  }
}

// OAuth 2.0: a good token collects the folder through either mechanism,
// named in any case, over imaps:// or STARTTLS; a refused one takes the
// start-up error route with the status of the server's challenge, and the
// token is never tried as a password (Dovecot logs one attempt, by the
// mechanism).
TEST_F(CliImapTest, OAuthBearerTokens) {
  const std::string expected =
      ReadFile(RunInto("maildir:" + maildir_->Path(), "maildir") + "/fullacct.csv");
  const std::string imaps = "@127.0.0.1:" + std::to_string(server_->ImapsPort());
  const std::string imap = "@127.0.0.1:" + std::to_string(server_->ImapPort());
  const std::int64_t now = std::time(nullptr);
  const struct {
    const char* what;
    std::string mailbox;
    std::int64_t expires;
    bool wrongKey;
    int status;
    std::string refusal;  // the challenge's status
    std::string method;   // as Dovecot's log names it
  } cases[] = {
      {"XOAUTH2", "imaps://acct;AUTH=XOAUTH2" + imaps, now + 3600, false, 0, "", "XOAUTH2"},
      {"oauthbearer, STARTTLS", "imap://acct;AUTH=oauthbearer" + imap, now + 3600, false, 0, "",
       "OAUTHBEARER"},
      {"XOAUTH2, expired", "imaps://acct;AUTH=XOAUTH2" + imaps, now - 60, false, 3, "401",
       "XOAUTH2"},
      {"OAUTHBEARER, badly signed", "imaps://acct;AUTH=OAUTHBEARER" + imaps, now + 3600, true, 3,
       "invalid_token", "OAUTHBEARER"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir_ / c.what;
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    // Past 4 KiB, as Microsoft's tokens are.
    const std::string token = server_->BearerToken("acct", c.expires, c.wrongKey, 4000);
    ASSERT_GT(token.size(), 4096u);
    const std::size_t logStart = ReadFile(server_->LogFile()).size();
    const Result result = RunCli({"--mailbox", c.mailbox, "--folder", "Accounting", "--output", out,
                                  "--summary", "--cleanup", "--password-command", "echo " + token},
                                 Trusting());
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.err.find(token), std::string::npos) << result.err;
    if (c.status == 0) {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(ReadFile(out + "/fullacct.csv"), expected);
      continue;
    }
    EXPECT_EQ(result.out, kStartUpFailure);
    EXPECT_NE(result.err.find("log-in refused"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.refusal), std::string::npos) << result.err;
    EXPECT_EQ(testing::ListFolder(out), std::vector<std::string>{});
    const std::string log = WaitForText(server_->LogFile(), logStart, "(auth failed");
    EXPECT_NE(log.find("(auth failed, 1 attempts"), std::string::npos) << log;
    EXPECT_NE(log.find("method=" + c.method + ","), std::string::npos) << log;
    EXPECT_EQ(log.find("passwd-file("), std::string::npos) << log;
    EXPECT_EQ(log.find("method=PLAIN"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace tollbook
