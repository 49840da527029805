// Broken output places: a folder the run may not write, a folder removed while
// the run works, a read-only file system, a summary path that is a folder, the
// two output paths naming one file, and a scratch name taken by a symbolic
// link. Each run fails with the exact message, and no message is deleted
// whose lines are not safely in the full accounting file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hardening/crash_harness.h"
#include "hardening/hardening_support.h"

namespace tollbook::testing {
namespace {

const std::string kLine1 = "I,d1,t,M1,Mail,N,DOM,PO,ann,A,S,G,GATE,F,SMTP,ADDR,1,0,10,X";
const std::string kLine2 = "O,d1,t,M2,Mail,N,DOM,PO,bob,A,S,G,GATE,F,SMTP,ADDR,1,0,20,X";

std::vector<std::string> TwoFiles() { return {kLine1 + "\r\n", kLine2 + "\r\n"}; }

// A front end that calls `hook` after each handled accounting file (when the
// run shows the file count).
class HookedFrontEnd : public RecordingFrontEnd {
 public:
  std::function<void(const std::string&)> hook;
  void SetCurrentCaption(std::string_view caption) override {
    RecordingFrontEnd::SetCurrentCaption(caption);
    if (hook && !caption.empty() && caption.find(" of ") == std::string_view::npos) {
      hook(std::string(caption));
    }
  }
};

TEST(OutputFaults, UnwritableOutputFolder) {
  TempDir dir;
  const std::string out = dir / "out";
  std::filesystem::create_directory(out);
  ::chmod(out.c_str(), 0555);
  const std::string text = RunInChild([&] {
    if (::geteuid() == 0 && !DropFileOverride()) return std::string("skip");
    auto store = AccountingStore(TwoFiles());
    RecordingFrontEnd frontEnd;
    frontEnd.settings = FolderSettings(out, false);
    frontEnd.settings.fullAccountingPath = dir / "fullacct.csv";
    frontEnd.settings.summaryPath = dir / "summary.csv";
    return RunOnStore(store, frontEnd).Text();
  });
  if (text == "skip") GTEST_SKIP() << "cannot drop the file-mode override";
  EXPECT_EQ(text, "failed: checking the output folder: cannot create a file in " + out +
                      ": Permission denied\ndeleted:");
  EXPECT_FALSE(FileExists(dir / "fullacct.csv"));
  EXPECT_FALSE(FileExists(dir / "summary.csv"));
}

TEST(OutputFaults, ReadOnlyFileSystem) {
  TempDir dir;
  TmpfsMount mount(dir.Path(), 1 << 20, /*readOnly=*/true);
  if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (not root)";
  auto store = AccountingStore(TwoFiles());
  RecordingFrontEnd frontEnd;
  frontEnd.settings = FolderSettings(dir.Path(), true);
  EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
            "failed: checking the output folder: cannot create a file in " + dir.Path() +
                ": Read-only file system\ndeleted:");
  EXPECT_EQ(store->events, std::vector<std::string>{});
}

TEST(OutputFaults, FolderRemovedAfterTheFirstFile) {
  for (bool cleanup : {false, true}) {
    TempDir dir;
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);
    auto store = AccountingStore(TwoFiles());
    HookedFrontEnd frontEnd;
    frontEnd.settings = FolderSettings(out, cleanup);
    frontEnd.hook = [&](const std::string& count) {
      if (count == "1") std::filesystem::remove_all(out);
    };
    EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
              "failed: message 2 (m2), accounting file 2: cannot open " + out +
                  "/acct 2 for writing: No such file or directory\ndeleted:")
        << "cleanup " << cleanup;
  }
}

// The full accounting file lives elsewhere; the scratch folder goes away after
// the last file, before the deletions are committed.
TEST(OutputFaults, ScratchFolderRemovedBeforeTheDeletions) {
  TempDir dir;
  const std::string out = dir / "out";
  std::filesystem::create_directory(out);
  auto store = AccountingStore(TwoFiles());
  HookedFrontEnd frontEnd;
  frontEnd.settings = FolderSettings(out, /*cleanup=*/false);
  frontEnd.settings.fullAccountingPath = dir / "fullacct.csv";
  frontEnd.hook = [&](const std::string& count) {
    if (count == "2") std::filesystem::remove_all(out);
  };
  EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
            "failed: syncing " + dir / "fullacct.csv" + " before deleting messages: cannot open " +
                out + ": No such file or directory\ndeleted:");
}

// Past the first batch of deletions the full accounting file's folder goes
// away: the lines of the later messages would go with the file, so none of
// them is deleted.
TEST(OutputFaults, FullAccountingFileRemovedBetweenBatches) {
  TempDir dir;
  const std::string full = dir / "full";
  std::filesystem::create_directory(full);
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) files.push_back(kLine1 + "," + std::to_string(i) + "\r\n");
  auto store = AccountingStore(files);
  HookedFrontEnd frontEnd;
  frontEnd.recordPositions = false;
  frontEnd.settings = FolderSettings(dir.Path(), /*cleanup=*/true);
  frontEnd.settings.fullAccountingPath = full + "/fullacct.csv";
  frontEnd.hook = [&](const std::string& count) {
    if (count == "270") std::filesystem::remove_all(full);
  };
  const RunReport report = RunOnStore(store, frontEnd);
  EXPECT_EQ(report.deleted.size(), 256u);
  EXPECT_EQ(report.failure, "syncing " + full + "/fullacct.csv before deleting messages: " +
                                full + "/fullacct.csv was removed or replaced during the run");
}

TEST(OutputFaults, SummaryPathIsAFolder) {
  TempDir dir;
  std::filesystem::create_directory(dir / "summary.csv");
  auto store = AccountingStore(TwoFiles());
  RecordingFrontEnd frontEnd;
  frontEnd.settings = FolderSettings(dir.Path(), true);
  const std::string summary = dir / "summary.csv";
  EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
            "failed: checking the summary file: cannot open " + summary +
                " for writing: Is a directory\ndeleted:");
  EXPECT_FALSE(FileExists(dir / "fullacct.csv"));
}

// tollbook-cli --delete --summary with an output in a folder it cannot write:
// refused before the walk with the path named, nothing deleted, and the last
// run's fullacct.csv not emptied.
TEST(OutputFaults, TheCommandLineRefusesAnUnwritableOutputBeforeTheWalk) {
  TempDir dir;
  const std::string ro = dir / "ro", out = dir / "out", mail = dir / "mail";
  std::filesystem::create_directory(ro);
  std::filesystem::create_directory(out);
  TmpfsMount mount(ro, 1 << 16, /*readOnly=*/true);
  if (!mount.Mounted()) {
    if (::geteuid() == 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    ::chmod(ro.c_str(), 0555);
  }
  const std::string cause = mount.Mounted() ? "Read-only file system" : "Permission denied";
  const auto messages = CrashMessages(5);
  WriteCrashMaildir(mail, messages);
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Row> rows = {
      {"summary folder", {"--output", out, "--summary-file", ro + "/s.csv"},
       "checking the summary file: cannot create " + ro + "/s.csv: " + cause},
      {"output folder", {"--output", ro, "--full-file", out + "/fullacct.csv"},
       "checking the output folder: cannot create a file in " + ro + ": " + cause},
  };
  for (const Row& row : rows) {
    WriteFile(out + "/fullacct.csv", "last run\r\n");
    std::vector<std::string> args{"--mailbox", mail, "--delete", "--cleanup", "--summary"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ProcessResult result = RunProgram(TOLLBOOK_CLI_PATH, args);
    EXPECT_EQ(result.exitCode, 1) << row.name;
    EXPECT_EQ(result.output, "tollbook-cli: " + row.message + "\n") << row.name;
    EXPECT_EQ(RemainingMessages(mail).size(), messages.size()) << row.name;
    EXPECT_EQ(ReadFile(out + "/fullacct.csv"), "last run\r\n") << row.name;
  }
  EXPECT_EQ(ListFolder(ro), std::vector<std::string>{});
}

// The two output paths name one file: refused before either is opened, so an
// existing full accounting file keeps its content.
TEST(OutputFaults, BothOutputPathsOneFile) {
  TempDir dir;
  const std::string full = dir / "fullacct.csv";
  ::symlink(full.c_str(), (dir / "link.csv").c_str());
  struct Row {
    std::string summaryPath;
    bool fullExists;
  };
  const std::vector<Row> rows = {{full, true},
                                 {full, false},
                                 {dir.Path() + "/./fullacct.csv", false},
                                 {dir.Path() + "/../" +
                                      std::filesystem::path(dir.Path()).filename().string() +
                                      "/fullacct.csv",
                                  true},
                                 {dir / "link.csv", true},
                                 {dir / "hard.csv", true}};
  for (const Row& row : rows) {
    std::filesystem::remove(full);
    std::filesystem::remove(dir / "hard.csv");
    if (row.fullExists) {
      WriteFile(full, "keep me\r\n");
      ::link(full.c_str(), (dir / "hard.csv").c_str());
    }
    auto store = AccountingStore(TwoFiles());
    RecordingFrontEnd frontEnd;
    frontEnd.settings = FolderSettings(dir.Path(), true);
    frontEnd.settings.summaryPath = row.summaryPath;
    if (!row.fullExists && row.summaryPath == dir / "hard.csv") continue;
    EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
              "failed: checking the output files: the summary file and the full accounting file "
              "are the same file (" +
                  row.summaryPath + "); choose two different paths\ndeleted:")
        << row.summaryPath;
    EXPECT_EQ(FileExists(full) ? ReadFile(full) : "", row.fullExists ? "keep me\r\n" : "");
  }
}

// A scratch name already taken by a symbolic link (the output folder may be
// shared): the link is not followed, its target is untouched, nothing is
// deleted.
TEST(OutputFaults, ScratchNameIsASymbolicLink) {
  struct Row {
    const char* name;
    int number;        // which scratch file is a link
    bool dangling;     // the link points nowhere (O_CREAT would create the target)
  };
  for (const Row row : {Row{"first", 1, false}, Row{"second", 2, false}, Row{"dangling", 1, true}}) {
    TempDir dir;
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);
    const std::string victim = dir / "victim";
    if (!row.dangling) WriteFile(victim, "precious\n");
    const std::string scratch = out + "/acct " + std::to_string(row.number);
    ::symlink(victim.c_str(), scratch.c_str());
    auto store = AccountingStore(TwoFiles());
    RecordingFrontEnd frontEnd;
    frontEnd.settings = FolderSettings(out, false);
    EXPECT_EQ(RunOnStore(store, frontEnd).Text(),
              "failed: message " + std::to_string(row.number) + " (m" +
                  std::to_string(row.number) + "), accounting file " +
                  std::to_string(row.number) + ": cannot open " + scratch +
                  " for writing: it is a symbolic link\ndeleted:")
        << row.name;
    if (row.dangling) {
      EXPECT_FALSE(FileExists(victim)) << row.name;
    } else {
      EXPECT_EQ(ReadFile(victim), "precious\n") << row.name;
    }
  }
}

}  // namespace
}  // namespace tollbook::testing
