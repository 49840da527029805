// The team ledger end to end, on both kinds (an SQLite file, a real
// PostgreSQL server started for these tests): tollbook-cli collectors side
// by side, a ledger moved into another twice and a month rebuilt from it
// byte for byte, and a ledger unreachable before a run or lost during a
// deleting one with nothing lost.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <set>

#include "hardening/crash_harness.h"
#include "ledger/source.h"
#include "support/postgres_server.h"
#include "support/test_support.h"

namespace tollbook::testing {
namespace {

enum class Kind { kSqlite, kPostgres };

// One server for the whole program, started by the first test that needs
// it and stopped at exit.
PostgresServer& Server() {
  static PostgresServer server;
  return server;
}

void MakeDirectory(const std::string& path) { std::filesystem::create_directories(path); }

class TeamLedger : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::kPostgres && !PostgresServer::Available()) {
      if (std::getenv("CI") != nullptr) FAIL() << "PostgreSQL is not installed";
      GTEST_SKIP() << "PostgreSQL is not installed";
    }
  }
  // A new, empty ledger of the kind under test.
  std::string NewLedger(const std::string& name) {
    return GetParam() == Kind::kPostgres ? Server().NewLedger() : dir_ / (name + ".sqlite");
  }
  ProcessResult Cli(const std::vector<std::string>& args) {
    return RunProgram(TOLLBOOK_CLI_PATH, args);
  }
  TempDir dir_;
};

// Messages whose acct attachments differ from those of every other prefix:
// the file names (the store identities) begin with prefix.
std::vector<CrashMessage> Messages(const std::string& prefix, int accounting) {
  auto messages = CrashMessages(accounting);
  for (auto& m : messages) m.name = prefix + m.name;
  return messages;
}

// The ledger's files in collection order, as the "ledger:" mailbox gives
// them: identity, Message-ID, Date, first collection, content.
std::vector<std::string> LedgerFiles(const std::string& ledger) {
  std::vector<std::string> files;
  auto account = ledger::CreateLedgerSession(ledger)->Login("", "");
  auto messages = account->Mailbox()->Messages(false);
  TempDir scratch;
  while (auto message = messages->Next()) {
    const auto id = message->Identity();
    message->Attachments()->Item(1)->Save(scratch / "file");
    files.push_back(id.store + "|" + id.messageId + "|" + id.date + "|" + id.collected + "|" +
                    ReadFile(scratch / "file"));
  }
  return files;
}

std::multiset<std::string> Attachments(const std::vector<std::vector<CrashMessage>>& sets) {
  std::multiset<std::string> all;
  for (const auto& set : sets) {
    for (const auto& m : set) {
      if (m.accounting) all.insert(m.attachment);
    }
  }
  return all;
}

std::multiset<std::string> StoredContents(const std::string& ledger) {
  std::multiset<std::string> contents;
  for (const auto& file : LedgerFiles(ledger)) contents.insert(file.substr(file.rfind('|') + 1));
  return contents;
}

TEST_P(TeamLedger, CollectorsSideBySideStoreEachFileOnce) {
  const std::string ledger = NewLedger("team");
  // Two read-only collectors on one mailbox, two deleting ones on mailboxes
  // of their own, all started at once.
  const auto shared = Messages("s", 40), first = Messages("a", 40), second = Messages("b", 40);
  WriteCrashMaildir(dir_ / "shared", shared);
  WriteCrashMaildir(dir_ / "first", first);
  WriteCrashMaildir(dir_ / "second", second);
  const struct {
    std::string mailbox;
    bool remove;
  } collectors[] = {{"shared", false}, {"shared", false}, {"first", true}, {"second", true}};
  std::vector<std::future<ProcessResult>> runs;
  for (std::size_t i = 0; i < std::size(collectors); ++i) {
    const std::string out = dir_ / ("out" + std::to_string(i));
    MakeDirectory(out);
    std::vector<std::string> args{
        "--mailbox", dir_ / collectors[i].mailbox, "--output", out, "--ledger", ledger, "-q"};
    if (collectors[i].remove) args.push_back("--delete");
    runs.push_back(std::async(std::launch::async, [this, args] { return Cli(args); }));
  }
  for (auto& run : runs) {
    const ProcessResult result = run.get();
    EXPECT_EQ(result.exitCode, 0) << result.output;
  }
  EXPECT_EQ(StoredContents(ledger), Attachments({shared, first, second}));
  EXPECT_EQ(CheckNothingLost(first, dir_ / "first", {dir_ / "out2"}, false, ledger), "");
  EXPECT_EQ(CheckNothingLost(second, dir_ / "second", {dir_ / "out3"}, false, ledger), "");
}

TEST_P(TeamLedger, ALedgerMovedInTwiceRebuildsAMonthByteForByte) {
  // Half the messages of November, half of December.
  auto messages = Messages("m", 30);
  std::vector<CrashMessage> november;
  for (std::size_t i = 0; i < messages.size(); i += 2) {
    auto& m = messages[i];
    const auto at = m.file.find("Date: Wed, 01 Dec 1999");
    ASSERT_NE(at, std::string::npos);
    m.file.replace(at, 22, "Date: Mon, 01 Nov 1999");
    november.push_back(m);
  }
  WriteCrashMaildir(dir_ / "mail", messages);
  WriteCrashMaildir(dir_ / "november", november);
  const std::string source = dir_ / "workstation.sqlite", team = NewLedger("team");
  MakeDirectory(dir_ / "collected");
  ASSERT_EQ(
      Cli({"--mailbox", dir_ / "mail", "--output", dir_ / "collected", "--ledger", source, "-q"})
          .exitCode,
      0);
  for (const char* pass : {"moved", "moved again"}) {
    MakeDirectory(dir_ / pass);
    const auto moved =
        Cli({"--mailbox", "ledger:" + source, "--output", dir_ / pass, "--ledger", team, "-q"});
    ASSERT_EQ(moved.exitCode, 0) << pass << ": " << moved.output;
    EXPECT_EQ(LedgerFiles(team), LedgerFiles(source)) << pass;
  }
  MakeDirectory(dir_ / "direct");
  MakeDirectory(dir_ / "rebuilt");
  ASSERT_EQ(Cli({"--mailbox", dir_ / "november", "--output", dir_ / "direct", "--summary", "-q"})
                .exitCode,
            0);
  const auto rebuilt = Cli({"--mailbox", "ledger:" + team, "--folder", "1999-11", "--output",
                            dir_ / "rebuilt", "--summary", "-q"});
  ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.output;
  for (const char* file : {"/fullacct.csv", "/summary.csv"}) {
    EXPECT_EQ(ReadFile(dir_ / "rebuilt" + file), ReadFile(dir_ / "direct" + file)) << file;
  }
}

// Runs a collector with -v and, as it reports saving accounting file n,
// stops it (SIGSTOP), calls atFile(n) and lets it go on; returns its exit
// status and error output.
std::pair<int, std::string> RunWatched(const std::vector<std::string>& args,
                                       const std::function<void(int)>& atFile) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {-1, "no pipe"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv{const_cast<char*>(TOLLBOOK_CLI_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TOLLBOOK_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  FILE* errors = ::fdopen(pipeFds[0], "r");
  std::string all;
  char* line = nullptr;
  std::size_t size = 0;
  for (int files = 0; ::getline(&line, &size, errors) > 0;) {
    all += line;
    if (std::string(line).find("saved accounting file") == std::string::npos) continue;
    ::kill(pid, SIGSTOP);
    atFile(++files);
    ::kill(pid, SIGCONT);
  }
  std::free(line);
  std::fclose(errors);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, all};
}

TEST_P(TeamLedger, ALedgerUnreachableOrLostLosesNothing) {
  const auto messages = Messages("u", 60);
  WriteCrashMaildir(dir_ / "mail", messages);
  MakeDirectory(dir_ / "out");
  WriteFile(dir_ / "out/fullacct.csv", "the last run's lines\r\n");
  const bool postgres = GetParam() == Kind::kPostgres;
  // Before the run: the server is down, or the SQLite file's folder is a file.
  WriteFile(dir_ / "not-a-folder", "");
  const std::string ledger = postgres ? Server().NewLedger() : dir_ / "not-a-folder/l.sqlite";
  if (postgres) Server().Crash();
  const auto refused =
      Cli({"--mailbox", dir_ / "mail", "--output", dir_ / "out", "--delete", "--ledger", ledger});
  if (postgres) Server().Restart();
  EXPECT_EQ(refused.exitCode, 1) << refused.output;
  EXPECT_NE(refused.output.find("opening the ledger"), std::string::npos) << refused.output;
  EXPECT_EQ(refused.output.find("password"), std::string::npos) << refused.output;
  EXPECT_EQ(ReadFile(dir_ / "out/fullacct.csv"), "the last run's lines\r\n");
  EXPECT_EQ(RemainingMessages(dir_ / "mail").size(), messages.size());
  if (!postgres) return;

  // A role that may not create the tables, its password in the location:
  // the failure names the privilege, never the password.
  const auto clerk = Cli({"--mailbox", dir_ / "mail", "--output", dir_ / "out", "--ledger",
                          "postgresql://clerk:clerk-secret@/ledger?host=" + Server().Socket()});
  EXPECT_EQ(clerk.exitCode, 1) << clerk.output;
  EXPECT_NE(clerk.output.find("permission denied for schema public (the role clerk needs the "
                              "CREATE privilege on the schema"),
            std::string::npos)
      << clerk.output;
  EXPECT_EQ(clerk.output.find("clerk-secret"), std::string::npos) << clerk.output;
  EXPECT_EQ(ReadFile(dir_ / "out/fullacct.csv"),
            "the last run's lines\r\n");  // a file cannot go away mid-run; the crash harness kills
                                          // SQLite runs

  // During a deleting run: the server goes down after the tenth file.
  MakeDirectory(dir_ / "lost");
  const auto [status, errors] = RunWatched(
      {"--mailbox", dir_ / "mail", "--output", dir_ / "lost", "--delete", "--ledger", ledger, "-v"},
      [](int file) {
        if (file == 10) Server().Crash();
      });
  Server().Restart();
  EXPECT_EQ(status, 1) << errors;
  EXPECT_EQ(CheckNothingLost(messages, dir_ / "mail", {dir_ / "lost"}, false, ledger), "");
  MakeDirectory(dir_ / "again");
  const auto again = Cli({"--mailbox", dir_ / "mail", "--output", dir_ / "again", "--delete",
                          "--ledger", ledger, "-q"});
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(CheckStoredOnce(messages, ledger), "");
}

INSTANTIATE_TEST_SUITE_P(Kinds, TeamLedger, ::testing::Values(Kind::kSqlite, Kind::kPostgres),
                         [](const auto& info) {
                           return info.param == Kind::kSqlite ? "SQLite" : "PostgreSQL";
                         });

}  // namespace
}  // namespace tollbook::testing
