// GWfrm: the program's one window. It shows the mail connection, the folder
// list, the output folder, the options and the output file paths, starts a
// processing run with "GO" and shows the run's progress and messages.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "accounting/run_state.h"
#include "mail/mail_source.h"
#include "run/front_end.h"
#include "run/start_up.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tollbook::ui {

class DirectoryView;
class DriveList;
class MessageBoxes;

// Creates the mail session and logs in. Throws when either fails.
using AccountOpener = std::function<OpenedAccount()>;

class GWfrm : public QWidget, public RunFrontEnd {
  Q_OBJECT

 public:
  // openAccount is called by Form_Load, and again by GO when the connection
  // to the mailbox was lost. Boxes are shown through boxes,
  // which must outlive the window. The directory view starts at
  // startDirectory (absolute). The run state's tables are allocated here.
  GWfrm(AccountOpener openAccount, MessageBoxes& boxes, const QString& startDirectory,
        QWidget* parent = nullptr);
  ~GWfrm() override;

  // Start-up: opens the session and logs in, fills the connection fields and
  // the folder list and sets the default output paths. Returns false when the
  // log-in failed or the account could not be read; the box saying so has
  // then been shown and the window must not be shown.
  bool Form_Load();

  void Check3_Click();
  void Command1_Click();
  void Command4_Click();
  void Dir1_Change();
  void Drive1_Change();
  void Timer1_Timer();

  // Kept in step with Dir1's path: true when it ends in "/" (the root).
  bool FolderEndsInBackslash = false;

  // The run's front end: settings from the controls, captions, boxes, pointer.
  RunSettings ReadSettings() override;
  void SetProgressCaption(std::string_view caption) override;
  void SetCurrentCaption(std::string_view caption) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  void SetBusyPointer(bool busy) override;
  void ReportRunFailure(std::string_view message) override;
  // True once the window was asked to close during the run. Lets the window
  // take its events (not the user's clicks and keys) a few times a second
  // while the run works, so that a close reaches it.
  bool StopRequested() override;

 protected:
  // During a run: asks the run to stop and closes the window, and the
  // program, when the run has returned.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void SetFocusOrder();
  void ApplyOutputPathRule();
  void ShowBox(const MessageBoxRequest& request, const QString& detail = {});
  void ShowFolderError(const QString& message);
  void ShowAccount();
  void FillFolderList(const std::vector<std::string>& names);
  bool EnsureConnected();
  bool ResolveTypedFolder();

  AccountOpener openAccount_;
  MessageBoxes& boxes_;
  QString startDirectory_;

  std::unique_ptr<mail::Session> GwSession;
  std::unique_ptr<mail::Account> GwAccount;
  // What the account's runs record into, and whether it is itself a ledger.
  OpenedAccount recording_;
  RunState runState_;
  QElapsedTimer currentRepaintClock_;
  QElapsedTimer eventPollClock_;  // since the run last took the window's events
  bool running_ = false;
  bool closeDuringRun_ = false;

  QGroupBox* Frame2 = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* tUserid = nullptr;
  QGroupBox* Frame3 = nullptr;
  QComboBox* Combo1 = nullptr;
  QGroupBox* Frame4 = nullptr;
  DriveList* Drive1 = nullptr;
  DirectoryView* Dir1 = nullptr;
  QGroupBox* Frame1 = nullptr;
  QCheckBox* Check1 = nullptr;
  QCheckBox* Check2 = nullptr;
  QCheckBox* Check3 = nullptr;
  QGroupBox* Frame5 = nullptr;
  QLineEdit* Text2 = nullptr;
  QLineEdit* Text3 = nullptr;
  QLabel* Label5 = nullptr;
  QPushButton* Command4 = nullptr;
  QLabel* lbProgress = nullptr;
  QLabel* lbcurrent = nullptr;
  QPushButton* Command1 = nullptr;
  QLabel* Label1 = nullptr;
  QTimer* Timer1 = nullptr;
};

// Text1 while a lost connection is opened again, and after that failed.
inline constexpr std::string_view kReconnectingText = "Connecting again . . .";
inline constexpr std::string_view kNotConnectedText = "Not connected";

// Combo1's list index as the run reads it: the chosen entry, or -1 when none
// is chosen or the text field holds something other than the chosen entry.
int ListIndex(const QComboBox& combo);

}  // namespace tollbook::ui
