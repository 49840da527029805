#include "support/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/test_support.h"

namespace tollbook::testing {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory,
                         const std::map<std::string, std::optional<std::string>>& environment,
                         OutputTo output) {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  int pipeEnds[2] = {-1, -1};
  if (output == OutputTo::kGonePipe) {
    // The reader is closed before the child starts: no write can ever land.
    if (::pipe(pipeEnds) != 0) {
      ADD_FAILURE() << "pipe failed";
      return {};
    }
    ::close(pipeEnds[0]);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(120);
    // Never the real ledger in the home folder: a test that wants one names it.
    ::setenv("TOLLBOOK_LEDGER", "off", 0);
    for (const auto& [name, value] : environment) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    int out = pipeEnds[1];
    if (output == OutputTo::kFullDevice) out = ::open("/dev/full", O_WRONLY);
    if (output == OutputTo::kCaptured || output == OutputTo::kClosed) {
      out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(121);
    ::signal(SIGPIPE, SIG_DFL);  // as a shell starts a program
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (output == OutputTo::kClosed) ::close(1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(122);
  }
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  ProgramResult result;
  int status = 0;
  const bool waited = child > 0 && ::waitpid(child, &status, 0) == child;
  if (waited && WIFSIGNALED(status) && output == OutputTo::kGonePipe) {
    result.signal = WTERMSIG(status);
  } else if (!waited || !WIFEXITED(status)) {
    ADD_FAILURE() << program << " did not run to an exit";
    return result;
  } else {
    result.status = WEXITSTATUS(status);
  }
  if (output == OutputTo::kCaptured) result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

}  // namespace tollbook::testing
