#include "mail/imap/dovecot_server.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace tollbook::testing {
namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the script with arguments; returns its standard output. Throws with its
// error output when it fails.
std::string RunScript(const std::string& arguments) {
  const std::string command =
      Quote(std::string(TOLLBOOK_SOURCE_DIR) + "/scripts/test-dovecot") + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error("test-dovecot " + arguments + " failed: " + output);
  return output;
}

}  // namespace

bool DovecotServer::Available() {
  for (const char* path : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"}) {
    if (::access(path, X_OK) == 0) return true;
  }
  return std::system("command -v dovecot >/dev/null 2>&1") == 0;
}

DovecotServer::DovecotServer(std::vector<std::string> users) {
  std::string arguments = "start " + Quote(dir_.Path());
  for (const auto& user : users) arguments += " " + Quote(user);
  // The ports are the last line; a warning may come before it.
  const std::string output = RunScript(arguments);
  std::istringstream lines(output);
  bool found = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream ports(line);
    int imap = 0, imaps = 0;
    std::string rest;
    if (ports >> imap >> imaps && !(ports >> rest)) {
      imapPort_ = imap;
      imapsPort_ = imaps;
      found = true;
    }
  }
  if (!found) throw std::runtime_error("test-dovecot printed no ports: " + output);
  running_ = true;
}

DovecotServer::~DovecotServer() {
  try {
    Stop();
  } catch (const std::exception&) {
    // Stopping is best effort at the end of a test.
  }
}

void DovecotServer::Stop() {
  if (!running_) return;
  running_ = false;
  RunScript("stop " + Quote(dir_.Path()));
}

void DovecotServer::Fill(const std::string& user, const std::string& maildir) {
  RunScript("fill " + Quote(dir_.Path()) + " " + Quote(user) + " " + Quote(maildir));
}

}  // namespace tollbook::testing
