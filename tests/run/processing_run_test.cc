#include "run/output_paths.h"
#include "run/processing_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounting/merge.h"
#include "support/memory_source.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using mail::MemoryAttachmentData;
using testing::FileExists;
using testing::ListFolder;
using testing::ReadFile;
using testing::TempDir;

const std::string kSmtpHeaderLine = std::string(kSmtpHeader) + "\r\n";
const std::string kOtherHeaderLine = std::string(kOtherHeader) + "\r\n";

std::string Smtp(const std::string& dir, const std::string& date, const std::string& user,
                 const std::string& bytes) {
  return dir + "," + date + ",10:15,MSG,Mail,Normal,DOM,PO1," + user +
         ",ACC,Subject,GDOM,GATE,F,SMTP,ADDR,1,0," + bytes + ",X";
}

class ProcessingRunTest : public ::testing::Test {
 protected:
  ProcessingRunTest() {
    store->folders.push_back({"INBOX", {}});
    frontEnd.settings.outputFolder = out.Path();
    frontEnd.settings.fullAccountingPath = out / "fullacct.csv";
    frontEnd.settings.summaryPath = out / "summary.csv";
  }

  RunOutcome Run() {
    auto account = mail::CreateMemorySession(store)->Login("", "");
    return RunProcessing(state, *account, frontEnd, &counts);
  }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const auto& e : frontEnd.events) {
      if (e.starts_with("box ")) boxes.push_back(e);
    }
    return boxes;
  }

  std::shared_ptr<mail::MemoryStore> store = std::make_shared<mail::MemoryStore>();
  RunState state{100};
  TempDir out;
  testing::RecordingFrontEnd frontEnd;
  RunCounts counts;
};

TEST_F(ProcessingRunTest, OnlyAFirstAttachmentNamedAcctIsHandled) {
  struct Case {
    std::vector<std::string> names;
    bool handled;
  };
  const std::vector<Case> cases = {
      {{"acct"}, true},
      {{"ACCT"}, true},
      {{"Acct", "notes"}, true},
      {{"notes", "acct", "acct"}, false},
      {{"acct.csv"}, false},
      {{" acct"}, false},
      {{"acct "}, false},
      {{}, false},
  };
  int id = 0;
  std::string expected = kOtherHeaderLine;
  for (const auto& c : cases) {
    std::vector<MemoryAttachmentData> attachments;
    const std::string line = "m" + std::to_string(++id) + ",x";
    for (const auto& name : c.names) attachments.push_back({name, line + "\r\n"});
    store->AddMessage("INBOX", "m" + std::to_string(id), attachments);
    if (c.handled) expected += line + "\r\n";
  }
  frontEnd.settings.deleteMessages = true;
  EXPECT_EQ(Run(), RunOutcome::kCompleted);
  EXPECT_EQ(counts.accountingFiles, 3);
  EXPECT_EQ(counts.messages, 8);
  EXPECT_EQ(ReadFile(out / "fullacct.csv"), expected);
  EXPECT_EQ(store->deletedIds, (std::vector<std::string>{"m1", "m2", "m3"}));
  EXPECT_EQ(ListFolder(out.Path()),
            (std::vector<std::string>{".tollbook.lock", "acct 1", "acct 2", "acct 3",
                                      "fullacct.csv"}));
  EXPECT_EQ(ReadFile(out / "acct 2"), "m2,x\r\n");
}

TEST_F(ProcessingRunTest, FullRunWithSummaryAndTheUserSeesWhatHappened) {
  store->AddMessage("INBOX", "a", {{"acct", Smtp("I", "12/01/99", "ann", "400") + "\r\n" +
                                                Smtp("O", "12/01/99", "bob", "300") + "\r\n"}});
  store->AddMessage("INBOX", "b", {{"note", "x"}});
  store->AddMessage("INBOX", "c", {{"acct", Smtp("i", "12/02/99", "ANN", "50")}});
  frontEnd.settings.generateSummary = true;
  EXPECT_EQ(Run(), RunOutcome::kCompleted);

  EXPECT_EQ(ReadFile(out / "fullacct.csv"),
            kSmtpHeaderLine + Smtp("I", "12/01/99", "ann", "400") + "\r\n" +
                Smtp("O", "12/01/99", "bob", "300") + "\r\n" + Smtp("i", "12/02/99", "ANN", "50") +
                "\r\n");
  EXPECT_EQ(ReadFile(out / "summary.csv"),
            "Summary Report by Day\r\n"
            "Date,Bytes In,Bytes Out,Total Bytes\r\n"
            "12/01/99, 400, 300, 700\r\n"
            "12/02/99, 50, 0, 50\r\n"
            "Totals, 450, 300, 750\r\n"
            "\r\n"
            "Summary Report by User\r\n"
            "User,Bytes In,Bytes Out,Total Bytes\r\n"
            "PO1.ANN, 450, 0, 450\r\n"
            "PO1.bob, 0, 300, 300\r\n");
  EXPECT_EQ(frontEnd.events,
            (std::vector<std::string>{
                "busy on", "progress Processing File . . .", "current 1",
                "progress Processing File . . .", "current 2", "progress Summerize by Day",
                "current  1 of  3", "current  2 of  3", "current  3 of  3",
                "progress Summerize by User", "current  1 of  3", "current  2 of  3",
                "current  3 of  3", "busy off",
                "box Gateway Accounting|information|Accounting Files Processed 2", "progress ",
                "current "}));
  EXPECT_TRUE(store->deletedIds.empty());
  EXPECT_EQ(state.RecordCount, 0) << "the run state is reset at the end";
  EXPECT_EQ(state.RecordUser[1], "");
  EXPECT_EQ(state.RecordBytes[1], "");
}

TEST_F(ProcessingRunTest, EmptyFolderGivesAnEmptyFileAndBothBoxes) {
  store->AddMessage("INBOX", "x", {{"notes", "a"}});
  testing::WriteFile(out / "fullacct.csv", "old");
  testing::WriteFile(out / "summary.csv", "old summary");
  frontEnd.settings.generateSummary = true;
  EXPECT_EQ(Run(), RunOutcome::kCompleted);
  EXPECT_EQ(ReadFile(out / "fullacct.csv"), "");
  EXPECT_EQ(ReadFile(out / "summary.csv"), "old summary");
  EXPECT_EQ(frontEnd.events,
            (std::vector<std::string>{"busy on", "box |none|No Files to process in this folder.",
                                      "busy off",
                                      "box Gateway Accounting|information|Accounting Files Processed 0",
                                      "progress ", "current "}));
}

TEST_F(ProcessingRunTest, FolderChosenByListIndex) {
  store->folders.push_back({"Accounting", {}});
  store->folders.push_back({"Other", {}});
  store->AddMessage("INBOX", "inbox", {{"acct", "inbox,1"}});
  store->AddMessage("Accounting", "acc", {{"acct", "accounting,1"}});
  store->AddMessage("Other", "other", {{"acct", "other,1"}});
  const std::vector<std::pair<int, std::string>> cases = {
      {-1, "inbox,1"}, {0, "inbox,1"}, {1, "inbox,1"}, {2, "accounting,1"}, {3, "other,1"}};
  for (const auto& [index, line] : cases) {
    frontEnd.settings.folderIndex = index;
    EXPECT_EQ(Run(), RunOutcome::kCompleted) << index;
    EXPECT_EQ(ReadFile(out / "fullacct.csv"), kOtherHeaderLine + line + "\r\n") << index;
  }
  frontEnd.settings.folderIndex = 4;
  EXPECT_EQ(Run(), RunOutcome::kFailed);
  EXPECT_EQ(frontEnd.failures.back(), "opening the folder: no folder at position 4");
}

TEST_F(ProcessingRunTest, ScratchFileNames) {
  EXPECT_EQ(ScratchFilePath("/srv/reports", false, 1), "/srv/reports/acct 1");
  EXPECT_EQ(ScratchFilePath("/", true, 12), "/acct 12");
  EXPECT_EQ(OutputFilePath("/srv/reports", "fullacct.csv"), "/srv/reports/fullacct.csv");
  EXPECT_EQ(OutputFilePath("/", "summary.csv"), "/summary.csv");
}

TEST_F(ProcessingRunTest, DeletionsCommitOnlyAfterTheMergedLinesAreSynced) {
  for (int i = 1; i <= kDeletionBatch + 2; ++i) {
    store->AddMessage("INBOX", "m" + std::to_string(i), {{"acct", "u,x,,,,d,,,,,1"}});
  }
  store->AddMessage("INBOX", "keep", {{"other", "x"}});
  frontEnd.settings.deleteMessages = true;
  frontEnd.settings.cleanupTempFiles = true;
  EXPECT_EQ(Run(), RunOutcome::kCompleted);
  EXPECT_EQ(store->deletedIds.size(), static_cast<std::size_t>(kDeletionBatch + 2));
  EXPECT_EQ(std::count(store->events.begin(), store->events.end(), "commit"), 2);
  EXPECT_EQ(store->events.front(), "open INBOX rw");
  EXPECT_FALSE(store->folders[0].messages.back().deleted);
  EXPECT_EQ(ListFolder(out.Path()), (std::vector<std::string>{".tollbook.lock", "fullacct.csv"}))
      << "scratch files cleaned up";
}

TEST_F(ProcessingRunTest, FailedWriteEndsTheRunBeforeAnyDeletion) {
  store->AddMessage("INBOX", "m1", {{"acct", "a,1\r\n"}});
  frontEnd.settings.fullAccountingPath = "/dev/full";
  frontEnd.settings.deleteMessages = true;
  EXPECT_EQ(Run(), RunOutcome::kFailed);
  ASSERT_EQ(frontEnd.failures.size(), 1u);
  EXPECT_EQ(frontEnd.failures[0],
            "syncing /dev/full before deleting messages: cannot write /dev/full: No space left on "
            "device");
  EXPECT_TRUE(store->deletedIds.empty());
  EXPECT_EQ(frontEnd.events.back(), "failure " + frontEnd.failures[0]);
  EXPECT_EQ(std::count(frontEnd.events.begin(), frontEnd.events.end(), "busy off"), 1);
  EXPECT_EQ(state.RecordCount, 0);
}

TEST_F(ProcessingRunTest, FailuresAreReportedWithTheStepAndTheCause) {
  store->AddMessage("INBOX", "m1", {{"acct", "a,b,c,d,e,D,t,g,f,n,12k"}});
  struct Case {
    const char* name;
    std::string fullPath, summaryPath, outputFolder;
    std::string failure;
    std::string reportPath = "";  // empty: report.html in the output folder
  };
  const std::string missing = out / "missing";
  const std::vector<Case> cases = {
      {"unwritable full file", missing + "/fullacct.csv", out / "summary.csv", out.Path(),
       "opening the full accounting file: cannot open " + missing +
           "/fullacct.csv for writing: No such file or directory"},
      {"same file twice", out / "fullacct.csv", out.Path() + "/./fullacct.csv", out.Path(),
       "checking the output files: the summary file and the full accounting file are the same "
       "file (" + out.Path() + "/./fullacct.csv); choose two different paths"},
      {"scratch folder missing", out / "fullacct.csv", out / "summary.csv", missing,
       "checking the output folder: cannot create a file in " + missing +
           ": No such file or directory"},
      {"summary folder missing", out / "fullacct.csv", missing + "/summary.csv", out.Path(),
       "checking the summary file: cannot create " + missing +
           "/summary.csv: No such file or directory"},
      {"summary is a folder", out / "fullacct.csv", out.Path(), out.Path(),
       "checking the summary file: cannot open " + out.Path() + " for writing: Is a directory"},
      {"byte size not a number", out / "fullacct.csv", out / "summary.csv", out.Path(),
       "writing the summary " + out / "summary.csv" +
           ": record 1 (accounting file 1, line 1): byte size \"12k\" is not a number"},
      {"report is the full file", out / "fullacct.csv", out / "summary.csv", out.Path(),
       "checking the output files: the report and the full accounting file are the same file (" +
           out.Path() + "/./fullacct.csv); choose two different paths",
       out.Path() + "/./fullacct.csv"},
      {"report folder missing", out / "fullacct.csv", out / "summary.csv", out.Path(),
       "checking the report file: cannot create " + missing +
           "/report.html: No such file or directory",
       missing + "/report.html"},
  };
  frontEnd.settings.generateSummary = true;
  for (const auto& c : cases) {
    frontEnd.settings.fullAccountingPath = c.fullPath;
    frontEnd.settings.summaryPath = c.summaryPath;
    frontEnd.settings.outputFolder = c.outputFolder;
    frontEnd.settings.reportPath = c.reportPath.empty() ? out / "report.html" : c.reportPath;
    frontEnd.failures.clear();
    EXPECT_EQ(Run(), RunOutcome::kFailed) << c.name;
    ASSERT_EQ(frontEnd.failures.size(), 1u) << c.name;
    EXPECT_EQ(frontEnd.failures[0], c.failure) << c.name;
  }
  EXPECT_FALSE(FileExists(out / "summary.csv")) << "refused before the summary was emptied";
  EXPECT_FALSE(FileExists(out / "report.html")) << "refused before the report was written";
  EXPECT_EQ(ReadFile(out / "fullacct.csv"), kOtherHeaderLine + "a,b,c,d,e,D,t,g,f,n,12k\r\n");
}

TEST_F(ProcessingRunTest, MoreRecordsThanTheCapacityStillMergeEverything) {
  RunState small(2);
  store->AddMessage("INBOX", "m1", {{"acct", "a,1\rb,2\rc,3\r"}});
  frontEnd.settings.generateSummary = true;
  frontEnd.settings.deleteMessages = true;
  auto account = mail::CreateMemorySession(store)->Login("", "");
  EXPECT_EQ(RunProcessing(small, *account, frontEnd), RunOutcome::kFailed);
  EXPECT_EQ(ReadFile(out / "fullacct.csv"), kOtherHeaderLine + "a,1\r\nb,2\r\nc,3\r\n");
  EXPECT_FALSE(FileExists(out / "summary.csv"));
  EXPECT_EQ(store->deletedIds, std::vector<std::string>{"m1"});
  EXPECT_EQ(frontEnd.failures,
            std::vector<std::string>{"writing the summary " + out / "summary.csv" +
                                     ": the run merged 3 records, more than the 2 records a "
                                     "summary can hold; the summary was not written"});
}

TEST_F(ProcessingRunTest, SymbolicLinkAtAScratchNameIsNotFollowed) {
  testing::WriteFile(out / "target", "precious");
  ASSERT_EQ(::symlink((out / "target").c_str(), (out / "acct 1").c_str()), 0);
  store->AddMessage("INBOX", "m1", {{"acct", "a,1"}});
  frontEnd.settings.deleteMessages = true;
  EXPECT_EQ(Run(), RunOutcome::kFailed);
  EXPECT_EQ(ReadFile(out / "target"), "precious");
  EXPECT_TRUE(store->deletedIds.empty());
  EXPECT_EQ(frontEnd.failures.at(0), "message 1 (m1), accounting file 1: cannot open " +
                                         out / "acct 1" + " for writing: it is a symbolic link");
}

}  // namespace
}  // namespace tollbook
