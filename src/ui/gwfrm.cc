#include "ui/gwfrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "base/text.h"
#include "run/output_paths.h"
#include "run/processing_run.h"
#include "ui/directory_view.h"
#include "ui/drive_list.h"
#include "ui/message_boxes.h"

namespace tollbook::ui {
namespace {

// How long lbcurrent may show a stale caption while a run works: the
// summaries change it for every record, faster than anyone can read.
constexpr qint64 kCurrentRepaintMs = 40;

// How often a run lets the window take its events (a close, repaints).
constexpr qint64 kEventPollMs = 100;

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromLocalPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

int ListIndex(const QComboBox& combo) {
  const int index = combo.currentIndex();
  if (index < 0) return -1;
  if (combo.isEditable() && combo.currentText() != combo.itemText(index)) return -1;
  return index;
}

GWfrm::GWfrm(AccountOpener openAccount, MessageBoxes& boxes, const QString& startDirectory,
             QWidget* parent)
    : QWidget(parent),
      openAccount_(std::move(openAccount)),
      boxes_(boxes),
      startDirectory_(startDirectory) {
  setObjectName(QStringLiteral("GWfrm"));
  CreateControls();
  SetFocusOrder();

  // The view starts in the start directory, or in the nearest folder above
  // it that can be read.
  for (QString path = startDirectory_;; path = path.left(path.lastIndexOf('/'))) {
    if (path.isEmpty()) path = QStringLiteral("/");
    if (Dir1->SetPath(path).isEmpty() || path == QLatin1String("/")) break;
  }
  Drive1->ShowDriveOf(Dir1->Path());

  connect(Check3, &QCheckBox::stateChanged, this, &GWfrm::Check3_Click);
  connect(Command1, &QPushButton::clicked, this, &GWfrm::Command1_Click);
  connect(Command4, &QPushButton::clicked, this, &GWfrm::Command4_Click);
  connect(Dir1, &DirectoryView::PathChanged, this, &GWfrm::Dir1_Change);
  connect(Dir1, &DirectoryView::OpenFailed, this, &GWfrm::ShowFolderError);
  connect(Drive1, &DriveList::DriveChosen, this, &GWfrm::Drive1_Change);
  connect(Timer1, &QTimer::timeout, this, &GWfrm::Timer1_Timer);
}

GWfrm::~GWfrm() = default;

bool GWfrm::Form_Load() {
  try {
    OpenedAccount opened = openAccount_();
    if (!opened.account) throw mail::LoginError("the log-in gave no account");
    GwSession = std::move(opened.session);
    GwAccount = std::move(opened.account);
    recording_ = std::move(opened);
  } catch (const std::exception& e) {
    ShowBox({std::string(kStartUpFailureText), MessageIcon::kCritical, ""},
            QString::fromStdString(e.what()));
    return false;
  }

  try {
    ShowAccount();
    FillFolderList(FolderNames(*GwAccount));
  } catch (const std::exception& e) {
    ShowBox({std::string("cannot read the mail account: ") + e.what(), MessageIcon::kCritical, ""});
    return false;
  }

  ApplyOutputPathRule();
  return true;
}

void GWfrm::Check3_Click() { Text3->setVisible(Check3->isChecked()); }

void GWfrm::Command1_Click() {
  close();
  QCoreApplication::quit();
}

void GWfrm::Command4_Click() {
  if (!GwAccount || running_) return;
  if (recording_.mailboxIsLedger && Check1->isChecked()) {
    ShowBox({"The mailbox " + recording_.mailbox +
                 " is a ledger, which is read-only: \"Delete message once processed\" cannot be used "
                 "with it.",
             MessageIcon::kWarning, ""});
    return;
  }
  if (!EnsureConnected() || !ResolveTypedFolder()) return;
  running_ = true;
  closeDuringRun_ = false;
  eventPollClock_.invalidate();
  const auto recorder = recording_.CreateRecorder();
  if (RunProcessing(runState_, *GwAccount, *this, nullptr, recorder.get()) == RunOutcome::kFailed &&
      !GwAccount->Connected()) {
    Text1->setText(QString::fromLatin1(kNotConnectedText));
  }
  running_ = false;
  if (closeDuringRun_) {
    close();
    QCoreApplication::quit();
  }
}

bool GWfrm::StopRequested() {
  // Events are first taken once the first file is shown, and then every
  // kEventPollMs: user input stays queued, so GO and Exit wait for the run.
  if (!closeDuringRun_ && !lbcurrent->text().isEmpty() &&
      (!eventPollClock_.isValid() || eventPollClock_.elapsed() >= kEventPollMs)) {
    eventPollClock_.start();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  return closeDuringRun_;
}

void GWfrm::closeEvent(QCloseEvent* event) {
  if (!running_) {
    QWidget::closeEvent(event);
    return;
  }
  closeDuringRun_ = true;
  event->ignore();
}

void GWfrm::ShowAccount() {
  Text1->setText(QString::fromLatin1(ConnectionModeText(*GwAccount)));
  tUserid->setText(QString::fromStdString(GwAccount->Owner()));
  const QString location = QString::fromStdString(GwAccount->Location());
  Text1->setToolTip(location);
  tUserid->setToolTip(location);
}

void GWfrm::FillFolderList(const std::vector<std::string>& names) {
  Combo1->clear();
  Combo1->clearEditText();
  Combo1->addItem(QStringLiteral("<Select Folder>"));
  for (const std::string& name : names) Combo1->addItem(QString::fromStdString(name));
  Combo1->setCurrentIndex(-1);
}

// A connection found lost is opened anew (a new log-in). Returns true when
// the run may go ahead: the connection is there and the folder list is the
// one Combo1 shows. A changed list is shown and the run left to the user.
bool GWfrm::EnsureConnected() {
  if (GwAccount->Connected()) return true;
  Text1->setText(QString::fromLatin1(kReconnectingText));
  Text1->repaint();
  std::vector<std::string> names;
  try {
    OpenedAccount opened = openAccount_();
    if (!opened.account) throw mail::LoginError("the log-in gave no account");
    names = FolderNames(*opened.account);
    GwAccount.reset();  // the old account goes before its session
    GwSession = std::move(opened.session);
    GwAccount = std::move(opened.account);
    recording_ = std::move(opened);
  } catch (const std::exception& e) {
    Text1->setText(QString::fromLatin1(kNotConnectedText));
    ShowBox({std::string("The connection to the mailbox was lost and cannot be opened again: ") + e.what(),
             MessageIcon::kCritical, ""});
    return false;
  }
  ShowAccount();
  std::vector<std::string> shown;
  for (int i = 1; i < Combo1->count(); ++i) shown.push_back(Combo1->itemText(i).toStdString());
  if (names == shown) return true;
  FillFolderList(names);
  ShowBox({"The connection to the mailbox was lost and has been opened again, and its folder list has "
           "changed. Choose the folder again and press GO.",
           MessageIcon::kWarning, ""});
  return false;
}

// Typed text in Combo1 chooses the entry it names (ASCII case ignored); text
// that names none is refused before anything is emptied. Empty text keeps
// its meaning: the mailbox.
bool GWfrm::ResolveTypedFolder() {
  const QString text = Combo1->currentText();
  if (text.isEmpty() || ListIndex(*Combo1) >= 0) return true;
  const std::string typed = text.toStdString();
  for (int i = 0; i < Combo1->count(); ++i) {
    if (EqualsIgnoreCase(Combo1->itemText(i).toStdString(), typed)) {
      Combo1->setCurrentIndex(i);
      Combo1->setEditText(Combo1->itemText(i));
      return true;
    }
  }
  ShowBox({"No folder named " + typed + ".", MessageIcon::kWarning, ""});
  return false;
}

void GWfrm::Dir1_Change() { ApplyOutputPathRule(); }

void GWfrm::Drive1_Change() {
  const QString message = Dir1->SetPath(Drive1->Drive());
  if (message.isEmpty()) return;
  Drive1->ShowDriveOf(Dir1->Path());
  ShowFolderError(message);
}

void GWfrm::Timer1_Timer() {}

void GWfrm::ApplyOutputPathRule() {
  const QString path = Dir1->Path();
  FolderEndsInBackslash = path.endsWith(QLatin1Char('/'));
  Text2->setText(FromLocalPath(OutputFilePath(LocalPath(path), "fullacct.csv")));
  Text3->setText(FromLocalPath(OutputFilePath(LocalPath(path), "summary.csv")));
}

RunSettings GWfrm::ReadSettings() {
  RunSettings settings;
  settings.fullAccountingPath = LocalPath(Text2->text());
  settings.summaryPath = LocalPath(Text3->text());
  settings.folderIndex = ListIndex(*Combo1);
  settings.outputFolder = LocalPath(Dir1->Path());
  settings.folderEndsInSeparator = FolderEndsInBackslash;
  settings.deleteMessages = Check1->isChecked();
  settings.cleanupTempFiles = Check2->isChecked();
  settings.generateSummary = Check3->isChecked();
  return settings;
}

void GWfrm::SetProgressCaption(std::string_view caption) {
  lbProgress->setText(QString::fromUtf8(caption.data(), qsizetype(caption.size())));
}

void GWfrm::SetCurrentCaption(std::string_view caption) {
  lbcurrent->setText(QString::fromUtf8(caption.data(), qsizetype(caption.size())));
  // Captions that come faster than the eye are painted by the next repaint
  // or, at the latest, when the run's closing message box shows.
  if (!currentRepaintClock_.isValid() || currentRepaintClock_.elapsed() >= kCurrentRepaintMs) {
    lbcurrent->repaint();
    currentRepaintClock_.start();
  }
}

void GWfrm::ShowMessageBox(const MessageBoxRequest& box) { ShowBox(box); }

void GWfrm::SetBusyPointer(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
  } else if (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void GWfrm::ReportRunFailure(std::string_view message) {
  ShowBox({"The run stopped: " + std::string(message), MessageIcon::kCritical, ""});
}

void GWfrm::ShowBox(const MessageBoxRequest& request, const QString& detail) {
  boxes_.Show(ToBoxContent(request, detail), isVisible() ? this : nullptr);
}

void GWfrm::ShowFolderError(const QString& message) {
  ShowBox({message.toStdString(), MessageIcon::kWarning, ""});
}

}  // namespace tollbook::ui
