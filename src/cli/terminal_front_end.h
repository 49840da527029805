// The command line as a run's front end: message boxes become lines on
// standard output, progress one updating line on a terminal, failures
// "tollbook-cli: <what failed>: <why>" on standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "run/front_end.h"

namespace tollbook::cli {

// How the front end writes.
struct TerminalStyle {
  bool showProgress = false;  // err is a terminal: progress as one updating line
  bool escapes = true;        // the terminal clears a line's end with ESC [ K (not TERM=dumb)
  bool quiet = false;         // no boxes on out, no progress (failures still go to err)
  bool verbose = false;       // Trace() steps go to err, one line each
};

// The style for err: progress when it is a terminal, escapes unless $TERM is
// "dumb" or unset.
TerminalStyle TerminalStyleFor(std::FILE* err);

class TerminalFrontEnd : public RunFrontEnd {
 public:
  // Writes boxes to out and progress, steps and failures to err.
  TerminalFrontEnd(RunSettings settings, std::FILE* out, std::FILE* err, TerminalStyle style);

  RunSettings ReadSettings() override { return settings_; }
  void SetProgressCaption(std::string_view caption) override;
  // Repaints at most ten times a second, and at once when the line empties.
  void SetCurrentCaption(std::string_view caption) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  void SetBusyPointer(bool) override {}
  void ReportRunFailure(std::string_view message) override;
  // True once a stop signal came (InstallStopSignals).
  bool StopRequested() override;
  bool Tracing() override { return style_.verbose; }
  void Trace(std::string_view step) override;

 private:
  void Repaint(bool force);
  void ClearLine();

  RunSettings settings_;
  std::FILE* out_;
  std::FILE* err_;
  TerminalStyle style_;
  std::size_t shownWidth_ = 0;  // the length of the progress line on screen
  std::string progress_;
  std::string current_;
  std::string line_;
  bool lineShown_ = false;
  std::chrono::steady_clock::time_point lastRepaint_{};
};

// Prints "tollbook-cli: message" on err.
void PrintError(std::FILE* err, std::string_view message);

// Prints "tollbook-cli: step" on err when verbose is set; for the steps of
// start-up, before there is a front end.
void PrintStep(std::FILE* err, std::string_view step);

}  // namespace tollbook::cli
