#include "cli/terminal_front_end.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "cli/stop_signals.h"

namespace tollbook::cli {
namespace {

constexpr auto kRepaintInterval = std::chrono::milliseconds(100);

void Write(std::FILE* file, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), file);
}

}  // namespace

void PrintError(std::FILE* err, std::string_view message) {
  Write(err, "tollbook-cli: ");
  Write(err, message);
  Write(err, "\n");
  std::fflush(err);
}

void PrintStep(std::FILE* err, std::string_view step) { PrintError(err, step); }

TerminalStyle TerminalStyleFor(std::FILE* err) {
  TerminalStyle style;
  style.showProgress = ::isatty(::fileno(err)) == 1;
  const char* term = std::getenv("TERM");
  style.escapes = term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
  return style;
}

TerminalFrontEnd::TerminalFrontEnd(RunSettings settings, std::FILE* out, std::FILE* err,
                                   TerminalStyle style)
    : settings_(std::move(settings)), out_(out), err_(err), style_(style) {
  if (style_.quiet) style_.showProgress = false;
}

void TerminalFrontEnd::SetProgressCaption(std::string_view caption) {
  if (!style_.showProgress || caption == progress_) return;
  progress_ = caption;
  Repaint(true);
}

void TerminalFrontEnd::SetCurrentCaption(std::string_view caption) {
  if (!style_.showProgress) return;
  current_ = caption;
  Repaint(current_.empty());
}

void TerminalFrontEnd::Repaint(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastRepaint_ < kRepaintInterval) {
    return;
  }
  lastRepaint_ = now;
  line_ = progress_;
  if (!progress_.empty() && !current_.empty()) line_ += ' ';
  line_ += current_;
  if (line_.empty()) {
    ClearLine();
    return;
  }
  Write(err_, "\r");
  Write(err_, line_);
  if (style_.escapes) {
    Write(err_, "\x1b[K");
  } else if (shownWidth_ > line_.size()) {
    // Blanks over the rest of the longer line before, and back.
    const std::string blanks(shownWidth_ - line_.size(), ' ');
    Write(err_, blanks);
    Write(err_, "\r");
    Write(err_, line_);
  }
  shownWidth_ = line_.size();
  std::fflush(err_);
  lineShown_ = true;
}

void TerminalFrontEnd::ClearLine() {
  if (!lineShown_) return;
  if (style_.escapes) {
    Write(err_, "\r\x1b[K");
  } else {
    Write(err_, "\r" + std::string(shownWidth_, ' ') + "\r");
  }
  std::fflush(err_);
  lineShown_ = false;
  shownWidth_ = 0;
}

void TerminalFrontEnd::ShowMessageBox(const MessageBoxRequest& box) {
  if (style_.quiet) return;
  ClearLine();
  Write(out_, box.text);
  Write(out_, "\n");
  std::fflush(out_);
}

bool TerminalFrontEnd::StopRequested() { return StopSignal() != 0; }

void TerminalFrontEnd::ReportRunFailure(std::string_view message) {
  ClearLine();
  PrintError(err_, message);
}

void TerminalFrontEnd::Trace(std::string_view step) {
  if (!style_.verbose) return;
  ClearLine();
  PrintStep(err_, step);
  if (!line_.empty() && style_.showProgress) Repaint(true);
}

}  // namespace tollbook::cli
