// The command line as a run's front end: message boxes become lines on
// standard output, progress one updating line on a terminal, failures
// "tollbook-cli: <what failed>: <why>" on standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "run/front_end.h"

namespace tollbook::cli {

class TerminalFrontEnd : public RunFrontEnd {
 public:
  // Writes boxes to out and progress and failures to err. showProgress is set
  // when err is a terminal; without it no progress is written at all.
  TerminalFrontEnd(RunSettings settings, std::FILE* out, std::FILE* err, bool showProgress);

  RunSettings ReadSettings() override { return settings_; }
  void SetProgressCaption(std::string_view caption) override;
  // Repaints at most ten times a second, and at once when the line empties.
  void SetCurrentCaption(std::string_view caption) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  void SetBusyPointer(bool) override {}
  void ReportRunFailure(std::string_view message) override;
  // True once a stop signal came (InstallStopSignals).
  bool StopRequested() override;

 private:
  void Repaint(bool force);
  void ClearLine();

  RunSettings settings_;
  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  std::string progress_;
  std::string current_;
  std::string line_;
  bool lineShown_ = false;
  std::chrono::steady_clock::time_point lastRepaint_{};
};

// Prints "tollbook-cli: message" on err.
void PrintError(std::FILE* err, std::string_view message);

}  // namespace tollbook::cli
