#include "cli/terminal_front_end.h"

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

TerminalFrontEnd::TerminalFrontEnd(RunSettings settings, std::FILE* out, std::FILE* err,
                                   bool showProgress)
    : settings_(std::move(settings)), out_(out), err_(err), showProgress_(showProgress) {}

void TerminalFrontEnd::SetProgressCaption(std::string_view caption) {
  if (!showProgress_ || caption == progress_) return;
  progress_ = caption;
  Repaint(true);
}

void TerminalFrontEnd::SetCurrentCaption(std::string_view caption) {
  if (!showProgress_) return;
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
  Write(err_, "\x1b[K");
  std::fflush(err_);
  lineShown_ = true;
}

void TerminalFrontEnd::ClearLine() {
  if (!lineShown_) return;
  Write(err_, "\r\x1b[K");
  std::fflush(err_);
  lineShown_ = false;
}

void TerminalFrontEnd::ShowMessageBox(const MessageBoxRequest& box) {
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

}  // namespace tollbook::cli
