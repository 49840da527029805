// The controls of GWfrm: kinds, names, captions, fonts, colours, the fixed
// layout in twips and the focus order.
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/directory_view.h"
#include "ui/drive_list.h"
#include "ui/gwfrm.h"
#include "ui/trefoil_icon.h"
#include "ui/wrapping_check_box.h"

namespace tollbook::ui {
namespace {

// "MS Sans Serif" where the machine has it, else the platform's sans-serif,
// narrowed to about MS Sans Serif's width so the captions fit their controls.
QFont SansSerif(qreal points, bool bold) {
  const bool original = QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"));
  QFont font(original ? QStringLiteral("MS Sans Serif")
                      : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  font.setStyleHint(QFont::SansSerif);
  if (!original) font.setStretch(QFont::SemiCondensed);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

template <typename Control>
Control* Named(Control* control, const char* name) {
  control->setObjectName(QString::fromLatin1(name));
  return control;
}

QLineEdit* TextBox(QWidget* parent, const char* name) {
  auto* box = Named(new QLineEdit(parent), name);
  QPalette colours = box->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, QColor(0, 64, 64));
    colours.setColor(group, QPalette::Text, Qt::white);
  }
  box->setPalette(colours);
  return box;
}

}  // namespace

void GWfrm::CreateControls() {
  const qreal dpi = logicalDpiY();
  auto px = [dpi](int twips) { return qRound(twips * dpi / 1440.0); };
  // left, top, width and height in twips from the top left corner of parent.
  auto place = [&px](QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(px(left), px(top), px(width), px(height));
  };

  setWindowTitle(QStringLiteral("Tollbook"));
  setWindowIcon(TrefoilIcon());
  setFont(SansSerif(8.25, false));
  setFixedSize(px(5712), px(7092));

  // The frames first, so the controls placed over them lie on top.
  Frame2 = Named(new QGroupBox(QStringLiteral("Groupwise Connection Information"), this), "Frame2");
  Frame3 = Named(new QGroupBox(QStringLiteral("Groupwise Target Folder"), this), "Frame3");
  Frame4 = Named(new QGroupBox(QStringLiteral("Output Files Location"), this), "Frame4");
  Frame1 = Named(new QGroupBox(QStringLiteral("Options"), this), "Frame1");
  Frame5 = Named(new QGroupBox(QStringLiteral("Output Files"), this), "Frame5");
  place(Frame2, 120, 120, 5412, 972);
  place(Frame3, 120, 1320, 5412, 612);
  place(Frame4, 120, 2160, 3012, 2532);
  place(Frame1, 3240, 2160, 2292, 2532);
  place(Frame5, 120, 4920, 5412, 972);

  Text1 = TextBox(this, "Text1");
  tUserid = TextBox(this, "tUserid");
  Text1->setReadOnly(true);
  tUserid->setReadOnly(true);
  place(Text1, 240, 360, 5172, 285);
  place(tUserid, 240, 720, 5172, 285);

  Combo1 = Named(new QComboBox(this), "Combo1");
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);
  Combo1->setCompleter(nullptr);
  place(Combo1, 240, 1560, 5172, 288);

  Drive1 = Named(new DriveList(MountedRoots(), this), "Drive1");
  Dir1 = Named(new DirectoryView(this), "Dir1");
  place(Drive1, 240, 2400, 2772, 288);
  place(Dir1, 240, 2760, 2772, 1800);

  Check1 = Named(new WrappingCheckBox(QStringLiteral("Delete message once processed"), this),
                 "Check1");
  Check2 = Named(new WrappingCheckBox(QStringLiteral("Cleanup Temp Files"), this), "Check2");
  Check3 = Named(new WrappingCheckBox(QStringLiteral("Generate Summary Report"), this), "Check3");
  place(Check1, 3360, 2400, 2055, 495);
  place(Check2, 3360, 3000, 2055, 495);
  place(Check3, 3360, 3480, 2055, 615);

  // Text2 and Text3 belong to Frame5 and sit relative to it.
  Text2 = TextBox(Frame5, "Text2");
  Text3 = TextBox(Frame5, "Text3");
  place(Text2, 240 - 120, 5160 - 4920, 5172, 288);
  place(Text3, 240 - 120, 5520 - 4920, 5172, 288);
  Text3->setVisible(false);

  Label5 = Named(new QLabel(QStringLiteral("Tollbook"), this), "Label5");
  Label5->setFont(SansSerif(12, true));
  place(Label5, 3960, 6000, 1572, 612);

  const QFont buttonFont = SansSerif(7.8, true);
  Command4 = Named(new QPushButton(QStringLiteral("GO"), this), "Command4");
  Command1 = Named(new QPushButton(QStringLiteral("Close"), this), "Command1");
  Command4->setFont(buttonFont);
  Command1->setFont(buttonFont);
  place(Command4, 180, 6120, 1452, 375);
  place(Command1, 180, 6600, 1452, 375);

  lbProgress = Named(new QLabel(this), "lbProgress");
  lbcurrent = Named(new QLabel(this), "lbcurrent");
  Label1 = Named(new QLabel(QStringLiteral("v4 for GW 5.x"), this), "Label1");
  for (QLabel* label : {Label5, lbProgress, lbcurrent, Label1}) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  place(lbProgress, 2040, 6120, 1572, 252);
  place(lbcurrent, 2040, 6360, 1572, 252);
  place(Label1, 4200, 6720, 1092, 252);

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(500);
  Timer1->start();
}

void GWfrm::SetFocusOrder() {
  const QList<QWidget*> order{Text1,   Command4, tUserid, Drive1, Dir1,  Combo1,
                              Command1, Check1,  Check2,  Check3, Text2, Text3};
  for (QWidget* control : order) control->setFocusPolicy(Qt::StrongFocus);
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  Text1->setFocus();
}

}  // namespace tollbook::ui
