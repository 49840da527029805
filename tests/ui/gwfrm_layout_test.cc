// The window's controls against the control table: kind, parent, caption,
// position and size, looks and focus order.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/directory_view.h"
#include "ui/drive_list.h"
#include "ui/trefoil_icon.h"
#include "ui_test_support.h"

namespace tollbook::testing {
namespace {

class GWfrmLayoutTest : public WindowTest {
 protected:
  // Twips to pixels at the screen's logical resolution.
  int Px(int twips) { return qRound(twips * Window().logicalDpiY() / 1440.0); }
};

struct ControlRow {
  const char* name;
  const char* kind;    // Qt class the control is (or derives from)
  const char* parent;  // object name of the parent widget
  const char* caption;
  int left, top, width, height;  // twips, from the client area's top left corner
};

const ControlRow kControls[] = {
    {"Frame2", "QGroupBox", "GWfrm", "Groupwise Connection Information", 120, 120, 5412, 972},
    {"Text1", "QLineEdit", "GWfrm", "", 240, 360, 5172, 285},
    {"tUserid", "QLineEdit", "GWfrm", "", 240, 720, 5172, 285},
    {"Frame3", "QGroupBox", "GWfrm", "Groupwise Target Folder", 120, 1320, 5412, 612},
    {"Combo1", "QComboBox", "GWfrm", "", 240, 1560, 5172, 288},
    {"Frame4", "QGroupBox", "GWfrm", "Output Files Location", 120, 2160, 3012, 2532},
    {"Drive1", "QComboBox", "GWfrm", nullptr, 240, 2400, 2772, 288},
    {"Dir1", "QListWidget", "GWfrm", nullptr, 240, 2760, 2772, 1800},
    {"Frame1", "QGroupBox", "GWfrm", "Options", 3240, 2160, 2292, 2532},
    {"Check1", "QCheckBox", "GWfrm", "Delete message once processed", 3360, 2400, 2055, 495},
    {"Check2", "QCheckBox", "GWfrm", "Cleanup Temp Files", 3360, 3000, 2055, 495},
    {"Check3", "QCheckBox", "GWfrm", "Generate Summary Report", 3360, 3480, 2055, 615},
    {"Frame5", "QGroupBox", "GWfrm", "Output Files", 120, 4920, 5412, 972},
    {"Text2", "QLineEdit", "Frame5", "", 240, 5160, 5172, 288},
    {"Text3", "QLineEdit", "Frame5", "", 240, 5520, 5172, 288},
    {"Label5", "QLabel", "GWfrm", "Tollbook", 3960, 6000, 1572, 612},
    {"Command4", "QPushButton", "GWfrm", "GO", 180, 6120, 1452, 375},
    {"lbProgress", "QLabel", "GWfrm", "", 2040, 6120, 1572, 252},
    {"lbcurrent", "QLabel", "GWfrm", "", 2040, 6360, 1572, 252},
    {"Command1", "QPushButton", "GWfrm", "Close", 180, 6600, 1452, 375},
    {"Label1", "QLabel", "GWfrm", "v4 for GW 5.x", 4200, 6720, 1092, 252},
};

QString Caption(const QWidget* control) {
  if (auto* frame = qobject_cast<const QGroupBox*>(control)) return frame->title();
  if (auto* box = qobject_cast<const QLineEdit*>(control)) return box->text();
  if (auto* combo = qobject_cast<const QComboBox*>(control)) return combo->currentText();
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  return {};
}

TEST_F(GWfrmLayoutTest, EveryControlHasItsKindParentCaptionAndPlace) {
  const ui::GWfrm& window = Window();
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    auto* control = Find<QWidget>(window, row.name);
    if (control == nullptr) continue;
    EXPECT_TRUE(control->inherits(row.kind)) << control->metaObject()->className();
    EXPECT_EQ(control->parentWidget()->objectName().toStdString(), row.parent);
    if (row.caption != nullptr) {
      EXPECT_EQ(Caption(control).toStdString(), row.caption);
    }
    const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
    EXPECT_EQ(inWindow, QRect(Px(row.left), Px(row.top), Px(row.width), Px(row.height)));
  }
}

TEST_F(GWfrmLayoutTest, WindowHasFixedClientAreaCaptionAndIcon) {
  const ui::GWfrm& window = Window();
  EXPECT_EQ(window.windowTitle().toStdString(), "Tollbook");
  EXPECT_EQ(window.minimumSize(), QSize(Px(5712), Px(7092)));
  EXPECT_EQ(window.maximumSize(), QSize(Px(5712), Px(7092)));
  const QList<QSize> sizes = window.windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

TEST_F(GWfrmLayoutTest, TextBoxesAreWhiteOnDarkTeal) {
  for (const char* name : {"Text1", "tUserid", "Text2", "Text3"}) {
    SCOPED_TRACE(name);
    const QPalette colours = Find<QLineEdit>(Window(), name)->palette();
    EXPECT_EQ(colours.color(QPalette::Active, QPalette::Base), QColor(0, 64, 64));
    EXPECT_EQ(colours.color(QPalette::Active, QPalette::Text), QColor(Qt::white));
  }
}

TEST_F(GWfrmLayoutTest, ButtonsAndTitleAreBold) {
  struct Row {
    const char* name;
    qreal points;
  };
  for (const Row& row : {Row{"Command4", 7.8}, Row{"Command1", 7.8}, Row{"Label5", 12}}) {
    SCOPED_TRACE(row.name);
    const QFont font = Find<QWidget>(Window(), row.name)->font();
    EXPECT_TRUE(font.bold());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), row.points);
  }
  EXPECT_FALSE(Find<QWidget>(Window(), "Label1")->font().bold());
}

TEST_F(GWfrmLayoutTest, InitialStateOfOptionsListsAndTimer) {
  const ui::GWfrm& window = Window();
  for (const char* name : {"Check1", "Check2", "Check3"}) {
    EXPECT_FALSE(Find<QCheckBox>(window, name)->isChecked()) << name;
  }
  EXPECT_TRUE(Find<QLineEdit>(window, "Text3")->isHidden());
  EXPECT_FALSE(Find<QLineEdit>(window, "Text2")->isHidden());
  EXPECT_EQ(Find<QComboBox>(window, "Combo1")->currentIndex(), -1);
  auto* timer = Find<QTimer>(window, "Timer1");
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(Find<ui::DirectoryView>(window, "Dir1")->Path().toStdString(), dir.Path());
  EXPECT_EQ(Find<ui::DriveList>(window, "Drive1")->itemText(0).toStdString(), "/");
}

TEST_F(GWfrmLayoutTest, FocusFollowsTheTabOrderFromText1) {
  ui::GWfrm& window = StartedWindow();
  window.show();
  const std::vector<std::string> expected = {"Text1",  "Command4", "tUserid", "Drive1",
                                             "Dir1",   "Combo1",   "Command1", "Check1",
                                             "Check2", "Check3",   "Text2",    "Text3"};
  ASSERT_NE(window.focusWidget(), nullptr);
  EXPECT_EQ(window.focusWidget()->objectName().toStdString(), "Text1");

  std::vector<std::string> order;
  QWidget* control = Find<QWidget>(window, "Text1");
  do {
    const std::string name = control->objectName().toStdString();
    if (control->focusPolicy() & Qt::TabFocus && !name.empty() && !name.starts_with("qt_")) {
      order.push_back(name);
    }
    control = control->nextInFocusChain();
  } while (control != Find<QWidget>(window, "Text1") && order.size() < 40);
  EXPECT_EQ(order, expected);
  for (const char* name : {"Frame2", "Label5", "lbProgress", "lbcurrent", "Label1"}) {
    EXPECT_EQ(Find<QWidget>(window, name)->focusPolicy(), Qt::NoFocus) << name;
  }
}

TEST(TrefoilIconTest, YellowBladesOnTransparentGround) {
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    const QImage image = ui::TrefoilImage(size);
    EXPECT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0);
    // The middle of the top blade.
    EXPECT_EQ(QColor(image.pixel(size / 2, size * 3 / 10)), QColor(255, 255, 0));
  }
}

}  // namespace
}  // namespace tollbook::testing
