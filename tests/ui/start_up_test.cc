// Start-up: the connection fields and the folder list from the account, and
// the error route when the mailbox cannot be opened.
#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>

#include "sample/sample_mailbox.h"
#include "ui/app.h"
#include "ui_test_support.h"

namespace tollbook::testing {
namespace {

std::vector<std::string> ListOf(const QComboBox& combo) {
  std::vector<std::string> entries;
  for (int i = 0; i < combo.count(); ++i) entries.push_back(combo.itemText(i).toStdString());
  return entries;
}

class StartUpTest : public WindowTest {};

TEST_F(StartUpTest, ModeAndOwnerComeFromTheAccount) {
  struct Row {
    bool remote;
    const char* owner;
    const char* mode;
  };
  for (const Row& row : {Row{true, "postmaster", "Remote"}, Row{false, "Ann Example", "Connected"}}) {
    SCOPED_TRACE(row.mode);
    store->remote = row.remote;
    store->owner = row.owner;
    window.reset();
    StartedWindow();
    EXPECT_EQ(Find<QLineEdit>(*window, "Text1")->text().toStdString(), row.mode);
    EXPECT_EQ(Find<QLineEdit>(*window, "tUserid")->text().toStdString(), row.owner);
    // The mailbox's location, never a password, in both tooltips.
    EXPECT_EQ(Find<QLineEdit>(*window, "Text1")->toolTip().toStdString(), store->location);
    EXPECT_EQ(Find<QLineEdit>(*window, "tUserid")->toolTip().toStdString(), store->location);
    EXPECT_TRUE(boxes.shown.empty());
  }
}

TEST_F(StartUpTest, FolderListHoldsTheFoldersInCollectionOrderAfterOneEntry) {
  struct Row {
    std::vector<std::string> folders;
    std::vector<std::string> list;
  };
  const Row rows[] = {
      {{"INBOX", "A", "B", "A"}, {"<Select Folder>", "INBOX", "A", "B", "A"}},
      {{"INBOX", "zeta", "Alpha"}, {"<Select Folder>", "INBOX", "zeta", "Alpha"}},
      {{}, {"<Select Folder>"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.list.size());
    store->folders.clear();
    for (const auto& name : row.folders) store->folders.push_back({name, {}});
    window.reset();
    StartedWindow();
    auto* combo = Find<QComboBox>(*window, "Combo1");
    EXPECT_EQ(ListOf(*combo), row.list);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText().toStdString(), "");
    EXPECT_EQ(ui::ListIndex(*combo), -1);
  }
}

TEST_F(StartUpTest, RealMaildirFillsTheWindowAsTollbookCliListsIt) {
  const std::string maildir = dir / "Maildir";
  mail::WriteSampleMailbox(maildir, {.messages = 10});
  window = std::make_unique<ui::GWfrm>([maildir] { return OpenAccount("maildir:" + maildir); },
                                       boxes, QString::fromStdString(dir.Path()));
  ASSERT_TRUE(window->Form_Load());
  EXPECT_EQ(Find<QLineEdit>(*window, "Text1")->text().toStdString(), "Remote");
  EXPECT_FALSE(Find<QLineEdit>(*window, "tUserid")->text().isEmpty());
  const std::vector<std::string> list = ListOf(*Find<QComboBox>(*window, "Combo1"));
  ASSERT_GE(list.size(), 3u);
  EXPECT_EQ(list[0], "<Select Folder>");
  EXPECT_EQ(list[1], "INBOX");
  EXPECT_NE(std::find(list.begin(), list.end(), "Accounting"), list.end());
#ifdef TOLLBOOK_CLI
  QProcess cli;
  cli.start(TOLLBOOK_CLI, {"--mailbox", QString::fromStdString("maildir:" + maildir),
                           "--list-folders"});
  ASSERT_TRUE(cli.waitForFinished(-1));  // no deadline: its exit is the event
  std::string listed;
  for (std::size_t i = 1; i < list.size(); ++i) listed += list[i] + "\n";
  EXPECT_EQ(cli.readAllStandardOutput().toStdString(), listed);
#endif
}

TEST_F(StartUpTest, RefusedLogInShowsTheInstallBoxAndNeverTheWindow) {
  store->refuseLogin = true;
  boxes.onShow = [](const ui::BoxContent&) {
    for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_FALSE(top->isVisible());
  };
  EXPECT_FALSE(Window().Form_Load());
  ASSERT_EQ(boxes.shown.size(), 1u);
  const ui::BoxContent& box = boxes.shown[0];
  EXPECT_EQ(box.text.toStdString(), "Groupwise 5 32-bit client not correctly Installed");
  EXPECT_EQ(box.title.toStdString(), "The Tollbook");
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_FALSE(box.detail.isEmpty());
  EXPECT_FALSE(boxes.hadParent[0]);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(StartUpTest, MissingMailboxEndsTheProgramBeforeTheWindowShows) {
  const std::string missing = dir / "no-such-Maildir";
  boxes.onShow = [](const ui::BoxContent&) {
    for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_FALSE(top->isVisible());
  };
  // Would block in the event loop if the window were shown.
  const int status = ui::RunTollbook([missing] { return OpenAccount("maildir:" + missing); }, boxes);
  EXPECT_EQ(status, ui::kStartUpFailed);
  EXPECT_EQ(boxes.Summaries(),
            std::vector<std::string>{
                "The Tollbook|critical|Groupwise 5 32-bit client not correctly Installed"});
  EXPECT_NE(boxes.shown[0].detail.toStdString().find(missing), std::string::npos)
      << boxes.shown[0].detail.toStdString();
  for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_FALSE(top->isVisible());
}

TEST(QtMessageBoxesTest, ShowsTheTextTitleIconAndOnlyOk) {
  ui::QtMessageBoxes boxes;
  QString title, text, detail;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    detail = box->detailedText();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  boxes.Show(ui::ToBoxContent({"Accounting Files Processed 3", MessageIcon::kInformation,
                            "Gateway Accounting"},
                           "details"),
             nullptr);
  EXPECT_EQ(title.toStdString(), "Gateway Accounting");
  EXPECT_EQ(text.toStdString(), "Accounting Files Processed 3");
  EXPECT_EQ(detail.toStdString(), "details");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(ToBoxContentTest, IconsAndTheApplicationTitle) {
  struct Row {
    MessageIcon icon;
    const char* title;
    QMessageBox::Icon shownIcon;
    const char* shownTitle;
  };
  const Row rows[] = {
      {MessageIcon::kNone, "", QMessageBox::NoIcon, "The Tollbook"},
      {MessageIcon::kInformation, "Gateway Accounting", QMessageBox::Information,
       "Gateway Accounting"},
      {MessageIcon::kWarning, "", QMessageBox::Warning, "The Tollbook"},
      {MessageIcon::kCritical, "", QMessageBox::Critical, "The Tollbook"},
  };
  for (const Row& row : rows) {
    const ui::BoxContent box = ui::ToBoxContent({"text", row.icon, row.title});
    EXPECT_EQ(box.icon, row.shownIcon) << row.shownTitle;
    EXPECT_EQ(box.title.toStdString(), row.shownTitle);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }
}

}  // namespace
}  // namespace tollbook::testing
