// Full disks: the run is given less room than its output needs, at every size
// from almost nothing to enough, through a file-size limit (EFBIG, any user)
// and a small tmpfs (ENOSPC, when the tests may mount). Every failure names the
// file that could not be written, and no message is deleted unless all its
// lines (and its kept scratch file) were written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <set>
#include <string>
#include <vector>

#include "hardening/hardening_support.h"
#include "base/errors.h"
#include "ledger/recorder.h"
#include "ledger/sqlite_db.h"

namespace tollbook::testing {
namespace {

// Short "other" lines, one user and one date per line, so that the summary
// file outgrows the full accounting file.
std::vector<std::string> ManyUsers(int files, int lines) {
  std::vector<std::string> attachments;
  for (int f = 1; f <= files; ++f) {
    std::string text;
    for (int l = 1; l <= lines; ++l) {
      const std::string id = std::to_string(f) + "-" + std::to_string(l);
      text += "u" + id + ",1,,,,d" + id + ",,,,," + std::to_string(l) + ",O\r\n";
    }
    attachments.push_back(text);
  }
  return attachments;
}

// Long "smtp" lines: the full accounting file and the scratch files grow fast.
std::vector<std::string> LongLines(int files, int lines) {
  std::vector<std::string> attachments;
  for (int f = 1; f <= files; ++f) {
    std::string text;
    for (int l = 1; l <= lines; ++l) {
      text += "I,d,t,MSG" + std::to_string(f) + "-" + std::to_string(l) +
              ",Mail,Normal,DOM,PO,user" + std::to_string(l % 7) + ",ACC," +
              std::string(200, 's') + ",G,GATE,F,SMTP,ADDR,1,0,100,X\r\n";
    }
    attachments.push_back(text);
  }
  return attachments;
}

// Checks one run that had too little room; returns what went wrong, or "".
std::string CheckLimitedRun(const RunReport& report, const std::vector<std::string>& attachments,
                            const std::string& folder, bool cleanup, const char* errorText) {
  std::string problems;
  if (!report.completed) {
    const bool namesFile = report.failure.find(folder + "/fullacct.csv") != std::string::npos ||
                           report.failure.find(folder + "/summary.csv") != std::string::npos ||
                           report.failure.find(folder + "/acct ") != std::string::npos;
    if (!namesFile) problems += "failure names no output file: " + report.failure + "; ";
    if (report.failure.find(errorText) == std::string::npos) {
      problems += "failure lacks \"" + std::string(errorText) + "\": " + report.failure + "; ";
    }
  }
  const std::string fullacct =
      FileExists(folder + "/fullacct.csv") ? ReadFile(folder + "/fullacct.csv") : "";
  problems += LostLines(attachments, report.deleted, fullacct, cleanup ? "" : folder);
  return problems;
}

struct Scenario {
  const char* name;
  std::vector<std::string> attachments;
  bool cleanup;
};

std::vector<Scenario> Scenarios() {
  return {{"LongLinesKeepingScratchFiles", LongLines(6, 40), false},
          {"LongLinesWithCleanup", LongLines(6, 40), true},
          {"ManyUsersSummaryOutgrowsFullacct", ManyUsers(4, 150), true}};
}

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class DiskFull : public ::testing::TestWithParam<Scenario> {};

TEST_P(DiskFull, FileSizeLimitAtEverySize) {
  const Scenario& scenario = GetParam();
  int failures = 0;
  for (rlim_t limit = 0; limit < 160 * 1024; limit += 3000) {
    TempDir dir;
    const std::string text = RunInChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG
      rlimit rl{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &rl);
      auto store = AccountingStore(scenario.attachments);
      RecordingFrontEnd frontEnd;
      frontEnd.recordPositions = false;
      frontEnd.settings = FolderSettings(dir.Path(), scenario.cleanup);
      return RunOnStore(store, frontEnd).Text();
    });
    ASSERT_EQ(text.rfind("child died", 0), std::string::npos) << text;
    const RunReport report = RunReport::FromText(text);
    failures += report.completed ? 0 : 1;
    EXPECT_EQ(CheckLimitedRun(report, scenario.attachments, dir.Path(), scenario.cleanup,
                              "File too large"),
              "")
        << "limit " << limit << ": " << text;
  }
  EXPECT_GE(failures, 3);  // the sweep really ran out of room
}

TEST_P(DiskFull, SmallTmpfsAtEverySize) {
  const Scenario& scenario = GetParam();
  int failures = 0;
  for (std::size_t size = 4096; size <= 200 * 1024; size += 8192) {
    TempDir dir;
    TmpfsMount mount(dir.Path(), size);
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (not root)";
    auto store = AccountingStore(scenario.attachments);
    RecordingFrontEnd frontEnd;
    frontEnd.recordPositions = false;
    frontEnd.settings = FolderSettings(dir.Path(), scenario.cleanup);
    const RunReport report = RunOnStore(store, frontEnd);
    failures += report.completed ? 0 : 1;
    EXPECT_EQ(CheckLimitedRun(report, scenario.attachments, dir.Path(), scenario.cleanup,
                              "No space left on device"),
              "")
        << "tmpfs of " << size << " bytes: " << report.Text();
  }
  EXPECT_GE(failures, 3);
}

INSTANTIATE_TEST_SUITE_P(Table, DiskFull, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

// The ledger on a small tmpfs, at every size, and on a read-only one: a run
// that cannot record fails naming the ledger and the cause, and deletes no
// message whose file the ledger does not hold.
TEST(DiskFullLedger, ARunThatCannotRecordNamesTheLedgerAndKeepsItsMessages) {
  const auto attachments = LongLines(6, 40);
  int failures = 0;
  for (std::size_t size = 8192; size <= 256 * 1024 + 8192; size += 16384) {
    const bool readOnly = size > 256 * 1024;
    TempDir dir, ledgerDir;
    TmpfsMount mount(ledgerDir.Path(), size, readOnly);
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (not root)";
    const std::string path = ledgerDir / "ledger.sqlite";
    auto store = AccountingStore(attachments);
    RecordingFrontEnd frontEnd;
    frontEnd.recordPositions = false;
    frontEnd.settings = FolderSettings(dir.Path(), true);
    auto recorder = ledger::CreateLedgerRecorder(path, "memory");
    const RunReport report = RunOnStore(store, frontEnd, recorder.get());
    recorder.reset();
    SCOPED_TRACE("tmpfs of " + std::to_string(size) + " bytes: " + report.Text());
    if (!report.completed) {
      ++failures;
      EXPECT_NE(report.failure.find(path + ": "), std::string::npos);
      const auto names = [&](const char* cause) { return report.failure.find(cause) != std::string::npos; };
      EXPECT_TRUE(readOnly ? names("Read-only file system")
                           : names("database or disk is full") || names("No space left on device"));
    }
    std::set<std::string> stored;
    try {
      ledger::Database db(path, SQLITE_OPEN_READONLY);
      ledger::Statement files(db, "SELECT content FROM files");
      while (files.Step()) stored.insert(files.Text(0));
    } catch (const tollbook::Failure&) {  // no ledger or one without its tables: nothing stored
    }
    for (const auto& id : report.deleted) {
      EXPECT_EQ(stored.count(attachments[std::stoul(id.substr(1)) - 1]), 1u) << id;
    }
  }
  EXPECT_GE(failures, 3);
}

// The summary alone does not fit: the error names summary.csv, and the
// messages (whose lines are complete and synced in fullacct.csv) are deleted.
TEST(DiskFullSummary, NamesTheSummaryFile) {
  TempDir dir;
  const auto attachments = ManyUsers(2, 300);
  const std::string text = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{24000, 24000};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    auto store = AccountingStore(attachments);
    RecordingFrontEnd frontEnd;
    frontEnd.recordPositions = false;
    frontEnd.settings = FolderSettings(dir.Path(), true);
    return RunOnStore(store, frontEnd).Text();
  });
  const std::string summary = dir / "summary.csv";
  EXPECT_EQ(text, "failed: writing the summary " + summary + ": cannot write " + summary +
                      ": File too large\ndeleted: m1 m2");
  EXPECT_EQ(ReadFile(dir / "fullacct.csv").size(),
            std::string("Sender,AccountID,BillTo,MsgSubject,MsgPriority,Date,Time,GWType,"
                        "ForeignType,NoAttmnts,ByteSize,SenderDomain,SenderPO,GateDomain,"
                        "GateName,NoRecipients,DestUser,rs,In/Out Indicator\r\n")
                    .size() +
                attachments[0].size() + attachments[1].size());
}

}  // namespace
}  // namespace tollbook::testing
