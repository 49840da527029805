// The sample mailbox: deterministic, and what it says it holds is what a run
// finds in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "base/errors.h"
#include "accounting/run_state.h"
#include "sample/sample_mailbox.h"
#include "mail/session_factory.h"
#include "run/processing_run.h"
#include "support/test_support.h"

namespace tollbook::mail {
namespace {

using testing::ListFolder;
using testing::ReadFile;
using testing::TempDir;

// Every file of the tree under root, as "path: content".
std::vector<std::string> Tree(const std::string& root, const std::string& relative = "") {
  std::vector<std::string> entries;
  for (const auto& name : ListFolder(root + relative)) {
    const std::string path = relative + "/" + name;
    if (std::filesystem::is_directory(root + path)) {
      entries.push_back(path + "/");
      for (auto& inner : Tree(root, path)) entries.push_back(std::move(inner));
    } else {
      entries.push_back(path + ": " + ReadFile(root + path));
    }
  }
  return entries;
}

SampleOptions Small(std::uint32_t seed) {
  SampleOptions options;
  options.messages = 40;
  options.seed = seed;
  options.linesPerFile = 5;
  return options;
}

TEST(SampleMailbox, IsTheSameForTheSameSeed) {
  TempDir dir;
  WriteSampleMailbox(dir / "a", Small(3));
  WriteSampleMailbox(dir / "b", Small(3));
  WriteSampleMailbox(dir / "c", Small(4));
  const auto a = Tree(dir / "a");
  EXPECT_EQ(a, Tree(dir / "b"));
  EXPECT_NE(a, Tree(dir / "c"));
  EXPECT_GT(a.size(), 40u);
}

TEST(SampleMailbox, HoldsWhatItsSummarySaysAndARunAgrees) {
  TempDir dir;
  const std::string root = dir / "Maildir";
  const SampleSummary summary = WriteSampleMailbox(root, SampleOptions{});
  EXPECT_EQ(summary.accountingMessages + summary.otherMessages, 200);
  EXPECT_GT(ListFolder(root + "/.Accounting/new").size(), 10u);
  EXPECT_GT(ListFolder(root + "/.Accounting/cur").size(), 100u);

  auto account = CreateSession(root)->Login("", "");
  std::set<std::string> firstNames;
  int withoutAttachments = 0;
  auto messages = account->AllFolders()->Item(2)->Messages(false);
  while (auto message = messages->Next()) {
    auto attachments = message->Attachments();
    if (attachments->Count() == 0) {
      ++withoutAttachments;
    } else {
      firstNames.insert(attachments->Item(1)->DisplayName());
    }
  }
  EXPECT_GT(withoutAttachments, 0);
  for (const char* name : {"acct", "ACCT", "Acct", " acct", "acct.csv", "notes.txt", "report.pdf"}) {
    EXPECT_EQ(firstNames.count(name), 1u) << name;
  }

  RunState state;
  testing::RecordingFrontEnd frontEnd;
  frontEnd.recordPositions = false;
  frontEnd.settings.folderIndex = 2;
  frontEnd.settings.outputFolder = dir.Path();
  frontEnd.settings.fullAccountingPath = dir / "fullacct.csv";
  frontEnd.settings.summaryPath = dir / "summary.csv";
  frontEnd.settings.cleanupTempFiles = true;
  frontEnd.settings.generateSummary = true;
  RunCounts counts;
  ASSERT_EQ(RunProcessing(state, *account, frontEnd, &counts), RunOutcome::kCompleted)
      << frontEnd.failures.front();
  EXPECT_EQ(counts.accountingFiles, summary.accountingMessages);
  EXPECT_EQ(counts.messages, 200);

  const std::string full = ReadFile(dir / "fullacct.csv");
  std::int64_t lines = 0, headers = 0, smtp = 0;
  for (std::size_t start = 0; start < full.size();) {
    const auto end = full.find("\r\n", start);
    const std::string_view line(full.data() + start, end - start);
    if (line.starts_with("IN/OUT Indicator,") || line.starts_with("Sender,AccountID,")) {
      ++headers;
    } else {
      ++lines;
      if (line.starts_with("I,") || line.starts_with("O,")) ++smtp;
    }
    start = end + 2;
  }
  EXPECT_EQ(lines, summary.accountingLines);
  EXPECT_GT(headers, 2);                      // both flavours, mixed
  EXPECT_GT(smtp, lines / 4);
  EXPECT_LT(smtp, lines);
  EXPECT_NE(ReadFile(dir / "summary.csv"), "");
}

TEST(SampleMailbox, LargePartsComeLast) {
  TempDir dir;
  SampleOptions options = Small(5);
  options.messages = 6;
  options.largePartBytes = 100000;
  options.otherFolders = false;
  WriteSampleMailbox(dir / "Maildir", options);
  auto account = CreateSession(dir / "Maildir")->Login("", "");
  EXPECT_EQ(account->AllFolders()->Count(), 2);
  auto messages = account->AllFolders()->Item(2)->Messages(false);
  int count = 0;
  while (auto message = messages->Next()) {
    auto attachments = message->Attachments();
    ASSERT_GE(attachments->Count(), 1);
    auto last = attachments->Item(attachments->Count());
    EXPECT_TRUE(last->DisplayName().starts_with("scan-"));
    last->Save(dir / "part");
    EXPECT_EQ(ReadFile(dir / "part").size(), 100000u);
    ++count;
  }
  EXPECT_EQ(count, 6);
}

TEST(SampleMailbox, RefusesARootThatHoldsAMailbox) {
  TempDir dir;
  WriteSampleMailbox(dir / "Maildir", Small(1));
  const auto before = Tree(dir / "Maildir");
  EXPECT_THROW(WriteSampleMailbox(dir / "Maildir", Small(2)), Failure);
  EXPECT_EQ(Tree(dir / "Maildir"), before);
}

}  // namespace
}  // namespace tollbook::mail
