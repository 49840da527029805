// Helpers shared by the tests: temporary folders, whole-file reads and writes,
// and a front end that records what a run shows.
#pragma once

#include <string>
#include <vector>

#include "run/front_end.h"

namespace tollbook::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);

// text in single quotes, as one word for /bin/sh.
std::string ShellQuoted(const std::string& text);
// Runs the project's scripts/NAME with arguments (already quoted) and returns
// what it printed, standard error included. Throws std::runtime_error with
// that text when the script fails.
std::string RunProjectScript(const std::string& name, const std::string& arguments);

// A front end that answers with `settings` and records everything shown, in
// order, as text: "progress CAPTION", "current CAPTION", "box TITLE|ICON|TEXT",
// "busy on", "busy off", "failure MESSAGE".
class RecordingFrontEnd : public RunFrontEnd {
 public:
  RunSettings settings;
  std::vector<std::string> events;
  std::vector<MessageBoxRequest> boxes;
  std::vector<std::string> failures;
  bool recordPositions = true;  // record "current" captions

  RunSettings ReadSettings() override { return settings; }
  void SetProgressCaption(std::string_view caption) override;
  void SetCurrentCaption(std::string_view caption) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  void SetBusyPointer(bool busy) override;
  void ReportRunFailure(std::string_view message) override;
};

}  // namespace tollbook::testing
