// Runs a built program as a child process and captures what it prints.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tollbook::testing {

struct ProgramResult {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs program with args, standard input from /dev/null, in directory (empty:
// this process's), with environment applied on top of this process's (a value
// sets the variable, nullopt removes it; TOLLBOOK_LEDGER is "off" unless this
// process or environment sets it). Reports a test failure when the
// program does not run to an exit.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory = {},
                         const std::map<std::string, std::optional<std::string>>& environment = {});

}  // namespace tollbook::testing
