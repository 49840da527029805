// A run started with "GO": settings read from the controls, the captions and
// the pointer while it works, its message boxes, and its files.
#include <filesystem>

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "accounting/merge.h"
#include "base/run_lock.h"
#include "sample/sample_mailbox.h"
#include "ui/directory_view.h"
#include "ui_test_support.h"

namespace tollbook::testing {
namespace {

// Records the captions of lbProgress and lbcurrent each time lbcurrent is painted.
class PaintRecorder : public QObject {
 public:
  PaintRecorder(QLabel* progress, QLabel* current) : progress_(progress), current_(current) {
    current->installEventFilter(this);
  }
  std::vector<std::string> painted;  // "PROGRESS|CURRENT"

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      painted.push_back(progress_->text().toStdString() + "|" + current_->text().toStdString());
    }
    return false;
  }

 private:
  QLabel* progress_;
  QLabel* current_;
};

class WindowRunTest : public WindowTest {
 protected:
  std::string Caption(const char* name) {
    return Find<QLabel>(*window, name)->text().toStdString();
  }
  void ChooseFolder(const std::string& name) {
    auto* combo = Find<QComboBox>(*window, "Combo1");
    const int index = combo->findText(QString::fromStdString(name));
    ASSERT_GT(index, 0) << name;
    combo->setCurrentIndex(index);
  }
  void Go() { QTest::mouseClick(Find<QPushButton>(*window, "Command4"), Qt::LeftButton); }
  // Records the captions and the pointer at every box.
  void WatchBoxes() {
    boxes.onShow = [this](const ui::BoxContent& box) {
      const QCursor* cursor = QApplication::overrideCursor();
      atBoxes.push_back(box.text.toStdString() + "|" + Caption("lbProgress") + "|" +
                        Caption("lbcurrent") + "|" +
                        (cursor != nullptr && cursor->shape() == Qt::BusyCursor ? "busy" : "idle"));
    };
  }
  std::vector<std::string> atBoxes;
};

TEST_F(WindowRunTest, RunFromTheWindowWritesWhatTollbookCliWrites) {
  const mail::SampleOptions sample{.messages = 40, .seed = 7};
  mail::WriteSampleMailbox(dir / "window-Maildir", sample);
  mail::WriteSampleMailbox(dir / "cli-Maildir", sample);
  std::filesystem::create_directory(dir / "window-out");
  std::filesystem::create_directory(dir / "cli-out");

  const std::string maildir = dir / "window-Maildir";
  window = std::make_unique<ui::GWfrm>([maildir] { return OpenAccount("maildir:" + maildir); },
                                       boxes, QString::fromStdString(dir / "window-out"));
  ASSERT_TRUE(window->Form_Load());
  ASSERT_TRUE(ShowExposed(*window));
  ChooseFolder("Accounting");
  QTest::mouseClick(Find<QCheckBox>(*window, "Check3"), Qt::LeftButton);
  PaintRecorder painter(Find<QLabel>(*window, "lbProgress"), Find<QLabel>(*window, "lbcurrent"));
  WatchBoxes();
  Go();

  ASSERT_EQ(boxes.shown.size(), 1u) << boxes.Summaries()[0];
  const std::string processed = boxes.shown[0].text.toStdString();
  EXPECT_EQ(boxes.Summaries()[0], "Gateway Accounting|information|" + processed);
  ASSERT_TRUE(processed.starts_with("Accounting Files Processed "));
  EXPECT_EQ(atBoxes[0].substr(atBoxes[0].size() - 5), "|idle");
  ASSERT_FALSE(painter.painted.empty());
  EXPECT_EQ(painter.painted.front(), "Processing File . . .|1");
  EXPECT_EQ(Caption("lbProgress"), "");
  EXPECT_EQ(Caption("lbcurrent"), "");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

#ifdef TOLLBOOK_CLI
  QProcess cli;
  cli.setWorkingDirectory(QString::fromStdString(dir / "cli-out"));
  cli.start(TOLLBOOK_CLI, {"--mailbox", QString::fromStdString("maildir:" + (dir / "cli-Maildir")),
                           "--folder", "Accounting", "--summary"});
  ASSERT_TRUE(cli.waitForFinished(-1));  // no deadline: its exit is the event
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  EXPECT_NE(cli.readAllStandardOutput().toStdString().find(processed), std::string::npos);
  EXPECT_EQ(ListFolder(dir / "window-out"), ListFolder(dir / "cli-out"));
  for (const std::string& name : ListFolder(dir / "cli-out")) {
    if (name == kRunLockFileName) continue;  // each holds its own run's pid
    EXPECT_EQ(ReadFile(dir / "window-out/" + name), ReadFile(dir / "cli-out/" + name)) << name;
  }
#else
  GTEST_SKIP() << "tollbook-cli is not part of this build";
#endif
}

// The window records into the ledger that TOLLBOOK_LEDGER names, opens that
// ledger as a mailbox with "ledger:", refuses "Delete message once processed"
// there with a box, and without it gives back the first run's lines.
TEST_F(WindowRunTest, RecordsIntoTheLedgerAndRefusesToDeleteFromOne) {
  mail::WriteSampleMailbox(dir / "Maildir", {.messages = 20, .seed = 3});
  std::filesystem::create_directory(dir / "first");
  std::filesystem::create_directory(dir / "again");
  const std::string maildir = dir / "Maildir", ledger = dir / "ledger.sqlite";
  auto open = [this](ui::AccountOpener opener, const std::string& folder) {
    window = std::make_unique<ui::GWfrm>(std::move(opener), boxes, QString::fromStdString(dir / folder));
    ASSERT_TRUE(window->Form_Load());
    ASSERT_TRUE(ShowExposed(*window));
  };
  ::setenv("TOLLBOOK_LEDGER", ledger.c_str(), 1);
  open([maildir] { return OpenAccount("maildir:" + maildir); }, "first");
  ChooseFolder("Accounting");
  Go();
  open([] { return OpenAccount("ledger:"); }, "again");
  ::setenv("TOLLBOOK_LEDGER", "off", 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  const QString processed = boxes.shown[0].text;
  EXPECT_TRUE(processed.startsWith("Accounting Files Processed ")) << processed.toStdString();

  ChooseFolder("All");
  QTest::mouseClick(Find<QCheckBox>(*window, "Check1"), Qt::LeftButton);
  Go();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text.toStdString(),
            "The mailbox ledger: is a ledger, which is read-only: \"Delete message once processed\" "
            "cannot be used with it.");
  EXPECT_FALSE(FileExists(dir / "again/fullacct.csv"));
  QTest::mouseClick(Find<QCheckBox>(*window, "Check1"), Qt::LeftButton);
  Go();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, processed);
  EXPECT_EQ(ReadFile(dir / "again/fullacct.csv"), ReadFile(dir / "first/fullacct.csv"));
}

TEST_F(WindowRunTest, EmptyFolderGivesTwoBoxesTheFirstUnderTheBusyPointer) {
  store->AddMessage("INBOX", "plain", {{"notes", "x"}});
  StartedWindow();
  QTest::mouseClick(Find<QCheckBox>(*window, "Check3"), Qt::LeftButton);
  WatchBoxes();
  Go();
  EXPECT_EQ(boxes.Summaries(),
            (std::vector<std::string>{
                "The Tollbook|none|No Files to process in this folder.",
                "Gateway Accounting|information|Accounting Files Processed 0"}));
  ASSERT_EQ(atBoxes.size(), 2u);
  EXPECT_EQ(atBoxes[0], "No Files to process in this folder.|||busy");
  EXPECT_EQ(atBoxes[1], "Accounting Files Processed 0|||idle");
  EXPECT_EQ(ReadFile(dir / "fullacct.csv"), "");
  EXPECT_FALSE(FileExists(dir / "summary.csv"));
}

TEST_F(WindowRunTest, SettingsComeFromTheControls) {
  store->folders.push_back({"Accounting", {}});
  store->AddMessage("Accounting", "one", {{"acct", "a,1\r\n"}});
  store->AddMessage("Accounting", "two", {{"ACCT", "b,2\r\n"}});
  std::filesystem::create_directory(dir / "out");
  StartedWindow();
  ChooseFolder("Accounting");
  Find<ui::DirectoryView>(*window, "Dir1")->SetPath(QString::fromStdString(dir / "out"));
  Find<QLineEdit>(*window, "Text2")->setText(QString::fromStdString(dir / "merged.csv"));
  QTest::mouseClick(Find<QCheckBox>(*window, "Check1"), Qt::LeftButton);
  QTest::mouseClick(Find<QCheckBox>(*window, "Check2"), Qt::LeftButton);
  Go();

  EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{
                                   "Gateway Accounting|information|Accounting Files Processed 2"});
  EXPECT_EQ(ReadFile(dir / "merged.csv"), std::string(kOtherHeader) + "\r\na,1\r\nb,2\r\n");
  EXPECT_EQ(store->deletedIds, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(ListFolder(dir / "out"), std::vector<std::string>{kRunLockFileName});
  EXPECT_FALSE(FileExists(dir / "summary.csv"));
}

TEST_F(WindowRunTest, AFailedRunNamesTheCauseAndLeavesTheWindowUsable) {
  store->AddMessage("INBOX", "one", {{"acct", "a,1\r\n"}});
  StartedWindow();
  auto* text2 = Find<QLineEdit>(*window, "Text2");
  text2->setText(QString::fromStdString(dir / "missing/fullacct.csv"));
  Go();
  ASSERT_EQ(boxes.shown.size(), 1u);
  const std::string failure = boxes.Summaries()[0];
  EXPECT_TRUE(failure.starts_with("The Tollbook|critical|The run stopped: ")) << failure;
  EXPECT_NE(failure.find(dir / "missing/fullacct.csv"), std::string::npos) << failure;
  EXPECT_NE(failure.find("No such file or directory"), std::string::npos) << failure;
  EXPECT_EQ(Caption("lbProgress"), "");
  EXPECT_EQ(Caption("lbcurrent"), "");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  boxes.shown.clear();
  text2->setText(QString::fromStdString(dir / "fullacct.csv"));
  Go();
  EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{
                                   "Gateway Accounting|information|Accounting Files Processed 1"});
}

// Another run holds the output folder: GO is refused with a box before the
// last run's fullacct.csv is emptied; once it is gone GO works.
TEST_F(WindowRunTest, ARunWhileAnotherWritesToTheFolderIsRefusedWithABox) {
  store->AddMessage("INBOX", "one", {{"acct", "a,1\r\n"}});
  WriteFile(dir / "fullacct.csv", "last run\r\n");
  StartedWindow();
  QTest::mouseClick(Find<QCheckBox>(*window, "Check1"), Qt::LeftButton);
  {
    RunLock other({{dir.Path(), dir.Path()}});
    Go();
  }
  EXPECT_EQ(boxes.Summaries(),
            std::vector<std::string>{"The Tollbook|critical|The run stopped: another run (pid " +
                                     std::to_string(::getpid()) + ") is writing to " +
                                     dir / "fullacct.csv"});
  EXPECT_EQ(ReadFile(dir / "fullacct.csv"), "last run\r\n");
  EXPECT_EQ(store->deletedIds, std::vector<std::string>{});

  boxes.shown.clear();
  Go();
  EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{
                                   "Gateway Accounting|information|Accounting Files Processed 1"});
}

// Closing the window while the run works (a close event, as the window
// manager sends it, arriving while the first file is shown) stops the run
// before the next message, with the first file merged and its message
// deleted; then the window closes, without the closing boxes.
TEST_F(WindowRunTest, ClosingTheWindowDuringARunStopsItAfterTheCurrentFile) {
  for (const char* id : {"one", "two", "three"}) {
    store->AddMessage("INBOX", id, {{"acct", std::string(id) + ",1\r\n"}});
  }
  StartedWindow();
  ASSERT_TRUE(ShowExposed(*window));
  QTest::mouseClick(Find<QCheckBox>(*window, "Check1"), Qt::LeftButton);
  class CloseAtFirstFile : public QObject {
   public:
    explicit CloseAtFirstFile(QLabel* current, QWidget* window) : current_(current), window_(window) {
      current->installEventFilter(this);
    }

   protected:
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && current_->text() == "1" && !posted_) {
        posted_ = true;
        QCoreApplication::postEvent(window_, new QCloseEvent);
      }
      return false;
    }

   private:
    QLabel* current_;
    QWidget* window_;
    bool posted_ = false;
  } closer(Find<QLabel>(*window, "lbcurrent"), window.get());
  Go();
  EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{});
  EXPECT_EQ(store->deletedIds, std::vector<std::string>{"one"});
  EXPECT_EQ(ReadFile(dir / "fullacct.csv"), std::string(kOtherHeader) + "\r\none,1\r\n");
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// GO with text typed into Combo1: a name of the list (ASCII case ignored)
// chooses that entry; a name of none is refused before anything is emptied.
TEST_F(WindowRunTest, TypedFolderNamesChooseTheirEntry) {
  store->AddMessage("INBOX", "in", {{"acct", "a,2\r\n"}});
  store->AddMessage("Accounting", "acc", {{"acct", "a,1\r\n"}});
  StartedWindow();
  auto* combo = Find<QComboBox>(*window, "Combo1");
  const std::string inbox = std::string(kOtherHeader) + "\r\na,2\r\n";
  const std::string accounting = std::string(kOtherHeader) + "\r\na,1\r\n";
  const struct {
    const char* typed;
    std::string box;
    std::string full;    // fullacct.csv afterwards ("old" before)
    const char* shown;   // Combo1's text afterwards
  } rows[] = {
      {"accounting", "Gateway Accounting|information|Accounting Files Processed 1", accounting, "Accounting"},
      {"ACCOUNTING", "Gateway Accounting|information|Accounting Files Processed 1", accounting, "Accounting"},
      {"inbox", "Gateway Accounting|information|Accounting Files Processed 1", inbox, "INBOX"},
      {"", "Gateway Accounting|information|Accounting Files Processed 1", inbox, ""},
      {"Accounts", "The Tollbook|warning|No folder named Accounts.", "old", "Accounts"},
      {"Accounting ", "The Tollbook|warning|No folder named Accounting .", "old", "Accounting "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    WriteFile(dir / "fullacct.csv", "old");
    boxes.shown.clear();
    combo->setCurrentIndex(-1);
    combo->setEditText(QString::fromLatin1(row.typed));
    Go();
    EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{row.box});
    EXPECT_EQ(ReadFile(dir / "fullacct.csv"), row.full);
    EXPECT_EQ(combo->currentText().toStdString(), row.shown);
  }
}

// A connection found lost at GO is opened again (a new log-in); Text1 says
// when it cannot be, and a folder list that changed meanwhile is shown
// instead of running on a list that no longer holds.
TEST_F(WindowRunTest, ALostConnectionIsOpenedAgainAtGo) {
  store->AddMessage("INBOX", "one", {{"acct", "a,1\r\n"}});
  StartedWindow();
  auto* text1 = Find<QLineEdit>(*window, "Text1");
  auto* combo = Find<QComboBox>(*window, "Combo1");
  const std::string processed = "Gateway Accounting|information|Accounting Files Processed 1";
  const struct {
    const char* what;
    bool refuse;
    const char* addFolder;  // a folder made while the connection was lost
    std::string box;
    const char* text1;
    int logins;
  } rows[] = {
      {"same list", false, nullptr, processed, "Remote", 2},
      {"log-in refused", true, nullptr,
       "The Tollbook|critical|The connection to the mailbox was lost and cannot be opened again: log-in refused",
       "Not connected", 2},
      {"list changed", false, "Sent",
       "The Tollbook|warning|The connection to the mailbox was lost and has been opened again, and its "
       "folder list has changed. Choose the folder again and press GO.",
       "Remote", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFile(dir / "fullacct.csv", "old");
    boxes.shown.clear();
    store->connected = false;
    store->refuseLogin = row.refuse;
    if (row.addFolder != nullptr) store->folders.push_back({row.addFolder, {}});
    Go();
    EXPECT_EQ(boxes.Summaries(), std::vector<std::string>{row.box});
    EXPECT_EQ(text1->text().toStdString(), row.text1);
    EXPECT_EQ(store->logins, row.logins);
    EXPECT_EQ(ReadFile(dir / "fullacct.csv"), row.box == processed ? std::string(kOtherHeader) + "\r\na,1\r\n" : "old");
  }
  EXPECT_EQ(combo->itemText(combo->count() - 1).toStdString(), "Sent");
  EXPECT_EQ(combo->currentIndex(), -1);
}

TEST(ListIndexTest, TypedTextThatIsNotTheChosenEntryMeansNone) {
  QComboBox combo;
  combo.setEditable(true);
  combo.addItems({"<Select Folder>", "INBOX", "Accounting"});
  struct Row {
    int index;
    const char* typed;  // nullptr: leave the text of the chosen entry
    int listIndex;
  };
  const Row rows[] = {
      {-1, nullptr, -1}, {0, nullptr, 0},  {2, nullptr, 2},
      {2, "Acc", -1},    {1, "INBOX", 1},  {-1, "Accounting", -1},
  };
  for (const Row& row : rows) {
    combo.setCurrentIndex(row.index);
    if (row.typed != nullptr) combo.setEditText(row.typed);
    EXPECT_EQ(ui::ListIndex(combo), row.listIndex) << row.index << " " << (row.typed ? row.typed : "");
  }
}

}  // namespace
}  // namespace tollbook::testing
