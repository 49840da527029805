// The output folder controls: the drive list, the directory view, the output
// path rule and the summary option.
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "ui/directory_view.h"
#include "ui/drive_list.h"
#include "ui_test_support.h"

namespace tollbook::testing {
namespace {

class OutputPathsTest : public WindowTest {
 protected:
  OutputPathsTest() {
    for (const char* name : {"reports", "archive"}) {
      std::filesystem::create_directory(dir / name);
    }
  }

  ui::DirectoryView& Dir1() { return *Find<ui::DirectoryView>(Window(), "Dir1"); }
  ui::DriveList& Drive1() { return *Find<ui::DriveList>(Window(), "Drive1"); }
  std::string Text(const char* name) {
    return Find<QLineEdit>(Window(), name)->text().toStdString();
  }
  // The entry of the view that stands for path.
  QListWidgetItem* Entry(const std::string& path) {
    for (int i = 0; i < Dir1().count(); ++i) {
      if (ui::DirectoryView::EntryPath(Dir1().item(i)).toStdString() == path) return Dir1().item(i);
    }
    ADD_FAILURE() << "no entry for " << path;
    return nullptr;
  }
  QPoint Centre(QListWidgetItem* item) { return Dir1().visualItemRect(item).center(); }
};

TEST_F(OutputPathsTest, StartUpBuildsThePathsFromTheStartDirectory) {
  StartedWindow();
  EXPECT_EQ(Text("Text2"), dir / "fullacct.csv");
  EXPECT_EQ(Text("Text3"), dir / "summary.csv");
  EXPECT_FALSE(window->FolderEndsInBackslash);
}

TEST_F(OutputPathsTest, PathRuleAtTheRootAndBelowIt) {
  struct Row {
    std::string folder;
    std::string fullAccounting;
    std::string summary;
    bool endsInSeparator;
  };
  const Row rows[] = {
      {"/", "/fullacct.csv", "/summary.csv", true},
      {dir / "reports", dir / "reports/fullacct.csv", dir / "reports/summary.csv", false},
      {dir.Path() + "/reports/", dir / "reports/fullacct.csv", dir / "reports/summary.csv", false},
      {dir.Path(), dir / "fullacct.csv", dir / "summary.csv", false},
  };
  StartedWindow();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.folder);
    ASSERT_EQ(Dir1().SetPath(QString::fromStdString(row.folder)).toStdString(), "");
    EXPECT_EQ(Text("Text2"), row.fullAccounting);
    EXPECT_EQ(Text("Text3"), row.summary);
    EXPECT_EQ(window->FolderEndsInBackslash, row.endsInSeparator);
  }
}

TEST_F(OutputPathsTest, OpeningAFolderChangesThePathHighlightingDoesNot) {
  StartedWindow();
  Find<QLineEdit>(*window, "Text2")->setText("typed by the user");

  QTest::mouseClick(Dir1().viewport(), Qt::LeftButton, {}, Centre(Entry(dir / "reports")));
  EXPECT_EQ(Dir1().currentItem(), Entry(dir / "reports"));
  EXPECT_EQ(Dir1().Path().toStdString(), dir.Path());
  EXPECT_EQ(Text("Text2"), "typed by the user");
  EXPECT_EQ(Text("Text3"), dir / "summary.csv");

  QTest::mouseDClick(Dir1().viewport(), Qt::LeftButton, {}, Centre(Entry(dir / "reports")));
  EXPECT_EQ(Dir1().Path().toStdString(), dir / "reports");
  EXPECT_EQ(Text("Text2"), dir / "reports/fullacct.csv");
  EXPECT_EQ(Text("Text3"), dir / "reports/summary.csv");

  // Up to the parent with the keyboard.
  Dir1().setCurrentItem(Entry(dir.Path()));
  QTest::keyClick(&Dir1(), Qt::Key_Return);
  EXPECT_EQ(Dir1().Path().toStdString(), dir.Path());
  EXPECT_EQ(Text("Text2"), dir / "fullacct.csv");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(OutputPathsTest, ViewListsAncestorsThenVisibleSubfolders) {
  std::filesystem::create_directory(dir / ".hidden");
  WriteFile(dir / "file.txt", "not a folder");
  Window();
  std::vector<std::string> entries;
  for (int i = 0; i < Dir1().count(); ++i) {
    entries.push_back(ui::DirectoryView::EntryPath(Dir1().item(i)).toStdString());
  }
  std::vector<std::string> expected{"/"};
  std::string ancestor;
  for (const auto& part : std::filesystem::path(dir.Path()).relative_path()) {
    ancestor += "/" + part.string();
    expected.push_back(ancestor);
  }
  expected.push_back(dir / "archive");
  expected.push_back(dir / "reports");
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(Dir1().currentItem(), Entry(dir.Path()));
}

TEST_F(OutputPathsTest, AFolderThatCannotBeOpenedShowsAMessageAndChangesNothing) {
  struct Row {
    const char* name;
    std::function<void(const std::string&)> spoil;
    const char* cause;
  };
  const Row rows[] = {
      {"removed", [](const std::string& p) { std::filesystem::remove(p); },
       "No such file or directory"},
      {"replaced by a file",
       [](const std::string& p) {
         std::filesystem::remove(p);
         WriteFile(p, "");
       },
       "Not a directory"},
  };
  StartedWindow();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    boxes.shown.clear();
    std::filesystem::create_directory(dir / "doomed");
    ASSERT_EQ(Dir1().SetPath(QString::fromStdString(dir.Path())).toStdString(), "");
    QListWidgetItem* doomed = Entry(dir / "doomed");
    row.spoil(dir / "doomed");

    QTest::mouseClick(Dir1().viewport(), Qt::LeftButton, {}, Centre(doomed));
    QTest::mouseDClick(Dir1().viewport(), Qt::LeftButton, {}, Centre(doomed));
    EXPECT_EQ(boxes.Summaries(),
              std::vector<std::string>{"The Tollbook|warning|cannot open the folder " +
                                       (dir / "doomed") + ": " + row.cause});
    EXPECT_EQ(Dir1().Path().toStdString(), dir.Path());
    EXPECT_EQ(Dir1().currentItem(), Entry(dir.Path()));
    EXPECT_EQ(Text("Text2"), dir / "fullacct.csv");
    std::filesystem::remove(dir / "doomed");
  }
}

TEST_F(OutputPathsTest, Check3ShowsAndHidesText3WhileItsTextFollowsTheFolder) {
  StartedWindow();
  auto* check3 = Find<QCheckBox>(*window, "Check3");
  auto* text3 = Find<QLineEdit>(*window, "Text3");
  ASSERT_TRUE(text3->isHidden());

  Dir1().SetPath(QString::fromStdString(dir / "archive"));
  EXPECT_TRUE(text3->isHidden());
  EXPECT_EQ(Text("Text3"), dir / "archive/summary.csv");

  QTest::mouseClick(check3, Qt::LeftButton);
  EXPECT_TRUE(check3->isChecked());
  EXPECT_FALSE(text3->isHidden());
  EXPECT_EQ(Text("Text3"), dir / "archive/summary.csv");

  text3->setText("/elsewhere/summary.csv");
  QTest::mouseClick(check3, Qt::LeftButton);
  EXPECT_TRUE(text3->isHidden());
  EXPECT_EQ(Text("Text3"), "/elsewhere/summary.csv");

  Dir1().SetPath(QString::fromStdString(dir / "reports"));
  EXPECT_EQ(Text("Text3"), dir / "reports/summary.csv");
}

TEST_F(OutputPathsTest, PickingADriveMovesTheViewToItsRoot) {
  StartedWindow();
  ASSERT_EQ(Drive1().itemText(0).toStdString(), "/");
  // A file system mounted on dir/archive.
  Drive1().addItem(QString::fromStdString(dir / "archive"));
  const int archive = Drive1().count() - 1;
  Drive1().setCurrentIndex(archive);
  emit Drive1().activated(archive);
  EXPECT_EQ(Dir1().Path().toStdString(), dir / "archive");
  EXPECT_EQ(Text("Text2"), dir / "archive/fullacct.csv");
  EXPECT_EQ(Text("Text3"), dir / "archive/summary.csv");
  EXPECT_FALSE(window->FolderEndsInBackslash);

  Drive1().setCurrentIndex(0);
  emit Drive1().activated(0);
  EXPECT_EQ(Dir1().Path().toStdString(), "/");
  EXPECT_EQ(Text("Text2"), "/fullacct.csv");
  EXPECT_EQ(Text("Text3"), "/summary.csv");
  EXPECT_TRUE(window->FolderEndsInBackslash);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(OutputPathsTest, ADriveThatCannotBeReadShowsAMessageAndChangesNothing) {
  StartedWindow();
  const QString before = Drive1().Drive();
  Drive1().addItem(QString::fromStdString(dir / "unplugged"));
  const int unplugged = Drive1().count() - 1;
  Drive1().setCurrentIndex(unplugged);
  emit Drive1().activated(unplugged);

  EXPECT_EQ(boxes.Summaries(),
            std::vector<std::string>{"The Tollbook|warning|cannot open the folder " +
                                     (dir / "unplugged") + ": No such file or directory"});
  EXPECT_EQ(Drive1().Drive(), before);
  EXPECT_EQ(Dir1().Path().toStdString(), dir.Path());
  EXPECT_EQ(Text("Text2"), dir / "fullacct.csv");
}

TEST(RootHoldingTest, LongestRootThatHoldsThePath) {
  const QStringList roots{"/", "/srv", "/srv/data", "/media/usb"};
  struct Row {
    const char* path;
    const char* root;
  };
  const Row rows[] = {
      {"/", "/"},           {"/home/ann", "/"},      {"/srv", "/srv"},
      {"/srv/x", "/srv"},   {"/srvx", "/"},          {"/srv/data", "/srv/data"},
      {"/srv/data/y", "/srv/data"}, {"/media", "/"}, {"/media/usb/a/b", "/media/usb"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ui::RootHolding(roots, row.path).toStdString(), row.root) << row.path;
  }
}

TEST(MountedRootsTest, RootFirstThenFoldersWithoutDuplicates) {
  QStringList roots = ui::MountedRoots();
  ASSERT_FALSE(roots.isEmpty());
  EXPECT_EQ(roots.first().toStdString(), "/");
  EXPECT_EQ(roots.removeDuplicates(), 0);
}

}  // namespace
}  // namespace tollbook::testing
