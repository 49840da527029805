// What a processing run needs of its front end (the window, the command line,
// a test): the settings of the controls, the progress captions, message boxes
// and the busy pointer.
#pragma once

#include <string>
#include <string_view>

#include "accounting/progress.h"

namespace tollbook {

// The settings a run reads from the window's controls.
struct RunSettings {
  std::string fullAccountingPath;      // Text2
  std::string summaryPath;             // Text3
  int folderIndex = -1;                // Combo1's list index: -1 none, 0 "<Select Folder>"
  std::string outputFolder;            // Dir1's current path: where scratch files go
  bool folderEndsInSeparator = false;  // FolderEndsInBackslash: outputFolder ends in "/"
  bool deleteMessages = false;         // Check1 "Delete message once processed"
  bool cleanupTempFiles = false;       // Check2 "Cleanup Temp Files"
  bool generateSummary = false;        // Check3 "Generate Summary Report"
  std::string reportPath;              // the HTML report; empty: none is written
  std::string mailboxName;             // the mailbox as the report names it (no password)
};

enum class MessageIcon { kNone, kInformation, kWarning, kCritical };

// The application's title, shown by a message box that has no title of its own.
inline constexpr std::string_view kApplicationTitle = "The Tollbook";

// A modal message box with an OK button.
struct MessageBoxRequest {
  std::string text;
  MessageIcon icon = MessageIcon::kNone;
  std::string title;  // empty: the application's title
};

class RunFrontEnd : public ProgressDisplay {
 public:
  // The settings of the controls, read once when the run starts.
  virtual RunSettings ReadSettings() = 0;
  // Shows a modal message box and returns when the user has closed it.
  virtual void ShowMessageBox(const MessageBoxRequest& box) = 0;
  // The busy pointer (arrow with hourglass) while busy, else the default one.
  virtual void SetBusyPointer(bool busy) = 0;
  // A run failed: message names the step and the cause, e.g.
  // "cannot write /srv/fullacct.csv: No space left on device".
  virtual void ReportRunFailure(std::string_view message) = 0;
  // Asked between messages: true ends the walk at that point, with every
  // handled file whole (the command line on SIGINT, the window on close).
  virtual bool StopRequested() { return false; }
  // Whether someone follows the run step by step (tollbook-cli --verbose);
  // when not, the run builds no text for Trace().
  virtual bool Tracing() { return false; }
  // One step of the run: "opened the folder Accounting: 200 messages". Never
  // a password or a message's content.
  virtual void Trace(std::string_view /*step*/) {}
};

}  // namespace tollbook
