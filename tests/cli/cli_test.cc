// tollbook-cli end to end: the built binary run on real Maildirs, its exit
// status, standard output and error, and the files it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include <ctime>

#include "accounting/run_state.h"
#include "base/run_lock.h"
#include "ledger/sqlite_db.h"
#include "sample/sample_mailbox.h"
#include "support/memory_source.h"
#include "mail/session_factory.h"
#include "run/processing_run.h"
#include "support/mime_fixture.h"
#include "support/report_reading.h"
#include "support/run_program.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::FileExists;
using testing::ListFolder;
using testing::ReadFile;
using testing::TempDir;

using Result = testing::ProgramResult;

struct Invocation {
  std::vector<std::string> args;
  std::string directory;  // the working directory; empty: the test's
  // Environment changes: a value sets the variable, nullopt removes it.
  std::map<std::string, std::optional<std::string>> environment;
  const char* program = TOLLBOOK_CLI_PATH;
  testing::OutputTo output = testing::OutputTo::kCaptured;
};

Result RunCli(const Invocation& invocation) {
  return testing::RunProgram(invocation.program, invocation.args, invocation.directory,
                             invocation.environment, invocation.output);
}

Result RunCli(std::vector<std::string> args) { return RunCli(Invocation{std::move(args), "", {}}); }

// A sample mailbox in a temporary folder, with an output folder beside it.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mail::SampleOptions options;
    options.messages = 60;
    options.seed = 7;
    options.linesPerFile = 6;
    sample_ = mail::WriteSampleMailbox(maildir_, options);
    ASSERT_EQ(::mkdir(out_.c_str(), 0700), 0);
  }

  std::vector<std::string> AccountingFiles() {
    std::vector<std::string> files;
    for (const char* sub : {"/.Accounting/cur", "/.Accounting/new"}) {
      for (const auto& name : ListFolder(maildir_ + sub)) files.push_back(sub + name);
    }
    return files;
  }

  TempDir dir_;
  std::string maildir_ = dir_ / "Maildir";
  std::string out_ = dir_ / "out";
  mail::SampleSummary sample_;
};

TEST(Cli, HelpAndVersion) {
  const Result help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: tollbook-cli [--mailbox URL]")) << help.out;
  EXPECT_EQ(help.err, "");
  const Result version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out,
            "tollbook-cli (Tollbook) " TOLLBOOK_VERSION "\n"
            "Copyright (C) 2026 The Tollbook developers\n"
            "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
            "This is free software: you are free to change and redistribute it.\n"
            "There is NO WARRANTY, to the extent permitted by law.\n");
}

TEST(Cli, BadUsageExitsWithTwo) {
  const struct {
    std::vector<std::string> args;
    const char* error;
    std::map<std::string, std::optional<std::string>> environment;
  } cases[] = {
      {{"--bogus"}, "tollbook-cli: unknown option --bogus\n", {}},
      {{"--output"}, "tollbook-cli: --output needs a value\n", {}},
      {{"--output="}, "tollbook-cli: --output needs a value that is not empty\n", {}},
      {{"--folder", ""}, "tollbook-cli: --folder needs a value that is not empty\n", {}},
      {{"--delete=yes"}, "tollbook-cli: --delete takes no value\n", {}},
      {{"--no-ledger=yes"}, "tollbook-cli: --no-ledger takes no value\n", {}},
      {{"--ledger", "/l.sqlite", "--no-ledger"},
       "tollbook-cli: --ledger and --no-ledger exclude each other; give one\n", {}},
      {{"/some/Maildir"},
       "tollbook-cli: unexpected argument /some/Maildir (the mailbox is given with --mailbox)\n", {}},
      {{"--", "--delete"},
       "tollbook-cli: unexpected argument --delete (the mailbox is given with --mailbox)\n", {}},
      {{"--list-folders", "--folder", "Accounting"},
       "tollbook-cli: --list-folders runs nothing, so --folder has no meaning with it; give one or the "
       "other\n", {}},
      {{"--delete", "--list-folders"},
       "tollbook-cli: --list-folders runs nothing, so --delete has no meaning with it; give one or the "
       "other\n", {}},
      {{"-q", "-v"}, "tollbook-cli: --quiet and --verbose contradict each other\n", {}},
      {{"--dry-run", "--quiet"},
       "tollbook-cli: --quiet and --dry-run contradict each other (a dry run prints its list)\n", {}},
      {{"--mailbox", "pop3://mail.example.com", "--list-folders"},
       "tollbook-cli: unknown mailbox scheme in pop3://... (use maildir:PATH, imap:// or imaps://)\n", {}},
      {{"--mailbox", "IMAP://ann:pw@127.0.0.1:1/INBOX", "--list-folders"},
       "tollbook-cli: an IMAP location names a server, not a folder: /INBOX is not understood\n", {}},
      {{"--mailbox", "imaps://ann:pw@127.0.0.1:1", "--list-folders"},
       "tollbook-cli: TOLLBOOK_IMAP_TIMEOUT=abc is not a number of seconds from 1 to 3600\n",
       {{"TOLLBOOK_IMAP_TIMEOUT", "abc"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Result result = RunCli(Invocation{c.args, "", c.environment});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string(c.error) + "Try 'tollbook-cli --help'.\n");
  }
}

TEST(Cli, AMissingMailboxTakesTheStartUpErrorRoute) {
  TempDir dir;
  const std::string missing = dir / "Maildir";
  for (const std::string& location : {missing, "maildir:" + missing}) {
    const Result result = RunCli({"--mailbox", location, "--output", dir.Path()});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "Groupwise 5 32-bit client not correctly Installed\n");
    EXPECT_EQ(result.err,
              "tollbook-cli: cannot open the Maildir " + missing + ": No such file or directory\n");
  }
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{});
}

TEST_F(CliTest, ListsTheFoldersInListOrder) {
  const Result result = RunCli({"--mailbox", maildir_, "--list-folders"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "INBOX\nAccounting\nArchive\nArchive.2023\nDrafts\nSent\nTrash\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, TheMailboxComesFromTheEnvironmentWhenNotGiven) {
  const std::string folders = "INBOX\nAccounting\nArchive\nArchive.2023\nDrafts\nSent\nTrash\n";
  const std::optional<std::string> unset;
  const Invocation cases[] = {
      {{"--list-folders"}, "", {{"TOLLBOOK_MAILBOX", "maildir:" + maildir_}, {"MAILDIR", "/nowhere"}}},
      {{"--list-folders"}, "", {{"TOLLBOOK_MAILBOX", unset}, {"MAILDIR", maildir_}}},
      {{"--list-folders"}, "", {{"TOLLBOOK_MAILBOX", unset}, {"MAILDIR", unset}, {"HOME", dir_.Path()}}},
      {{"--list-folders"}, "", {{"TOLLBOOK_MAILBOX", "MailDir:~/Maildir"}, {"HOME", dir_.Path()}}},
      {{"--mailbox", "~/Maildir/", "--list-folders"}, "", {{"HOME", dir_.Path()}}},
  };
  for (const auto& invocation : cases) {
    const Result result = RunCli(invocation);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, folders);
  }
  const Result none = RunCli(Invocation{{"--list-folders"}, "",
                                     {{"TOLLBOOK_MAILBOX", unset}, {"MAILDIR", unset},
                                      {"HOME", out_}}});
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.err, "tollbook-cli: cannot open the Maildir " + out_ +
                          "/Maildir: No such file or directory\n");
}

TEST_F(CliTest, AnUnknownFolderIsBadUsageThatListsTheFolders) {
  const Result result = RunCli({"--mailbox", maildir_, "--folder", "Accounts", "--output", out_});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "tollbook-cli: --folder: there is no folder named \"Accounts\"; the folders are:\n"
            "  INBOX\n  Accounting\n  Archive\n  Archive.2023\n  Drafts\n  Sent\n  Trash\n"
            "Try 'tollbook-cli --help'.\n");
  EXPECT_EQ(ListFolder(out_), std::vector<std::string>{});
}

TEST_F(CliTest, AFolderWithoutAccountingFilesShowsBothBoxes) {
  // No --folder: the mailbox, INBOX, which holds only ordinary mail; the
  // output goes to the current directory.
  const Result result = RunCli(Invocation{{"--mailbox", maildir_, "--summary"}, out_, {}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "No Files to process in this folder.\nAccounting Files Processed 0\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListFolder(out_), (std::vector<std::string>{kRunLockFileName, "fullacct.csv"}));
  EXPECT_EQ(ReadFile(out_ + "/fullacct.csv"), "");
}

// Standard output that cannot be written: a full device and a closed
// descriptor fail the program with one line naming the cause (a status that
// already tells of a failure is kept); a reader that went away ends it
// quietly by SIGPIPE. Either way a run's files are as complete as they would
// be otherwise, and none of them ever receives what was meant for standard
// output.
TEST_F(CliTest, StandardOutputThatCannotBeWrittenIsNeverSuccess) {
  using testing::OutputTo;
  const std::vector<std::string> run{"--mailbox", maildir_, "--folder", "Accounting",
                                     "--output",  out_,     "--summary"};
  const Result whole = RunCli(run);
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::string fullacct = ReadFile(out_ + "/fullacct.csv");
  const std::string summary = ReadFile(out_ + "/summary.csv");
  const std::string enospc = "tollbook-cli: write error: No space left on device\n";
  const std::string ebadf = "tollbook-cli: write error: Bad file descriptor\n";
  const std::vector<std::string> dryRun{"--mailbox", maildir_, "--folder", "Accounting",
                                        "--dry-run"};
  const std::vector<std::string> list{"--mailbox", maildir_, "--list-folders"};
  std::vector<std::string> quiet = run;
  quiet.push_back("-q");
  const char *cli = TOLLBOOK_CLI_PATH, *sample = TOLLBOOK_SAMPLE_PATH;
  const OutputTo full = OutputTo::kFullDevice, closed = OutputTo::kClosed,
                 gone = OutputTo::kGonePipe;
  const std::string noAccount =
      "tollbook-cli: cannot open the Maildir " + dir_ / "none" + ": No such file or directory\n" + enospc;
  const std::string sampleEnospc = "tollbook-sample: write error: No space left on device\n";
  const std::string sampleEbadf = "tollbook-sample: write error: Bad file descriptor\n";
  const struct {
    const char* what;
    Invocation invocation;
    int status;  // -1: ended by SIGPIPE
    std::string err;
    bool runs = false;  // writes fullacct.csv and summary.csv
  } cases[] = {
      {"--help, full", {{"--help"}, "", {}, cli, full}, 1, enospc},
      {"--version, closed", {{"--version"}, "", {}, cli, closed}, 1, ebadf},
      {"--help, gone pipe", {{"--help"}, "", {}, cli, gone}, -1, ""},
      {"--list-folders, full", {list, "", {}, cli, full}, 1, enospc},
      {"--list-folders, closed", {list, "", {}, cli, closed}, 1, ebadf},
      {"--dry-run, full", {dryRun, "", {}, cli, full}, 1, enospc},
      {"--dry-run, gone pipe", {dryRun, "", {}, cli, gone}, -1, ""},
      {"run, full", {run, "", {}, cli, full}, 1, enospc, true},
      {"run, closed", {run, "", {}, cli, closed}, 1, ebadf, true},
      {"run, gone pipe", {run, "", {}, cli, gone}, -1, "", true},
      {"quiet run, closed: nothing to write", {quiet, "", {}, cli, closed}, 0, "", true},
      {"no account, full", {{"--mailbox", dir_ / "none"}, "", {}, cli, full}, 3, noAccount},
      {"sample, full", {{dir_ / "s1"}, "", {}, sample, full}, 1, sampleEnospc},
      {"sample, closed", {{dir_ / "s2"}, "", {}, sample, closed}, 1, sampleEbadf},
      {"sample --help, gone pipe", {{"--help"}, "", {}, sample, gone}, -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(out_ + "/fullacct.csv");
    std::filesystem::remove(out_ + "/summary.csv");
    const Result result = RunCli(c.invocation);
    if (c.status == -1) {
      EXPECT_EQ(result.signal, SIGPIPE);
    } else {
      EXPECT_EQ(result.status, c.status);
    }
    EXPECT_EQ(result.err, c.err);
    if (c.runs) {
      EXPECT_EQ(ReadFile(out_ + "/fullacct.csv"), fullacct);
      EXPECT_EQ(ReadFile(out_ + "/summary.csv"), summary);
    }
  }
  EXPECT_TRUE(FileExists(dir_ / "s1/.Accounting/cur"));  // the trees are written all the same
  EXPECT_TRUE(FileExists(dir_ / "s2/.Accounting/cur"));
}

// The same attachments, in the same order, in the in-memory store.
std::shared_ptr<mail::MemoryStore> CopyToMemory(const std::string& maildir, int position,
                                                const std::string& scratch) {
  auto store = std::make_shared<mail::MemoryStore>();
  auto account = mail::CreateSession(maildir)->Login("", "");
  auto messages = account->AllFolders()->Item(position)->Messages(false);
  int count = 0;
  while (auto message = messages->Next()) {
    std::vector<mail::MemoryAttachmentData> attachments;
    auto collection = message->Attachments();
    for (int i = 1; i <= collection->Count(); ++i) {
      auto attachment = collection->Item(i);
      attachment->Save(scratch);
      attachments.push_back({attachment->DisplayName(), ReadFile(scratch)});
    }
    store->AddMessage("Accounting", std::to_string(++count), std::move(attachments));
  }
  return store;
}

TEST_F(CliTest, WritesWhatTheEngineWritesForTheSameAttachments) {
  const Result result = RunCli({"--mailbox", maildir_, "--folder", "ACCOUNTING", "--output", out_,
                             "--summary"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "Accounting Files Processed " + std::to_string(sample_.accountingMessages) + "\n");
  EXPECT_EQ(result.err, "");
  ASSERT_GT(sample_.accountingMessages, 10);

  TempDir engine;
  auto store = CopyToMemory(maildir_, 2, dir_ / "copy");
  auto account = mail::CreateMemorySession(store)->Login("", "");
  RunState state(1000);
  testing::RecordingFrontEnd frontEnd;
  frontEnd.settings.outputFolder = engine.Path();
  frontEnd.settings.fullAccountingPath = engine / "fullacct.csv";
  frontEnd.settings.summaryPath = engine / "summary.csv";
  frontEnd.settings.generateSummary = true;
  ASSERT_EQ(RunProcessing(state, *account, frontEnd), RunOutcome::kCompleted);

  const auto files = ListFolder(engine.Path());
  EXPECT_EQ(files.size(), static_cast<std::size_t>(sample_.accountingMessages) + 3);
  EXPECT_EQ(files[0], kRunLockFileName);
  EXPECT_EQ(ListFolder(out_), files);
  for (const auto& name : files) {
    SCOPED_TRACE(name);
    if (name == kRunLockFileName) continue;  // each holds its own run's pid
    EXPECT_EQ(ReadFile(out_ + "/" + name), ReadFile(engine / name));
  }
  EXPECT_NE(ReadFile(out_ + "/summary.csv"), "");
}

TEST_F(CliTest, DeleteAndCleanupLeaveOnlyTheOtherMessagesAndTheOutputFiles) {
  const auto before = AccountingFiles();
  const Result result =
      RunCli({"--mailbox", "maildir:" + maildir_, "--folder", "accounting", "--output", out_ + "/",
           "--full-file", dir_ / "full.csv", "--summary-file", dir_ / "sum.csv", "--delete",
           "--cleanup", "--summary"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(AccountingFiles().size(), before.size() - static_cast<std::size_t>(sample_.accountingMessages));
  EXPECT_EQ(ListFolder(out_), std::vector<std::string>{kRunLockFileName});
  EXPECT_TRUE(FileExists(dir_ / "full.csv"));
  EXPECT_TRUE(FileExists(dir_ / "sum.csv"));

  const Result again = RunCli({"--mailbox", maildir_, "--folder", "Accounting", "--output", out_});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "No Files to process in this folder.\nAccounting Files Processed 0\n");
}

TEST_F(CliTest, AFailedRunExitsWithOneAndNamesTheCause) {
  const Result result =
      RunCli({"--mailbox", maildir_, "--folder", "Accounting", "--output", out_ + "/missing"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "tollbook-cli: checking the output folder: cannot create a file in " +
                            out_ + "/missing: No such file or directory\n");
  EXPECT_EQ(AccountingFiles().size(), static_cast<std::size_t>(60));
}

// Another process holding the lock of any folder the run writes into (the
// output folder, the full file's, the summary's) makes the run refuse before
// it empties anything, naming that process; once the holder is killed its
// lock is gone and the run goes ahead.
TEST_F(CliTest, ASecondRunOnTheSameFoldersRefusesUntilTheFirstIsGone) {
  const std::string fullDir = dir_ / "full", summaryDir = dir_ / "sum";
  ASSERT_EQ(::mkdir(fullDir.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(summaryDir.c_str(), 0700), 0);
  const std::string full = fullDir + "/fullacct.csv";
  const std::vector<std::string> args{"--mailbox", maildir_, "--folder", "Accounting", "--output",
                                      out_, "--full-file", full, "--summary-file",
                                      summaryDir + "/summary.csv", "--summary", "--delete"};
  struct Row {
    std::string locked;  // the folder the other process holds
    std::string named;   // the path the refusal names
  };
  const std::vector<Row> rows = {{out_, out_},
                                 {fullDir, full},
                                 {summaryDir + "/", summaryDir + "/summary.csv"}};
  testing::WriteFile(full, "last run\r\n");
  for (const Row& row : rows) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      RunLock lock({{row.locked, row.locked}});
      [[maybe_unused]] ssize_t n = ::write(ready[1], "!", 1);
      for (;;) ::pause();
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    const Result refused = RunCli(args);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(refused.status, 1) << row.locked;
    EXPECT_EQ(refused.err, "tollbook-cli: another run (pid " + std::to_string(holder) +
                               ") is writing to " + row.named + "\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(ReadFile(full), "last run\r\n") << row.locked;
    EXPECT_FALSE(FileExists(summaryDir + "/summary.csv")) << row.locked;
    EXPECT_EQ(AccountingFiles().size(), static_cast<std::size_t>(60)) << row.locked;
  }
  const Result after = RunCli(args);
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(AccountingFiles().size(), static_cast<std::size_t>(60 - sample_.accountingMessages));
}

// -q leaves standard output empty, -v tells each step on standard error,
// and --dry-run lists what the run would take, each size that of the scratch
// file the real run then writes, and changes nothing.
TEST_F(CliTest, QuietVerboseAndDryRun) {
  const std::vector<std::string> run = {"--mailbox", maildir_, "--folder", "Accounting", "--output", out_};
  const auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), run.begin(), run.end());
    return RunCli(extra);
  };
  const std::string count = std::to_string(sample_.accountingMessages);

  const Result dry = with({"--dry-run", "--delete", "--summary"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.err, "");
  EXPECT_EQ(ListFolder(out_), std::vector<std::string>{});
  EXPECT_EQ(AccountingFiles().size(), static_cast<std::size_t>(60));
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = dry.out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(dry.out.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(sample_.accountingMessages) + 1) << dry.out;
  EXPECT_EQ(lines.back(), count + " accounting files would be collected and their " + count +
                              " messages deleted.");

  const Result verbose = with({"-v"});
  EXPECT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_EQ(verbose.out, "Accounting Files Processed " + count + "\n");
  std::string expected = "tollbook-cli: opening the Maildir " + maildir_ +
                         "\ntollbook-cli: opened the folder Accounting: 60 messages (read-only)\n";
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    // "maildir UNIQUE-NAME <MESSAGE-ID> "acct" SIZE bytes, would be deleted"
    const std::string n = std::to_string(i + 1);
    EXPECT_TRUE(lines[i].starts_with("maildir 17"));
    const auto blank = lines[i].find(' ', 8);
    const auto quote = lines[i].find(" \"");
    const std::string size = lines[i].substr(lines[i].find("\" ") + 2);
    EXPECT_EQ(size, std::to_string(ReadFile(out_ + "/acct " + n).size()) + " bytes, would be deleted");
    EXPECT_EQ(lines[i].substr(blank + 1, 1), "<");
    expected += "tollbook-cli: saved accounting file " + n + " (" + out_ + "/acct " + n +
                ") of message " + lines[i].substr(0, quote) + "\n";
  }
  EXPECT_EQ(verbose.err, expected);

  const Result quiet = with({"--quiet", "--summary"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(FileExists(out_ + "/summary.csv"));
}

TEST(SampleProgram, UsageAsTollbookCli) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err "": none; out "Usage*": starts so
  } cases[] = {
      {{"--bogus"}, 2, "", "tollbook-sample: unknown option --bogus\nTry 'tollbook-sample --help'.\n"},
      {{"--version"}, 0, "tollbook-sample " TOLLBOOK_VERSION "\n", ""},
      {{"--help"}, 0, "Usage*", ""},
      {{"DIR", "--seed"}, 2, "", "tollbook-sample: --seed needs a value\nTry 'tollbook-sample --help'.\n"},
      {{"A", "B"}, 2, "", "tollbook-sample: more than one directory given\nTry 'tollbook-sample --help'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const Result result = RunCli(Invocation{c.args, "", {}, TOLLBOOK_SAMPLE_PATH});
    EXPECT_EQ(result.status, c.status);
    if (c.out == "Usage*") {
      EXPECT_TRUE(result.out.starts_with("Usage: tollbook-sample DIR")) << result.out;
    } else {
      EXPECT_EQ(result.out, c.out);
    }
    EXPECT_EQ(result.err, c.err);
  }
  // After "--" a name that starts with "-" is the directory.
  TempDir dir;
  const Result dashed = RunCli(Invocation{{"--messages", "2", "--", "-odd"}, dir.Path(), {}, TOLLBOOK_SAMPLE_PATH});
  EXPECT_EQ(dashed.status, 0) << dashed.err;
  EXPECT_TRUE(FileExists(dir / "-odd"));
}

std::int64_t LedgerCount(const std::string& ledger, const char* sql) {
  return ledger::Database(ledger, SQLITE_OPEN_READONLY).QueryInteger(sql);
}

// A deleting run, then the same run again (it finds nothing): the ledger in
// its default place keeps the first run's files, and ledger: gives back that
// run's fullacct.csv and summary.csv byte for byte.
TEST_F(CliTest, TheLedgerKeepsWhatADeletingRunTookAndGivesItBack) {
  const std::map<std::string, std::optional<std::string>> environment{
      {"TOLLBOOK_LEDGER", std::nullopt}, {"XDG_DATA_HOME", dir_ / "data"}};
  const std::string ledger = dir_ / "data/tollbook/ledger.sqlite";
  const std::vector<std::string> run{"--mailbox", maildir_, "--folder", "Accounting", "--delete",
                                     "--cleanup", "--summary", "--output"};
  auto withOutput = [&](std::vector<std::string> args, const std::string& output) {
    args.push_back(output);
    return args;
  };
  const Result first = RunCli({withOutput(run, out_), "", environment});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string full = ReadFile(out_ + "/fullacct.csv"), summary = ReadFile(out_ + "/summary.csv");
  ASSERT_NE(full, "");

  const std::string again = dir_ / "again";
  ASSERT_EQ(::mkdir(again.c_str(), 0700), 0);
  const Result second = RunCli({withOutput(run, again), "", environment});
  EXPECT_EQ(second.out, "No Files to process in this folder.\nAccounting Files Processed 0\n");
  EXPECT_EQ(ReadFile(again + "/fullacct.csv"), "");
  EXPECT_EQ(LedgerCount(ledger, "SELECT count(*) FROM files"), sample_.accountingMessages);
  EXPECT_EQ(LedgerCount(ledger, "SELECT count(*) FROM runs WHERE outcome = 'completed'"), 2);

  const std::string rebuilt = dir_ / "rebuilt";
  ASSERT_EQ(::mkdir(rebuilt.c_str(), 0700), 0);
  const Result fromLedger = RunCli({{"--mailbox", "ledger:", "--folder", "All", "--summary", "--output", rebuilt},
                                    "", environment});
  ASSERT_EQ(fromLedger.status, 0) << fromLedger.err;
  EXPECT_EQ(fromLedger.out, "Accounting Files Processed " + std::to_string(sample_.accountingMessages) + "\n");
  EXPECT_EQ(ReadFile(rebuilt + "/fullacct.csv"), full);
  EXPECT_EQ(ReadFile(rebuilt + "/summary.csv"), summary);
  EXPECT_EQ(LedgerCount(ledger, "SELECT count(*) FROM runs"), 2);  // a run on a ledger records nothing

  const Result deleting = RunCli({{"--mailbox", "ledger:" + ledger, "--delete", "--output", rebuilt}, "", {}});
  EXPECT_EQ(deleting.status, 2);
  EXPECT_EQ(deleting.err, "tollbook-cli: --delete: the mailbox ledger:" + ledger +
                              " is a ledger, which is read-only; run without --delete\n"
                              "Try 'tollbook-cli --help'.\n");
}

// Runs that keep their messages, repeated: each file is stored once and then
// seen; ledger: has a folder per month of the Date header (the collection
// month without one), and a month's folder gives that month's files only.
TEST(CliLedger, RepeatedRunsStoreOnceAndMonthFoldersHoldTheirMonth) {
  TempDir dir;
  testing::MaildirFixture mail(dir / "Maildir");
  const std::string original = "Date: Fri, 1 Mar 2024 10:00:00 +0000\n";
  const struct {
    const char* date;  // the Date field, or "" for none
    const char* content;
  } messages[] = {{"Tue, 3 Nov 2026 10:00:00 +0000", "nov,1\r\n"},
                  {"Thu, 1 Oct 2026 09:00:00 +0200", "oct,1\r\n"},
                  {"", "undated,1\r\n"},
                  {"30 Nov 2026 23:00 -0500", "nov,2\r\n"}};
  int n = 0;
  for (const auto& m : messages) {
    std::string text = testing::MultipartMessage("acct", {testing::AttachmentPart("acct", m.content)});
    text.replace(text.find(original), original.size(), *m.date ? std::string("Date: ") + m.date + "\n" : "");
    mail.Deliver("", "cur", std::to_string(++n) + ".host:2,S", text);
  }
  const std::string ledger = dir / "ledger.sqlite";
  for (int i = 0; i < 2; ++i) {
    const Result result = RunCli({"--mailbox", dir / "Maildir", "--output", dir.Path(), "--ledger", ledger});
    ASSERT_EQ(result.status, 0) << result.err;
  }
  EXPECT_EQ(LedgerCount(ledger, "SELECT count(*) FROM files"), 4);
  EXPECT_EQ(LedgerCount(ledger, "SELECT count(*) FROM sightings"), 4);

  char now[8];
  const std::time_t t = std::time(nullptr);
  std::strftime(now, sizeof now, "%Y-%m", std::gmtime(&t));
  const Result folders = RunCli({"--mailbox", "ledger:" + ledger, "--list-folders"});
  EXPECT_EQ(folders.out, std::string("All\n2026-10\n2026-11\n") + now + "\n");
  const Result november = RunCli({"--mailbox", "ledger:" + ledger, "--folder", "2026-11", "--output", dir.Path()});
  ASSERT_EQ(november.status, 0) << november.err;
  const std::string full = ReadFile(dir / "fullacct.csv");
  EXPECT_NE(full.find("nov,1\r\n"), std::string::npos) << full;
  EXPECT_NE(full.find("nov,2\r\n"), std::string::npos) << full;
  EXPECT_EQ(full.find("oct,1"), std::string::npos) << full;
}

// The report of a run over both flavours agrees with its summary; the report
// of the ledger's month of that run, written without --summary, gives the
// same figures and no summary file.
TEST_F(CliTest, TheReportOfARunAndOfALedgerMonthAgreeWithTheSummary) {
  const std::string ledger = dir_ / "ledger.sqlite";
  const Result result = RunCli({"--mailbox", maildir_, "--folder", "Accounting", "--output", out_,
                                "--summary", "--report", dir_ / "run.html", "--ledger", ledger});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string full = ReadFile(out_ + "/fullacct.csv");
  ASSERT_NE(full.find("Sender,AccountID,"), std::string::npos) << "both flavours";
  ASSERT_NE(full.find("IN/OUT Indicator,Date,"), std::string::npos) << "both flavours";
  const std::string summary = ReadFile(out_ + "/summary.csv");
  const std::string page = ReadFile(dir_ / "run.html");
  testing::ExpectReportAgreesWithSummary(page, summary);
  EXPECT_NE(page.find("<dd>" + maildir_ + "</dd>"), std::string::npos);

  const Result folders = RunCli({"--mailbox", "ledger:" + ledger, "--list-folders"});
  ASSERT_EQ(folders.out, "All\n2024-03\n");
  const std::string month = dir_ / "month";
  ASSERT_EQ(::mkdir(month.c_str(), 0700), 0);
  const Result again = RunCli({"--mailbox", "ledger:" + ledger, "--folder", "2024-03", "--output",
                               month, "--report", month + "/march.html"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_FALSE(FileExists(month + "/summary.csv"));
  testing::ExpectReportAgreesWithSummary(ReadFile(month + "/march.html"), summary);
}

// A ledger that is not SQLite, or that another program holds locked, fails
// the run before any message is deleted, naming the ledger and the cause;
// the file stays as it was.
TEST_F(CliTest, ABrokenLedgerFailsTheRunBeforeAnythingIsDeleted) {
  const std::string damaged = dir_ / "damaged.sqlite", locked = dir_ / "locked.sqlite";
  testing::WriteFile(damaged, "not a database, just text that someone saved here\n");
  {
    ledger::Database db(locked, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Execute("PRAGMA journal_mode = WAL");
  }
  ASSERT_EQ(RunCli({"--mailbox", maildir_, "--folder", "Accounting", "--output", out_, "--ledger", locked})
                .status,
            0);
  ledger::Database holder(locked, SQLITE_OPEN_READWRITE);
  holder.Execute("BEGIN EXCLUSIVE; DELETE FROM sightings");
  const struct {
    std::string ledger;
    const char* cause;
  } cases[] = {{damaged, ": file is not a database"}, {locked, ": database is locked"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ledger);
    const Result result = RunCli({"--mailbox", maildir_, "--folder", "Accounting", "--output", out_,
                                  "--delete", "--ledger", c.ledger});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(c.ledger + c.cause), std::string::npos) << result.err;
    EXPECT_EQ(AccountingFiles().size(), static_cast<std::size_t>(60));
  }
  EXPECT_EQ(ReadFile(damaged), "not a database, just text that someone saved here\n");
}

TEST(SampleProgram, WritesAMailboxOnceAndRefusesASecond) {
  TempDir dir;
  const Invocation write{{dir / "Maildir", "--messages", "5", "--seed", "9"}, "", {},
                         TOLLBOOK_SAMPLE_PATH};
  const Result first = RunCli(write);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(first.out.starts_with("Wrote the sample mailbox " + dir / "Maildir" +
                                    ": 5 messages in its Accounting folder, "))
      << first.out;
  const Result second = RunCli(write);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "tollbook-sample: cannot write a sample mailbox into " + dir / "Maildir" +
                            ": it holds a mailbox already\n");
  const Result bad = RunCli(Invocation{{dir / "Other", "--messages", "many"}, "", {},
                                       TOLLBOOK_SAMPLE_PATH});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(bad.err.starts_with("tollbook-sample: --messages: not a valid number: many\n"))
      << bad.err;
  EXPECT_FALSE(FileExists(dir / "Other"));
}

}  // namespace
}  // namespace tollbook
