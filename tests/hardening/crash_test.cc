// Crash safety of a deleting run: tollbook-cli --delete --summary (with and
// without --cleanup) on a real Maildir is killed with SIGKILL at every kill
// point of every kind (save, ledger, merge, mark, cleanup, ledger-sync, sync,
// commit, expunge, summary) and at random moments, recording into a ledger.
// After each kill every accounting message is either still in the folder,
// byte for byte, or all its lines are in fullacct.csv (and its scratch file
// unless cleaned up) and its file is in the ledger; no other message is
// touched; and a second run completes and takes the rest, after which the
// ledger holds every accounting file exactly once. A stop signal raised at a
// chosen point stops the run cleanly right there: the closing message and exit
// status 128 + the signal, fullacct.csv holding exactly the lines of the
// handled files, the handled messages (and only they) gone. SIGINT at random
// moments leaves a stop or a completed run, whichever it hit, and nothing lost.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hardening/crash_harness.h"
#include "hardening/hardening_support.h"
#include "support/test_support.h"

namespace tollbook::testing {
namespace {

// The folders of these tests live in /dev/shm when there is one: a killed
// process leaves the same files on any file system, and syncs there are free.
const bool kInMemory = [] {
  if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
  return true;
}();

constexpr int kAccountingMessages = 50;

// Every n-th kill point is tried (TOLLBOOK_CRASH_STRIDE, default 1: all).
int Stride() {
  const char* value = std::getenv("TOLLBOOK_CRASH_STRIDE");
  const int stride = value != nullptr ? std::atoi(value) : 1;
  return stride > 0 ? stride : 1;
}

class CrashSafety : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    messages_ = CrashMessages(kAccountingMessages);
    WriteCrashMaildir(template_ / "mail", messages_);
    for (const auto& m : messages_) {
      if (!m.accounting) untouched_.push_back(m.name);
    }
  }

  // ledger: the ledger the run records into; none when empty.
  std::vector<std::string> Args(const std::string& mail, const std::string& out,
                                const std::string& ledger = "") const {
    std::vector<std::string> args{"--mailbox", mail, "--output", out, "--delete", "--summary"};
    if (!ledger.empty()) args.insert(args.end(), {"--ledger", ledger});
    if (GetParam()) args.push_back("--cleanup");
    return args;
  }

  // One killed run on a fresh copy of the folder, the check, and the second
  // run. Returns false when the run was not killed (the point lies past the end).
  bool KillAndRecover(const std::string& killAt, long killAfterMicros) {
    TempDir dir;
    const std::string mail = dir / "mail", out = dir / "out", again = dir / "again";
    const std::string ledger = CrashLedger(dir.Path());
    std::filesystem::copy(template_ / "mail", mail, std::filesystem::copy_options::recursive);
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(again);
    const std::string program = killAt.empty() ? TOLLBOOK_CLI_PATH : TOLLBOOK_CLI_FAULTS_PATH;
    const ProcessResult killed = RunProgram(program, Args(mail, out, ledger), killAt, killAfterMicros);
    const std::string where = killAt.empty() ? "after " + std::to_string(killAfterMicros) + " us"
                                             : "at " + killAt;
    EXPECT_EQ(CheckNothingLost(messages_, mail, {out}, GetParam(), ledger), "") << "killed " << where;

    const ProcessResult second = RunProgram(TOLLBOOK_CLI_PATH, Args(mail, again, ledger));
    EXPECT_EQ(second.exitCode, 0) << "second run after the kill " << where << ": " << second.output;
    EXPECT_EQ(CheckNothingLost(messages_, mail, {out, again}, GetParam(), ledger), "")
        << "second run, " << where;
    EXPECT_EQ(CheckStoredOnce(messages_, ledger), "") << "second run, " << where;
    EXPECT_EQ(RemainingMessages(mail), untouched_) << "second run, " << where;
    if (!killed.killed) {
      EXPECT_TRUE(killAt.empty()) << killAt << " was never reached: " << killed.output;
    }
    return killed.killed;
  }

  // SIGINT after `micros` into a run on a fresh copy, the checks of a clean
  // stop, and the second run. Returns true when the run was stopped.
  bool InterruptAndRecover(long micros) {
    TempDir dir;
    const std::string mail = dir / "mail", out = dir / "out", again = dir / "again";
    std::filesystem::copy(template_ / "mail", mail, std::filesystem::copy_options::recursive);
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(again);
    const ProcessResult run = RunProgram(TOLLBOOK_CLI_PATH, Args(mail, out), "", micros, SIGINT);
    const std::string where = "SIGINT after " + std::to_string(micros) + " us: " + run.output;
    EXPECT_EQ(CheckNothingLost(messages_, mail, {out}, GetParam()), "") << where;
    const std::string full = FileExists(out + "/fullacct.csv") ? ReadFile(out + "/fullacct.csv") : "";
    EXPECT_TRUE(full.empty() || full.ends_with("\r\n")) << where;
    const std::size_t gone = messages_.size() - RemainingMessages(mail).size();
    std::size_t scratch = 0;
    for (const auto& name : ListFolder(out)) {
      if (name.starts_with("acct ")) {
        ++scratch;
      } else {
        EXPECT_TRUE(name == ".tollbook.lock" || name == "fullacct.csv" || name == "summary.csv")
            << name << " left, " << where;
      }
    }
    EXPECT_EQ(scratch, GetParam() ? 0 : gone) << where;

    bool stopped = false;
    if (run.signal == SIGINT) {
      EXPECT_EQ(gone, 0u) << "died before the handlers were set, " << where;
    } else if (run.exitCode == 0) {
      EXPECT_EQ(gone, static_cast<std::size_t>(kAccountingMessages)) << where;
    } else if (run.output == "tollbook-cli: interrupted before the run started; nothing was written\n") {
      EXPECT_EQ(run.exitCode, 130);
      EXPECT_FALSE(FileExists(out + "/fullacct.csv")) << where;
    } else {
      stopped = true;
      EXPECT_EQ(run.exitCode, 130) << where;
      EXPECT_EQ(run.output, "tollbook-cli: interrupted after " + std::to_string(gone) +
                                " accounting files; fullacct.csv holds their lines\n");
      EXPECT_FALSE(FileExists(out + "/summary.csv")) << where;
    }

    const ProcessResult second = RunProgram(TOLLBOOK_CLI_PATH, Args(mail, again));
    EXPECT_EQ(second.exitCode, 0) << "second run, " << where << ": " << second.output;
    EXPECT_EQ(CheckNothingLost(messages_, mail, {out, again}, GetParam()), "") << where;
    EXPECT_EQ(RemainingMessages(mail), untouched_) << "second run, " << where;
    return stopped;
  }

  // fullacct.csv of an uninterrupted run over the whole folder.
  std::string WholeRunFullAccounting() const {
    TempDir dir;
    std::filesystem::copy(template_ / "mail", dir / "mail",
                          std::filesystem::copy_options::recursive);
    const ProcessResult whole = RunProgram(TOLLBOOK_CLI_PATH, Args(dir / "mail", dir.Path()));
    EXPECT_EQ(whole.exitCode, 0) << whole.output;
    return ReadFile(dir / "fullacct.csv");
  }

  TempDir template_;
  std::vector<CrashMessage> messages_;
  std::vector<std::string> untouched_;
};

TEST_P(CrashSafety, MaildirKilledAtEveryPoint) {
  const bool cleanup = GetParam();
  const int n = kAccountingMessages;
  const std::vector<std::pair<std::string, int>> points = {
      {"save", n},  {"ledger", n}, {"merge", n},   {"mark", n},       {"cleanup", cleanup ? n : 0},
      {"ledger-sync", 1}, {"sync", 1}, {"commit", 1}, {"expunge", n}, {"summary", 1}};
  int kills = 0;
  for (const auto& [point, count] : points) {
    for (int i = 1; i <= count; i += (count > 1 ? Stride() : 1)) {
      kills += KillAndRecover(point + ":" + std::to_string(i), -1) ? 1 : 0;
      if (HasFailure()) return;
    }
  }
  std::printf("maildir kill points (cleanup %d): %d\n", cleanup, kills);
  RecordProperty("kill_points", kills);
  EXPECT_GE(kills, (cleanup ? 6 : 5) * n / Stride());
}

// SIGKILL at random moments of a whole run (seeded: the same moments every time).
TEST_P(CrashSafety, MaildirKilledAtRandomMoments) {
  TempDir dir;
  std::filesystem::copy(template_ / "mail", dir / "mail", std::filesystem::copy_options::recursive);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult whole =
      RunProgram(TOLLBOOK_CLI_PATH, Args(dir / "mail", dir.Path(), CrashLedger(dir.Path())));
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  std::mt19937 random(GetParam() ? 7 : 11);
  std::uniform_int_distribution<long> moment(0, micros);
  int kills = 0;
  for (int i = 0; i < 30 / Stride() + 1; ++i) {
    kills += KillAndRecover("", moment(random)) ? 1 : 0;
    if (HasFailure()) return;
  }
  std::printf("random kills (cleanup %d): %d of %d within a %ld us run\n", GetParam(), kills,
              30 / Stride() + 1, static_cast<long>(micros));
}

// SIGINT at random moments of a whole run (seeded). Wherever it lands the run
// either stops cleanly or completes; how many moments fall mid-run depends on
// the machine, so it is printed, not judged.
TEST_P(CrashSafety, MaildirInterruptedAtRandomMoments) {
  TempDir dir;
  std::filesystem::copy(template_ / "mail", dir / "mail", std::filesystem::copy_options::recursive);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult whole = RunProgram(TOLLBOOK_CLI_PATH, Args(dir / "mail", dir.Path()));
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  std::mt19937 random(GetParam() ? 13 : 17);
  std::uniform_int_distribution<long> moment(0, micros);
  const int tries = 30 / Stride() + 1;
  int stops = 0;
  for (int i = 0; i < tries; ++i) {
    stops += InterruptAndRecover(moment(random)) ? 1 : 0;
    if (HasFailure()) return;
  }
  std::printf("interrupts (cleanup %d): %d clean stops mid-run of %d within a %ld us run\n",
              GetParam(), stops, tries, static_cast<long>(micros));
}

// A stop signal raised at a chosen point (by the armed fault points of
// tollbook-cli-faults) stops the run at the end of that accounting file.
TEST_P(CrashSafety, MaildirStoppedAtChosenPoints) {
  const bool cleanup = GetParam();
  const std::string whole = WholeRunFullAccounting();
  std::vector<const CrashMessage*> accounting;
  for (const auto& m : messages_) {
    if (m.accounting) accounting.push_back(&m);
  }
  const struct {
    std::string point;
    int signal;
    std::size_t handled;  // accounting files the run has handled when it stops
  } stops[] = {
      {"save:1:INT", SIGINT, 1},      {"ledger:9:HUP", SIGHUP, 9},
      {"merge:17:TERM", SIGTERM, 17}, {"mark:30:INT", SIGINT, 30},
      {"save:50:TERM", SIGTERM, 50},  {"commit:1:INT", SIGINT, 50},  // after the walk
  };
  for (const auto& stop : stops) {
    SCOPED_TRACE(stop.point);
    TempDir dir;
    const std::string mail = dir / "mail", out = dir / "out", again = dir / "again";
    const std::string ledger = dir / "ledger.sqlite";
    std::filesystem::copy(template_ / "mail", mail, std::filesystem::copy_options::recursive);
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(again);
    const ProcessResult run =
        RunProgram(TOLLBOOK_CLI_FAULTS_PATH, Args(mail, out, ledger), stop.point);
    EXPECT_EQ(run.exitCode, 128 + stop.signal) << run.output;
    EXPECT_EQ(run.output, "tollbook-cli: interrupted after " + std::to_string(stop.handled) +
                              " accounting files; fullacct.csv holds their lines\n");

    const std::string last = AsMerged(accounting[stop.handled - 1]->attachment);
    const std::size_t end = whole.find(last);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(ReadFile(out + "/fullacct.csv"), whole.substr(0, end + last.size()));
    EXPECT_FALSE(FileExists(out + "/summary.csv"));

    std::vector<std::string> remaining;
    std::vector<CrashMessage> handled;
    std::multiset<std::string> scratch;
    for (const auto& m : messages_) {
      const bool gone = m.accounting && handled.size() < stop.handled;
      if (gone) {
        handled.push_back(m);
        if (!cleanup) scratch.insert(m.attachment);
      } else {
        remaining.push_back(m.name);
      }
    }
    EXPECT_EQ(RemainingMessages(mail), remaining);
    std::multiset<std::string> scratchLeft;
    for (const auto& name : ListFolder(out)) {
      if (name.starts_with("acct ")) scratchLeft.insert(ReadFile(out + "/" + name));
    }
    EXPECT_TRUE(scratchLeft == scratch) << scratchLeft.size() << " scratch files left";
    EXPECT_EQ(CheckStoredOnce(handled, ledger), "");

    const ProcessResult second = RunProgram(TOLLBOOK_CLI_PATH, Args(mail, again, ledger));
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(CheckNothingLost(messages_, mail, {out, again}, cleanup, ledger), "");
    EXPECT_EQ(CheckStoredOnce(messages_, ledger), "");
    EXPECT_EQ(RemainingMessages(mail), untouched_);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Cleanup, CrashSafety, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithCleanup" : "KeepingScratchFiles"; });

}  // namespace
}  // namespace tollbook::testing
