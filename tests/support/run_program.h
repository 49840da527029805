// Runs a built program as a child process and captures what it prints.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tollbook::testing {

struct ProgramResult {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// Where a program's standard output goes.
enum class OutputTo {
  kCaptured,    // a file, read into ProgramResult::out
  kFullDevice,  // /dev/full: every write fails with ENOSPC
  kClosed,      // descriptor 1 closed
  kGonePipe,    // a pipe whose reader has gone: every write fails with EPIPE
};

// Runs program with args, standard input from /dev/null, in directory (empty:
// this process's), with environment applied on top of this process's (a value
// sets the variable, nullopt removes it; TOLLBOOK_LEDGER is "off" unless this
// process or environment sets it). Reports a test failure when the
// program does not run to an exit, unless its standard output is a gone pipe.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory = {},
                         const std::map<std::string, std::optional<std::string>>& environment = {},
                         OutputTo output = OutputTo::kCaptured);

}  // namespace tollbook::testing
