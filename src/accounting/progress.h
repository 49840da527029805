// Where a run shows its progress: the window's two progress labels, the
// command line's status line, or a test's recorder.
#pragma once

#include <string_view>

namespace tollbook {

class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  // The caption that names the phase (the window's lbProgress).
  virtual void SetProgressCaption(std::string_view caption) = 0;
  // The caption that shows the position (the window's lbcurrent); shown at
  // once. Front ends may coalesce repaints that come faster than the eye.
  virtual void SetCurrentCaption(std::string_view caption) = 0;
};

// Shows nothing.
class NoProgress : public ProgressDisplay {
 public:
  void SetProgressCaption(std::string_view) override {}
  void SetCurrentCaption(std::string_view) override {}
};

}  // namespace tollbook
