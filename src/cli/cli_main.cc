// tollbook-cli: one processing run from the command line, the same run as the
// window's, for scripts, cron and machines without a display.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "accounting/run_state.h"
#include "base/standard_streams.h"
#include "cli/cli_options.h"
#include "cli/stop_signals.h"
#include "cli/terminal_front_end.h"
#include "run/dry_run.h"
#include "run/output_paths.h"
#include "run/processing_run.h"
#include "run/start_up.h"

namespace tollbook::cli {
namespace {

enum ExitStatus { kCompleted = 0, kRunFailed = 1, kBadUsage = 2, kNoAccount = 3 };

// --version, in the form GNU programs print it.
constexpr const char* kVersionText =
    "tollbook-cli (Tollbook) " TOLLBOOK_VERSION "\n"
    "Copyright (C) 2026 The Tollbook developers\n"
    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

int UsageFailure(const std::string& message) {
  return ReportUsageError(stderr, "tollbook-cli", message);
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
  if (options.report) settings.reportPath = *options.report;
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
    std::fputs(kVersionText, stdout);
    return kCompleted;
  }

  // Start-up: the error route covers the session and the log-in, whatever the
  // grade of the failure (a refused log-in, an unreachable server, a netrc
  // that cannot be read): the program cannot go on without an account. A
  // location or setting that cannot be used as written is bad usage.
  StartUpOptions startUp;
  startUp.passwordCommand = options.passwordCommand;
  startUp.ledgerChoice = options.ledger;
  if (options.verbose) startUp.trace = [](std::string_view step) { PrintStep(stderr, step); };
  startUp.warn = [](std::string_view text) { PrintError(stderr, text); };
  OpenedAccount opened;
  try {
    opened = OpenAccount(options.mailbox.value_or(""), startUp);
  } catch (const mail::SettingError& e) {
    return UsageFailure(e.what());
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
      try {
        folderPosition =
            FindPrefixedFolderPosition(folders, *options.folder, opened.account->FolderPrefix());
      } catch (const std::exception& e) {
        PrintError(stderr, e.what());
        return kRunFailed;
      }
    }
    if (folderPosition == 0) {
      std::string message = "--folder: there is no folder named \"" + *options.folder +
                            "\"; the folders are:";
      for (const auto& name : folders) message += "\n  " + name;
      return UsageFailure(message);
    }
  }

  if (options.dryRun) {
    std::string step;
    try {
      DryRun(*opened.account, folderPosition > 0 ? folderPosition : -1, options.deleteMessages,
             std::cout, &step);
    } catch (const std::exception& e) {
      std::cout.flush();
      PrintError(stderr, step + ": " + e.what());
      return kRunFailed;
    }
    return kCompleted;
  }

  RunState state;
  TerminalStyle style = TerminalStyleFor(stderr);
  style.quiet = options.quiet;
  style.verbose = options.verbose;
  RunSettings settings = SettingsFrom(options, folderPosition);
  settings.mailboxName = opened.mailbox;
  TerminalFrontEnd frontEnd(std::move(settings), stdout, stderr, style);
  if (StopSignal() != 0) {
    PrintError(stderr, "interrupted before the run started; nothing was written");
    return 128 + StopSignal();
  }
  RunCounts counts;
  const auto recorder = opened.CreateRecorder();
  switch (RunProcessing(state, *opened.account, frontEnd, &counts, recorder.get())) {
    case RunOutcome::kCompleted:
      return kCompleted;
    case RunOutcome::kFailed:
      return kRunFailed;
    case RunOutcome::kStopped:
      break;
  }
  PrintError(stderr, "interrupted after " + std::to_string(counts.accountingFiles) +
                         " accounting files; fullacct.csv holds their lines");
  return 128 + StopSignal();
}

}  // namespace
}  // namespace tollbook::cli

int main(int argc, char** argv) {
  tollbook::GuardStandardStreams();
  std::signal(SIGPIPE, SIG_IGN);
  tollbook::cli::InstallStopSignals();
  return tollbook::FinishStandardStreams("tollbook-cli", tollbook::cli::Main(argc, argv));
}
