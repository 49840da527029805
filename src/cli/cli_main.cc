// tollbook-cli: one processing run from the command line, the same run as the
// window's, for scripts, cron and machines without a display.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "accounting/run_state.h"
#include "cli/cli_options.h"
#include "cli/terminal_front_end.h"
#include "run/processing_run.h"
#include "run/start_up.h"

namespace tollbook::cli {
namespace {

enum ExitStatus { kCompleted = 0, kRunFailed = 1, kBadUsage = 2, kNoAccount = 3 };

int UsageFailure(const std::string& message) {
  PrintError(stderr, message);
  std::fputs("Try 'tollbook-cli --help'.\n", stderr);
  return kBadUsage;
}

std::string CurrentDirectory() {
  std::string path(4096, '\0');
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    path.resize(path.size() * 2);
  }
  path.resize(path.find('\0'));
  return path;
}

RunSettings SettingsFrom(const CliOptions& options, int folderPosition) {
  RunSettings settings;
  settings.outputFolder = options.outputFolder ? *options.outputFolder : CurrentDirectory();
  settings.folderEndsInSeparator = settings.outputFolder.back() == '/';
  settings.fullAccountingPath = options.fullFile
                                    ? *options.fullFile
                                    : OutputFilePath(settings.outputFolder, "fullacct.csv");
  settings.summaryPath = options.summaryFile
                             ? *options.summaryFile
                             : OutputFilePath(settings.outputFolder, "summary.csv");
  settings.folderIndex = folderPosition > 0 ? folderPosition : -1;
  settings.deleteMessages = options.deleteMessages;
  settings.cleanupTempFiles = options.cleanup;
  settings.generateSummary = options.summary;
  return settings;
}

int Main(int argc, char** argv) {
  CliOptions options;
  try {
    options = ParseCliOptions(argc, argv);
  } catch (const UsageError& e) {
    return UsageFailure(e.what());
  }
  if (options.help) {
    std::fputs(kUsage.data(), stdout);
    return kCompleted;
  }
  if (options.version) {
    std::printf("tollbook-cli %s\n", TOLLBOOK_VERSION);
    return kCompleted;
  }

  // Start-up: the error route covers the session and the log-in.
  OpenedAccount opened;
  try {
    opened = OpenAccount(options.mailbox.value_or(""), options.ledger);
  } catch (const std::exception& e) {
    std::printf("%s\n", kStartUpFailureText.data());
    std::fflush(stdout);
    PrintError(stderr, e.what());
    return kNoAccount;
  }

  std::vector<std::string> folders;
  try {
    folders = FolderNames(*opened.account);
  } catch (const std::exception& e) {
    PrintError(stderr, std::string("cannot read the folder list: ") + e.what());
    return kRunFailed;
  }
  if (options.listFolders) {
    for (const auto& name : folders) std::printf("%s\n", name.c_str());
    return kCompleted;
  }
  if (opened.mailboxIsLedger && options.deleteMessages) {
    return UsageFailure("--delete: the mailbox " + opened.mailbox +
                        " is a ledger, which is read-only; run without --delete");
  }

  int folderPosition = 0;
  if (options.folder) {
    folderPosition = FindFolderPosition(folders, *options.folder);
    if (folderPosition == 0) {
      std::string message = "--folder: there is no folder named \"" + *options.folder +
                            "\"; the folders are:";
      for (const auto& name : folders) message += "\n  " + name;
      return UsageFailure(message);
    }
  }

  RunState state;
  TerminalFrontEnd frontEnd(SettingsFrom(options, folderPosition), stdout, stderr,
                            ::isatty(STDERR_FILENO) == 1);
  const auto recorder = opened.CreateRecorder();
  return RunProcessing(state, *opened.account, frontEnd, nullptr, recorder.get()) == RunOutcome::kCompleted
             ? kCompleted
             : kRunFailed;
}

}  // namespace
}  // namespace tollbook::cli

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  return tollbook::cli::Main(argc, argv);
}
